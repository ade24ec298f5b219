// `veilex --import LISTE` and `veilex --export LISTE`: links in and out of a
// data file without a window, through watch/LinkImport.h, holding the file as
// any run of Veilex does. Main thread only; no display needed.
#pragma once

#include <iosfwd>
#include <string>

#include "app/CommandLine.h"

namespace veilex {

// Runs the import or export `line` asks for on `data_file`; the report goes
// to `out` (« 125 liens importés, 3 refusés », then each refusal), errors to
// `err`, UTF-8. Returns kExitAllChecked when all went, kExitSomeFailed when
// links were refused, kExitUsageOrFile when the list or the data file could
// not be read or written, or another Veilex holds the data file.
int RunImportExport(const TCommandLine& line, const std::string& data_file, std::ostream& out, std::ostream& err);

}  // namespace veilex
