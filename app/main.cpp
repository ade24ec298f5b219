// Veilex's entry: the application object in French, then the run on the data
// file: next to the executable when Veilex may write there, else in the
// user's data directory (watch/DataLocation.h).
#include <QApplication>

#include "app/Application.h"
#include "app/Translations.h"
#include "watch/DataLocation.h"

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  veilex::InstallFrenchTranslations();
  return veilex::RunVeilex(veilex::DefaultDataFile());
}
