// The date texts of `majok` and `maj` ("26/12/09 à 17:34": two-digit year
// first) read back as a date, so that the list can sort them in time order
// and spell them out for a reader who would take "26/12/09" for 26 December
// 2009. Plain functions over bytes; any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace veilex {

struct TDateText {
  int Year = 0;  // 2000 + yy
  int Month = 0;
  int Day = 0;
  int Hour = 0;
  int Minute = 0;

  // Minutes since 2000-01-01 00:00, for ordering.
  long long Key() const;
};

// Reads "yy/mm/dd à hh:nn", the "à" in ISO 8859-1 or UTF-8; nullopt for
// "inconnue", an empty text or anything else, and for a day or time that
// does not exist (31 February, 25:00).
std::optional<TDateText> ReadDateText(std::string_view bytes);

// "mercredi 9 décembre 2026 à 17:34", UTF-8.
std::string LongDateText(const TDateText& date);

}  // namespace veilex
