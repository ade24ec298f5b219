// The date texts of HTTP heads and cookies: writing a local date-time as
// "Tue, 8 Dec 2026 19:41:18 +0100" and reading the layouts servers send
// (RFC 1123, RFC 850 with dashes, asctime) back into local time.
// Free functions without state; any thread may call them.
#pragma once

#include <string>
#include <string_view>

#include "rtl/DateTime.h"

namespace veilex {

// "+HHMM" or "-HHMM": the offset of local time from UTC at `local`.
std::string UtcOffsetText(TDateTime local);

// "Ddd, D Mmm YYYY HH:NN:SS +HHMM" for the local date-time `local`.
std::string DateTimeToInternetStr(TDateTime local);

// The local date-time a date text stands for; 0 when the text is empty or
// does not read as a date.
TDateTime InternetStrToDateTime(std::string_view text);

}  // namespace veilex
