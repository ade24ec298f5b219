#include "app/uAproposDe.h"

#include <QDate>
#include <QGridLayout>
#include <QLocale>
#include <QLabel>
#include <QPushButton>

#include "app/TextCodec.h"

#ifndef VEILEX_VERSION
#define VEILEX_VERSION "1.0"
#endif
#ifndef VEILEX_RELEASE_DATE
#define VEILEX_RELEASE_DATE "2026-12-09"
#endif

namespace veilex {

namespace {

std::string& DataFileShown() {
  static std::string data_file;
  return data_file;
}

}  // namespace

void TfrmAproposDe::SetDataFileShown(const std::string& data_file) { DataFileShown() = data_file; }

TfrmAproposDe::TfrmAproposDe(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("A propos de..."));
  // Taller than the four lines need by one line: the data file's.
  setFixedSize(345, 140);

  Label1 = new QLabel(QStringLiteral("Veilex version " VEILEX_VERSION));
  Label1->setStyleSheet(QStringLiteral("color: black; font-family: Sans; font-weight: bold;"));
  const QDate released = QDate::fromString(QStringLiteral(VEILEX_RELEASE_DATE), Qt::ISODate);
  Label2 = new QLabel(QStringLiteral("(Dernière mise à jour le %1)")
                          .arg(QLocale(QLocale::French).toString(released, QStringLiteral("d MMMM yyyy"))));
  Label3 = new QLabel(QStringLiteral("Écrit par l'équipe Veilex"));
  Label4 = new QLabel(QStringLiteral("http://veilex.example.org/"));
  Label4->setIndent(24);  // stands under the author line, indented
  Label4->setTextInteractionFlags(Qt::TextSelectableByMouse);
  // A long name is cut in its middle to the box's width; the whole name is
  // in the tool tip, and can be selected and copied.
  const QString data_file = DisplayText(DataFileShown());
  Label5 = new QLabel;
  Label5->setToolTip(data_file);
  Label5->setTextInteractionFlags(Qt::TextSelectableByMouse);
  const QString prefix = QStringLiteral("Fichier des liens : ");
  const QFontMetrics metrics = Label5->fontMetrics();
  const int room = width() - 2 * 12 - metrics.horizontalAdvance(prefix);  // less the layout's margins
  Label5->setText(prefix + metrics.elidedText(data_file, Qt::ElideMiddle, room));
  Label5->setVisible(!data_file.isEmpty());
  Button1 = new QPushButton(QStringLiteral("Fermer"));
  int index = 1;
  for (QWidget* widget : {static_cast<QWidget*>(Label1), static_cast<QWidget*>(Label2),
                          static_cast<QWidget*>(Label3), static_cast<QWidget*>(Label4), static_cast<QWidget*>(Label5)})
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
  layout->addWidget(Label5, 4, 0, 1, 2);
  connect(Button1, &QPushButton::clicked, this, &TfrmAproposDe::Button1Click);
  Button1->setFocus();
}

TfrmAproposDe::~TfrmAproposDe() = default;

void TfrmAproposDe::Button1Click() { close(); }

}  // namespace veilex
