// TfrmURL: the link properties dialog, where a link's name and address are
// typed, and whether its page is loaded in a browser that runs its scripts. In add mode it creates a link, in modify mode it changes the name and
// address of the link named NomLien; either way it writes the link table of
// the TData it is given and saves it. Created for one use. GUI thread only.
#pragma once

#include <QDialog>
#include <string>

class QCheckBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class QShowEvent;

namespace veilex {

class TData;
class TWatchSettingsBox;

class TfrmURL : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmURL(TData& data, QWidget* parent = nullptr);
  ~TfrmURL() override;

  // True: add mode; false: modify mode. Set before showing.
  bool ModeAjout = true;
  // True once the link was written and saved; the table's cursor then stands
  // on its row.
  bool Conserve = false;
  // Modify mode: the stored name of the link edited. Add mode: the typed name.
  std::string NomLien;

  QLabel* lblNom;
  QLineEdit* edtNom;
  QLabel* URL;
  QLabel* Label2;
  QLineEdit* edtURL;
  // « Exécuter le JavaScript de la page »: the link's `javascript` field.
  QCheckBox* chkJavascript;
  QLabel* Label1;
  QLabel* Label3;
  QLineEdit* edtMaJOK;
  QLabel* Label4;
  QLineEdit* edtMaJ;
  QLabel* Label5;
  QLineEdit* edtEtat;
  // Shown when the page has moved: where to, and a button that puts the new
  // address in edtURL (stored only by Conserver).
  QLabel* lblDemenage;
  QPushButton* btnAdopter;
  // What of the page the link watches, « Tester », « Apprendre le bruit ».
  QLabel* lblSurveillance;
  TWatchSettingsBox* boxSurveillance;
  QPushButton* btnConserver;
  QPushButton* btnAnnuler;

 public slots:
  void actConserverExecute();
  void actAnnulerExecute();

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void FormShow();
  void ConserverLien();

  TData& data_;
  // The bytes the two edit fields were filled with, so that untouched text
  // is stored back unchanged.
  std::string shown_nom_;
  std::string shown_url_;
  bool shown_once_ = false;
  std::string new_address_;
};

}  // namespace veilex
