// Veilex's entry: reads the command line first, so that a check, the help or
// the version never need a display; then the window, in French, on the data
// file: the one --data names, else next to the executable when Veilex may
// write there, else in the user's data directory (watch/DataLocation.h).
#include <QApplication>
#include <QCoreApplication>
#include <iostream>
#include <string>
#include <vector>

#include "app/Application.h"
#include "app/CheckCommand.h"
#include "app/CommandLine.h"
#include "app/Notifier.h"
#include "app/LinkCommands.h"
#include "app/ImportCommand.h"
#include "app/Translations.h"
#include "app/TrialCommands.h"
#include "watch/DataLocation.h"

namespace {

std::string DataFileOf(const veilex::TCommandLine& line) {
  return line.DataFile.empty() ? veilex::DefaultDataFile() : line.DataFile;
}

}  // namespace

int main(int argc, char* argv[]) {
  using veilex::TCommandLine;
  const TCommandLine line = veilex::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  veilex::KeepTheSessionBusFromStarting();
  switch (line.Mode) {
    case TCommandLine::TMode::Help:
      std::cout << veilex::HelpText() << std::flush;
      return 0;
    case TCommandLine::TMode::Version:
      std::cout << veilex::VersionText() << std::flush;
      return 0;
    case TCommandLine::TMode::UsageError:
      std::cerr << "veilex : " << line.Error << "\n" << veilex::UsageText() << std::flush;
      return veilex::kExitUsageOrFile;
    case TCommandLine::TMode::Check: {
      // An event loop's object for the session bus, without any window
      // system: no platform plugin is loaded.
      QCoreApplication application(argc, argv);
      return veilex::RunCheck(line, DataFileOf(line), std::cout, std::cerr);
    }
    case TCommandLine::TMode::Test:
      return veilex::RunTest(line, DataFileOf(line), std::cout, std::cerr);
    case TCommandLine::TMode::Learn:
      return veilex::RunLearn(line, DataFileOf(line), std::cout, std::cerr);
    case TCommandLine::TMode::List:
      return veilex::RunList(line, DataFileOf(line), std::cout, std::cerr);
    case TCommandLine::TMode::MarkRead:
      return veilex::RunMarkRead(line, DataFileOf(line), std::cout, std::cerr);
    case TCommandLine::TMode::History:
      return veilex::RunHistory(line, DataFileOf(line), std::cout, std::cerr);
    case TCommandLine::TMode::Import:
    case TCommandLine::TMode::Export:
      return veilex::RunImportExport(line, DataFileOf(line), std::cout, std::cerr);
    case TCommandLine::TMode::Window:
      break;
  }
  QApplication application(argc, argv);
  veilex::InstallFrenchTranslations();
  return veilex::RunVeilex(DataFileOf(line));
}
