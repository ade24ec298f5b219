#include "app/MessageBoxes.h"

#include <QMessageBox>
#include <QPushButton>

namespace veilex {

void ShowError(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Critical, QStringLiteral("Erreur"), text, QMessageBox::Ok, parent);
  box.exec();
}

void ShowWarning(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Warning, QStringLiteral("Avertissement"), text, QMessageBox::Ok, parent);
  box.exec();
}

void ShowInformation(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Information, QStringLiteral("Information"), text, QMessageBox::Ok, parent);
  box.exec();
}

bool AskConfirmation(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Question, QStringLiteral("Confirmation"), text,
                  QMessageBox::Yes | QMessageBox::No, parent);
  box.setDefaultButton(QMessageBox::Yes);
  box.exec();
  return box.clickedButton() == box.button(QMessageBox::Yes);
}

void ShowUnexpectedError(QWidget* parent, const char* what) {
  try {
    QString text = QStringLiteral("Une erreur inattendue s'est produite.");
    if (what != nullptr && *what != '\0') text += QStringLiteral("\n") + QString::fromLocal8Bit(what);
    ShowError(parent, text);
  } catch (...) {
    // Nothing more can be told; the program goes on.
  }
}

}  // namespace veilex
