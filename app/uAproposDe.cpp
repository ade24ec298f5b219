#include "app/uAproposDe.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

namespace veilex {

TfrmAproposDe::TfrmAproposDe(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("A propos de..."));
  setFixedSize(345, 116);

  Label1 = new QLabel(QStringLiteral("Veilex version 1.0"));
  Label1->setStyleSheet(QStringLiteral("color: black; font-family: Sans; font-weight: bold;"));
  Label2 = new QLabel(QStringLiteral("(Dernière mise à jour le 16 octobre 2003)"));
  Label3 = new QLabel(QStringLiteral("Écrit par l'équipe Veilex"));
  Label4 = new QLabel(QStringLiteral("http://veilex.example.org/"));
  Label4->setIndent(24);  // stands under the author line, indented
  Label4->setTextInteractionFlags(Qt::TextSelectableByMouse);
  Button1 = new QPushButton(QStringLiteral("Fermer"));
  int index = 1;
  for (QWidget* widget : {static_cast<QWidget*>(Label1), static_cast<QWidget*>(Label2),
                          static_cast<QWidget*>(Label3), static_cast<QWidget*>(Label4)})
    widget->setObjectName(QStringLiteral("Label%1").arg(index++));
  Button1->setObjectName(QStringLiteral("Button1"));

  // The title line shares its row with the button; the other lines have the
  // whole width.
  auto* layout = new QGridLayout(this);
  layout->setVerticalSpacing(2);
  layout->addWidget(Label1, 0, 0);
  layout->addWidget(Button1, 0, 1, Qt::AlignRight);
  layout->addWidget(Label2, 1, 0, 1, 2);
  layout->addWidget(Label3, 2, 0, 1, 2);
  layout->addWidget(Label4, 3, 0, 1, 2);
  connect(Button1, &QPushButton::clicked, this, &TfrmAproposDe::Button1Click);
  Button1->setFocus();
}

TfrmAproposDe::~TfrmAproposDe() = default;

void TfrmAproposDe::Button1Click() { close(); }

}  // namespace veilex
