// `veilex --test NAME` and `veilex --learn NAME`: what a link's settings make
// of its page now (the dialog's « Tester »), and the ignore rules its noise
// suggests (« Apprendre le bruit »), printed for a terminal. The data file is
// only read, never written nor locked, so both run beside an open window.
// Need no display. Main thread only.
#pragma once

#include <iosfwd>
#include <string>

#include "app/CommandLine.h"
#include "watch/LinkTrial.h"

namespace veilex {

// --test: writes the text a check of the link named in `line` would compare
// to `out` (the page's bytes as they are when the link compares them so) and
// returns kExitAllChecked; or writes why there is none to `err` and returns
// kExitSomeFailed. A missing or unreadable file: kExitUsageOrFile. Raises
// nothing.
int RunTest(const TCommandLine& line, const std::string& data_file, std::ostream& out, std::ostream& err,
            const TTrialOptions& options = {});

// --learn: writes the proposed rules to `out`, one a line, and what the user
// should know of them (none needed, some left out) to `err`; exit statuses
// as RunTest's.
int RunLearn(const TCommandLine& line, const std::string& data_file, std::ostream& out, std::ostream& err,
             const TTrialOptions& options = {});

}  // namespace veilex
