#include "http/InternetDate.h"

#include <cmath>
#include <cstdlib>

#include "http/TNetURI.h"
#include "rtl/StrUtils.h"

namespace veilex {

namespace {

constexpr const char* kDayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::string TwoDigits(int value) {
  return {static_cast<char>('0' + value / 10 % 10), static_cast<char>('0' + value % 10)};
}

// 1..12 when `field` begins with an English month name, else 0.
int MonthOf(std::string_view field) {
  if (field.size() < 3) return 0;
  for (int m = 0; m < 12; ++m) {
    if (SameText(field.substr(0, 3), kMonthNames[m])) return m + 1;
  }
  return 0;
}

bool IsDayName(std::string_view text) {
  if (text.size() < 3) return false;
  for (const char* day : kDayNames) {
    if (SameText(text.substr(0, 3), day)) return true;
  }
  return false;
}

// A field of decimal digits only (no sign, no spaces) that fits an int.
bool ReadNumber(std::string_view field, int& value) {
  if (field.empty() || field.size() > 9) return false;
  int v = 0;
  for (char c : field) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  value = v;
  return true;
}

// Takes the next field up to `separator`, skipping blanks around it, so that
// asctime's padded day ("Dec  8") reads as one field.
std::string NextField(std::string& rest, std::string_view separator) {
  rest = Trim(rest);
  std::string field = Fetch(rest, separator);
  return Trim(field);
}

// "HH:NN:SS" (seconds optional) as a fraction of a day.
bool ReadTime(const std::string& text, TDateTime& time) {
  std::string rest = text;
  int hour = 0, minute = 0, second = 0;
  if (!ReadNumber(Fetch(rest, ":"), hour) || !ReadNumber(Fetch(rest, ":"), minute)) return false;
  if (!rest.empty() && !ReadNumber(rest, second)) return false;
  return TryEncodeTime(hour, minute, second, 0, time);
}

// "+HHMM" / "-HHMM" as days east of UTC; anything else ("GMT", "") is 0.
TDateTime ZoneOffset(std::string_view zone) {
  if (zone.size() < 5 || (zone[0] != '+' && zone[0] != '-')) return 0;
  int hours = 0, minutes = 0;
  if (!ReadNumber(zone.substr(1, 2), hours) || !ReadNumber(zone.substr(3, 2), minutes)) return 0;
  const TDateTime offset = (hours * 60.0 + minutes) / 1440.0;
  return zone[0] == '-' ? -offset : offset;
}

}  // namespace

std::string UtcOffsetText(TDateTime local) {
  const long minutes = std::lround(LocalUtcOffset(local) * 1440.0);
  const long magnitude = std::labs(minutes);
  return std::string(minutes < 0 ? "-" : "+") + TwoDigits(static_cast<int>(magnitude / 60)) +
         TwoDigits(static_cast<int>(magnitude % 60));
}

std::string DateTimeToInternetStr(TDateTime local) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, ms = 0;
  DecodeDate(local, year, month, day);
  DecodeTime(local, hour, minute, second, ms);
  return Format("%s, %d %s %d %s %s",
                {kDayNames[DayOfWeek(local) - 1], int64_t{day}, kMonthNames[month - 1], int64_t{year},
                 TwoDigits(hour) + ":" + TwoDigits(minute) + ":" + TwoDigits(second), UtcOffsetText(local)});
}

TDateTime InternetStrToDateTime(std::string_view text) {
  std::string rest = Trim(text);
  if (rest.empty()) return 0;
  if (IsDayName(rest)) {
    Fetch(rest, " ");
  }
  rest = Trim(rest);

  // "08-Dec-26" (RFC 850) separates the date with dashes, the rest with spaces.
  const size_t first_space = rest.find(' ');
  const size_t dash = rest.find('-', 1);
  const std::string separator = (dash != std::string::npos && dash < first_space) ? "-" : " ";

  int day = 0, month = 0, year = 0;
  std::string first = NextField(rest, separator);
  if ((month = MonthOf(first)) != 0) {
    if (!ReadNumber(NextField(rest, separator), day)) return 0;
  } else {
    if (!ReadNumber(first, day) || (month = MonthOf(NextField(rest, separator))) == 0) return 0;
  }

  std::string year_field = NextField(rest, " ");
  std::string time_field;
  if (!ReadNumber(year_field, year)) {
    // asctime puts the year last: "Dec 8 19:41:18 2026".
    time_field = year_field;
    year_field = NextField(rest, " ");
    if (!ReadNumber(year_field, year)) return 0;
  } else {
    std::string after_time = rest;
    std::string field = NextField(after_time, " ");
    if (field.find(':') != std::string::npos) {
      time_field = field;
      rest = after_time;
    }
  }
  // Two-digit years as RFC 6265 reads them: 70-99 are 1970-1999, so that the
  // deletion date "01-Jan-70" lies in the past.
  if (year < 70) {
    year += 2000;
  } else if (year < 100) {
    year += 1900;
  }

  TDateTime date = 0;
  if (!TryEncodeDate(year, month, day, date)) return 0;
  if (!time_field.empty()) {
    TDateTime time = 0;
    if (!ReadTime(time_field, time)) return 0;
    date += time;
  }
  const TDateTime utc = date - ZoneOffset(Trim(rest));
  return utc + LocalUtcOffset(utc);
}

}  // namespace veilex
