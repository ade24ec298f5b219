// Reads arbitrary bytes as an HTTP date. Reading must never fail: a text is
// a date or 0. A date that reads must write as a date text that reads back
// to the same second.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "http/InternetDate.h"

namespace {

[[noreturn]] void Die(const char* what, const std::string& detail) {
  std::fprintf(stderr, "fuzz_http_date: %s (%s)\n", what, detail.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const veilex::TDateTime date = veilex::InternetStrToDateTime(text);
  if (!std::isfinite(date)) Die("a date that is not a number", text);
  // Days 1 to 2958465 are the years 1900 to 9999, which the writer spells.
  if (date >= 1.0 && date < 2958465.0) {
    const std::string written = veilex::DateTimeToInternetStr(date);
    const veilex::TDateTime back = veilex::InternetStrToDateTime(written);
    if (std::fabs(back - date) * 86400.0 > 1.0) Die("a written date reads back otherwise", written);
  }
  return 0;
}
