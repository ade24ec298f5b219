#include "watch/LinkDate.h"

#include <cstdio>

namespace veilex {
namespace {

bool TwoDigits(std::string_view bytes, size_t at, int& value) {
  if (at + 2 > bytes.size()) return false;
  const char high = bytes[at], low = bytes[at + 1];
  if (high < '0' || high > '9' || low < '0' || low > '9') return false;
  value = (high - '0') * 10 + (low - '0');
  return true;
}

bool LeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && LeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1970-01-01 (a Thursday) to the civil date (Howard Hinnant's
// days_from_civil).
long long DaysFromCivil(int year, int month, int day) {
  year -= month <= 2;
  const long long era = (year >= 0 ? year : year - 399) / 400;
  const long long yoe = year - era * 400;
  const long long doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

}  // namespace

long long TDateText::Key() const {
  return (DaysFromCivil(Year, Month, Day) - DaysFromCivil(2000, 1, 1)) * 1440 + Hour * 60 + Minute;
}

std::optional<TDateText> ReadDateText(std::string_view bytes) {
  // yy/mm/dd, a space, "à" (one byte E0 or the two of UTF-8), a space, hh:nn.
  TDateText date;
  int yy = 0;
  if (!TwoDigits(bytes, 0, yy) || bytes.size() < 8 || bytes[2] != '/' || !TwoDigits(bytes, 3, date.Month) ||
      bytes[5] != '/' || !TwoDigits(bytes, 6, date.Day))
    return std::nullopt;
  size_t at = 8;
  if (bytes.compare(at, 3, " \xe0 ") == 0) {
    at += 3;
  } else if (bytes.compare(at, 4, " \xc3\xa0 ") == 0) {
    at += 4;
  } else {
    return std::nullopt;
  }
  if (!TwoDigits(bytes, at, date.Hour) || at + 5 != bytes.size() || bytes[at + 2] != ':' ||
      !TwoDigits(bytes, at + 3, date.Minute))
    return std::nullopt;
  date.Year = 2000 + yy;
  if (date.Month < 1 || date.Month > 12 || date.Day < 1 || date.Day > DaysInMonth(date.Year, date.Month) ||
      date.Hour > 23 || date.Minute > 59)
    return std::nullopt;
  return date;
}

std::string LongDateText(const TDateText& date) {
  static const char* const kWeekdays[7] = {"jeudi", "vendredi", "samedi", "dimanche", "lundi", "mardi", "mercredi"};
  static const char* const kMonths[12] = {"janvier", "février", "mars",      "avril",   "mai",      "juin",
                                          "juillet", "août",    "septembre", "octobre", "novembre", "décembre"};
  const long long days = DaysFromCivil(date.Year, date.Month, date.Day);
  const int weekday = static_cast<int>(((days % 7) + 7) % 7);
  char time[8];
  snprintf(time, sizeof time, "%02d:%02d", date.Hour, date.Minute);
  return std::string(kWeekdays[weekday]) + " " + std::to_string(date.Day) + (date.Day == 1 ? "er" : "") + " " +
         kMonths[date.Month - 1] + " " + std::to_string(date.Year) + " \xc3\xa0 " + time;
}

}  // namespace veilex
