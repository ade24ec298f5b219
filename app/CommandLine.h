// The program's command line: what it asks for (the window, a check of the
// links without one, the help, the version) and the data file to use. Plain
// parsing of argv into a value, and the French texts the program prints for
// it; no Qt, so that a check never needs a display. Any one thread.
#pragma once

#include <string>
#include <vector>

namespace veilex {

struct TCommandLine {
  enum class TMode {
    Window,      // veilex [--data FILE]
    Check,       // veilex --check [--data FILE] [--notify] [NAME...]
    Import,      // veilex --import FILE [--data FILE]
    Export,      // veilex --export FILE [--data FILE]
    Help,        // --help
    Version,     // --version
    UsageError,  // anything else; Error says what was wrong
  };

  TMode Mode = TMode::Window;
  // The data file given with --data; empty for the default one.
  std::string DataFile;
  // The file of --import or --export.
  std::string LinkFile;
  // --notify: a check that found changes tells the desktop.
  bool Notify = false;
  // The links to check, as typed; empty for all of them.
  std::vector<std::string> Names;
  // Why the command line was refused (French, UTF-8); empty otherwise.
  std::string Error;
};

// Reads the arguments after the program's name. Options may come in any
// order and before or after the names; "--data=FILE" is accepted too, and
// "--" ends the options (a name may then start with "-"). --help or
// --version win over everything else that is valid. Names and --notify
// belong to --check only, and each option may be given once.
TCommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// The exit status of a check, and of a refused command line.
inline constexpr int kExitAllChecked = 0;   // every check ran, changed or not
inline constexpr int kExitSomeFailed = 1;   // a check failed, or a name is unknown
inline constexpr int kExitUsageOrFile = 2;  // bad command line, unreadable or busy file

// The texts printed for --help (standard output), --version (standard
// output) and a refused command line (standard error, after the error).
std::string HelpText();
std::string VersionText();
std::string UsageText();

}  // namespace veilex
