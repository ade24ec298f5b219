// Qt's own French texts (the standard buttons « Oui », « Non », « Annuler »,
// the texts of its dialogs), from the translations installed with Qt. Call
// once, on the GUI thread, after the QApplication exists.
#pragma once

namespace veilex {

// Loads "qtbase_fr" from Qt's translations directory and installs it in the
// application. False, nothing installed, when the file is not there (Qt then
// shows its English texts).
bool InstallFrenchTranslations();

}  // namespace veilex
