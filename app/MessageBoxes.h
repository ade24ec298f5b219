// The message boxes of the application, one function per kind, each a modal
// QMessageBox over `parent` with its fixed title and buttons; and the guard
// that keeps exceptions out of Qt's event handling. GUI thread only.
#pragma once

#include <QString>
#include <exception>

class QWidget;

namespace veilex {

// "Erreur", one OK button.
void ShowError(QWidget* parent, const QString& text);
// "Avertissement", one OK button.
void ShowWarning(QWidget* parent, const QString& text);
// "Information", one OK button.
void ShowInformation(QWidget* parent, const QString& text);
// "Confirmation", Yes and No, Yes the default. True only when Yes was
// pressed: a box closed any other way answers no.
bool AskConfirmation(QWidget* parent, const QString& text);

// Tells the user about an exception nothing else handled.
void ShowUnexpectedError(QWidget* parent, const char* what);

// Runs `body`, turning any exception into an error box: no exception may
// leave a slot or an event handler.
template <typename Body>
void RunGuarded(QWidget* parent, Body&& body) {
  try {
    body();
  } catch (const std::exception& e) {
    ShowUnexpectedError(parent, e.what());
  } catch (...) {
    ShowUnexpectedError(parent, nullptr);
  }
}

}  // namespace veilex
