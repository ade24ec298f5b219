// Veilex's entry: reads the command line first, so that a check, the help or
// the version never need a display; then the window on the data file.
#include <QApplication>
#include <QCoreApplication>
#include <iostream>
#include <string>
#include <vector>

#include "app/Application.h"
#include "app/CheckCommand.h"
#include "app/CommandLine.h"
#include "watch/uData.h"

namespace {

// The data file --data names, or the one next to the executable.
std::string DataFileOf(const veilex::TCommandLine& line) {
  if (!line.DataFile.empty()) return line.DataFile;
  return veilex::ExecutableDirectory() + veilex::TData::kDataFileName;
}

}  // namespace

int main(int argc, char* argv[]) {
  using veilex::TCommandLine;
  const TCommandLine line = veilex::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  // The link store opens its file by directory for now: a --data naming
  // another file than "veilex.mlb" would open a different file.
  if (!line.DataFile.empty() && !line.DataFile.ends_with(std::string("/") + veilex::TData::kDataFileName) &&
      line.DataFile != veilex::TData::kDataFileName) {
    std::cerr << "veilex : le fichier des liens doit s'appeler veilex.mlb\n" << std::flush;
    return veilex::kExitUsageOrFile;
  }
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
    case TCommandLine::TMode::Window:
      break;
  }
  QApplication application(argc, argv);
  return veilex::RunVeilex(DataFileOf(line));
}
