// TfrmAproposDe: the about box, naming the program and its version. Holds
// only its widgets; created for one showing. GUI thread only.
#pragma once

#include <QDialog>

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
  QPushButton* Button1;

 public slots:
  void Button1Click();
};

}  // namespace veilex
