// `veilex --list`, `--mark-read` and `--history`: the links of a data file,
// their unread marks and the versions of their pages, without a window. Each
// reads its command line and calls the link store; output is UTF-8 text
// (the bytes of a version with --version, exactly). Main thread only; no
// Qt application needed. Each returns the exit status (CommandLine.h) and
// raises nothing.
#pragma once

#include <iosfwd>
#include <string>

#include "app/CommandLine.h"

namespace veilex {

// One line per link, in the window's order: name, address, state, date of
// the last change (or empty), « non lu » (or empty) and the reason of a
// failed check (or empty), separated by tabs. Holds the file as --check does.
int RunList(const TCommandLine& line, const std::string& data_file, std::ostream& out, std::ostream& err);

// Marks the named links (all of them without names) as seen, and saves.
int RunMarkRead(const TCommandLine& line, const std::string& data_file, std::ostream& out, std::ostream& err);

// One line per kept version of the link's page, oldest first: number (from
// 1), date, size in bytes and SHA-256; or, with line.Version, that version's
// bytes. Reads the history only, beside a data file that must exist; the
// file's holder (a window) may keep running.
int RunHistory(const TCommandLine& line, const std::string& data_file, std::ostream& out, std::ostream& err);

}  // namespace veilex
