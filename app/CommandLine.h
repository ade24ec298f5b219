// The program's command line: what it asks for (the window, a check of the
// links without one, the help, the version) and the data file to use. Plain
// parsing of argv into a value, and the French texts the program prints for
// it; no Qt, so that a check never needs a display. Any one thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace veilex {

struct TCommandLine {
  enum class TMode {
    Window,      // veilex [--data FILE]
    Check,       // veilex --check [--data FILE] [--notify] [NAME...]
    Test,        // veilex --test NAME [--data FILE]
    Learn,       // veilex --learn NAME [--data FILE]
    List,        // veilex --list [--data FILE]
    MarkRead,    // veilex --mark-read [--data FILE] [NAME...]
    History,     // veilex --history NAME [--data FILE] [--version K]
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
  // The links to check or mark read, as typed; empty for all of them. The
  // one link of --test, --learn and --history.
  std::vector<std::string> Names;
  // --version K with --history: the version whose bytes are written, from 1
  // (the oldest kept); 0 lists the versions.
  int64_t Version = 0;
  // Why the command line was refused (French, UTF-8); empty otherwise.
  std::string Error;
};

// Reads the arguments after the program's name. Options may come in any
// order and before or after the names; "--data=FILE" is accepted too, and
// "--" ends the options (a name may then start with "-"). --help or
// --version win over everything else that is valid, except that with
// --history, --version K names a version. One of --check, --list,
// --mark-read and --history at most; names belong to --check and
// --mark-read, exactly one to --history, --test and --learn; --notify to
// --check only; each option may be given once. --test and --learn exclude
// every other command.
TCommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// The exit status of a check, and of a refused command line.
inline constexpr int kExitAllChecked = 0;   // every check ran, changed or not
inline constexpr int kExitSomeFailed = 1;   // a check failed, or a name is unknown
                                            // (--test, --learn: the page gave no text)
inline constexpr int kExitUsageOrFile = 2;  // bad command line, unreadable or busy file

// The texts printed for --help (standard output), --version (standard
// output) and a refused command line (standard error, after the error).
std::string HelpText();
std::string VersionText();
std::string UsageText();

}  // namespace veilex
