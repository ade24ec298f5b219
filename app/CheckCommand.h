// `veilex --check`: checks the links of a data file without a window and
// prints one line per link, for a terminal, cron or a systemd timer. Needs no
// display; when asked to notify it needs a QCoreApplication (for the session
// bus). Main thread only.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "watch/PageCheck.h"

namespace veilex {

class TData;
class TMlbc;

// Checks `names` of `data` with the same run as "Tout mettre à jour" (several
// at once, each host's in this order), and calls `done` once each link's
// outcome is in the table,
// with the name and the outcome. This is the one place that decides how a
// command-line run fetches.
void CheckLinks(TData& data, const std::vector<std::string>& names,
                const std::function<void(const std::string& name, TCheckOutcome outcome)>& done);

// Runs the check `line` asks for on `data_file`: holds the file as any run of
// Veilex does (TDataSession: another Veilex holding it refuses the run; a
// missing or unreadable file refuses it too, untouched), checks every link in the table's
// sorted order or the named ones, writes a line per link to `out` and
// messages to `err`, both UTF-8. With line.Notify, changes found are told to
// the desktop. Returns the exit status (kExitAllChecked, kExitSomeFailed,
// kExitUsageOrFile). Raises nothing.
int RunCheck(const TCommandLine& line, const std::string& data_file, std::ostream& out, std::ostream& err);

// The stored name a typed NAME stands for: the same bytes, or else the same
// text once the stored bytes are read as they are shown (a name stored in
// ISO 8859-1 typed in a UTF-8 terminal). Empty when no link has it. Moves the
// table's cursor.
std::string StoredName(TMlbc& table, const std::string& typed);

// One line of the output, without its end: the state, the name, the address
// and, for a failure, the reason, separated by tabs; stored bytes shown as
// UTF-8 (valid UTF-8 as it is, else read as ISO 8859-1; the reason is
// always UTF-8), and any tab or line
// break inside a value turned into a space so that a line stays one link.
std::string CheckLine(const std::string& etat, const std::string& nom, const std::string& url,
                      const std::string& raison);
// Runs a command's `body` and gives its exit status; an exception it lets
// out is told to `err` as an unexpected error, with kExitSomeFailed.
int GuardedCommand(std::ostream& err, const std::function<int()>& body);

// One stored value as a field of such a line.
std::string LineField(const std::string& bytes);

}  // namespace veilex
