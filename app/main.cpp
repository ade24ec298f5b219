// Veilex's entry: the application object, then the run on the data file that
// lies next to the executable.
#include <QApplication>

#include "app/Application.h"
#include "watch/uData.h"

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  return veilex::RunVeilex(veilex::ExecutableDirectory());
}
