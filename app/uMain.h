// TfrmMain: the main window. Shows every link as one row of the list Grille,
// offers the seven commands on its tool bar and progress in its status bar.
// It owns its widgets and actions, not the links: those live in the TData it
// is given, which must outlive it. GUI thread only.
#pragma once

#include <QMainWindow>
#include <QStringList>
#include <functional>
#include <string>

class QAction;
class QCloseEvent;
class QModelIndex;
class QShowEvent;
class QSortFilterProxyModel;
class QStandardItemModel;
class QStatusBar;
class QToolBar;
class QTreeView;

namespace veilex {

class TData;

class TfrmMain : public QMainWindow {
  Q_OBJECT

 public:
  // The columns of Grille, left to right.
  enum TColumn { kColNom = 0, kColUrl, kColMajOk, kColMaj, kColEtat, kColumnCount };

  explicit TfrmMain(TData& data, QWidget* parent = nullptr);
  ~TfrmMain() override;

  // Fills Grille from the link table, sorted on the name (the table too).
  void RemplirGrille();
  // Widens the auto-sized columns to their longest text.
  void AjusterColonnes();

  // The list's rows in their internal order, the order in which they were
  // added (not the order shown, which is sorted on "Nom").
  int RowCount() const;
  // The name a row stands for, as the bytes stored in the table.
  std::string RowName(int row) const;
  // What a row shows in a column.
  QString RowText(int row, int column) const;
  // Writes the stored bytes `value` into a row's column, shown as text.
  void SetRowText(int row, int column, const std::string& value);
  // The selected row (internal order), or -1.
  int SelectedRow() const;
  void SelectRow(int row);

  // Checks the link of a list row (internal order): the status bar tells
  // which, the row's columns show the outcome. Fetch failures end in the
  // state "Echec de la mise à jour"; nothing is raised for them.
  void MettreAJourLien(int row);
  // True while a page check runs.
  bool Checking() const { return checking_; }

  // Asked when the window is closed other than by « Quitter »: true hides
  // it instead (checks go on in the background); unset closes it.
  std::function<bool()> HideOnClose;

  QToolBar* ToolBar1;
  QTreeView* Grille;
  QStatusBar* Status;

  QAction* actAjouter;
  QAction* actModifier;
  QAction* actSupprimer;
  QAction* actMettreAJour;
  QAction* actToutMettreAJour;
  QAction* actAProposDe;
  QAction* actOptions;
  QAction* actQuitter;

 signals:
  // A checking command ended; `changed_names` are the links it found
  // changed, as shown.
  void CheckRunEnded(const QStringList& changed_names);
  // « Options... » was chosen; whoever keeps the settings opens the dialog.
  void OptionsRequested();

 public slots:
  void actAjouterExecute();
  void actModifierExecute();
  void actSupprimerExecute();
  void actMettreAJourExecute();
  void actToutMettreAJourExecute();
  void actAProposDeExecute();
  void actOptionsExecute();
  void actQuitterExecute();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CreateActions();
  void CreateToolBar();
  void CreateGrille();
  void FormShow();
  // Appends a row holding the table's current row; returns its index.
  int AddRowFromTable();
  QModelIndex SourceIndex(int row, int column) const;
  // Runs a checking command: never inside another one, and a close asked
  // for meanwhile happens once it is over.
  void RunCheckCommand(const std::function<void()>& command);

  TData& data_;
  QStandardItemModel* rows_;      // the rows in the order they were added
  QSortFilterProxyModel* shown_;  // the same rows sorted on the name's bytes
  bool shown_once_ = false;
  bool checking_ = false;
  bool close_pending_ = false;
  bool quitting_ = false;
  QStringList changed_in_run_;
};

}  // namespace veilex
