// TfrmAproposDe: the about box, naming the program, its version and the data
// file in use. Holds only its widgets; created for one showing. GUI thread
// only.
#pragma once

#include <QDialog>
#include <string>

class QLabel;
class QPushButton;

namespace veilex {

class TfrmAproposDe : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmAproposDe(QWidget* parent = nullptr);
  ~TfrmAproposDe() override;

  QLabel* Label1;
  QLabel* Label2;
  QLabel* Label3;
  QLabel* Label4;
  QLabel* Label5;  // the data file in use; hidden when none was set
  QPushButton* Button1;

  // The data file the running program uses, for every box shown after this
  // call (the run sets it once it knows the file).
  static void SetDataFileShown(const std::string& data_file);

 public slots:
  void Button1Click();
};

}  // namespace veilex
