#include "rtl/DateTime.h"

#include <cmath>
#include <ctime>

namespace veilex {

namespace {

constexpr double kMsPerDay = 86400000.0;

// Days from 0001-01-01 to 1899-12-30 in the proleptic Gregorian calendar.
constexpr int64_t kDateDelta = 693594;

int64_t DaysBeforeYear(int64_t year) {
  const int64_t y = year - 1;
  return y * 365 + y / 4 - y / 100 + y / 400;
}

// Splits a value into whole days and milliseconds of the day, rounding to the
// nearest millisecond so that 0.5 s stored as a double does not decode as 499.
void SplitValue(TDateTime value, int64_t& days, int64_t& ms) {
  const auto total = static_cast<int64_t>(std::llround(value * kMsPerDay));
  days = total >= 0 ? total / 86400000 : -((-total + 86399999) / 86400000);
  ms = total - days * 86400000;
}

std::string Pad(int value, size_t width) {
  std::string s = std::to_string(value);
  while (s.size() < width) s.insert(s.begin(), '0');
  return s;
}

}  // namespace

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return (month == 2 && IsLeapYear(year)) ? 29 : kDays[month - 1];
}

bool TryEncodeDate(int year, int month, int day, TDateTime& result) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) {
    return false;
  }
  int64_t days = DaysBeforeYear(year);
  for (int m = 1; m < month; ++m) days += DaysInMonth(year, m);
  days += day - 1;
  result = static_cast<double>(days - kDateDelta + 1);
  return true;
}

bool TryEncodeTime(int hour, int minute, int second, int millisecond, TDateTime& result) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
      millisecond < 0 || millisecond > 999) {
    return false;
  }
  result = (((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + millisecond) / kMsPerDay;
  return true;
}

void DecodeDate(TDateTime value, int& year, int& month, int& day) {
  int64_t days = 0;
  int64_t ms = 0;
  SplitValue(value, days, ms);
  int64_t n = days + kDateDelta - 1;  // days since 0001-01-01
  int64_t y = 1 + n / 146097 * 400;
  n %= 146097;
  int64_t c = n / 36524;
  if (c == 4) c = 3;
  y += c * 100;
  n -= c * 36524;
  y += n / 1461 * 4;
  n %= 1461;
  int64_t k = n / 365;
  if (k == 4) k = 3;
  y += k;
  n -= k * 365;
  year = static_cast<int>(y);
  month = 1;
  while (n >= DaysInMonth(year, month)) {
    n -= DaysInMonth(year, month);
    ++month;
  }
  day = static_cast<int>(n) + 1;
}

void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& millisecond) {
  int64_t days = 0;
  int64_t ms = 0;
  SplitValue(value, days, ms);
  hour = static_cast<int>(ms / 3600000);
  minute = static_cast<int>(ms / 60000 % 60);
  second = static_cast<int>(ms / 1000 % 60);
  millisecond = static_cast<int>(ms % 1000);
}

int DayOfWeek(TDateTime value) {
  int64_t days = 0;
  int64_t ms = 0;
  SplitValue(value, days, ms);
  // 1899-12-30 was a Saturday (7).
  const int64_t w = ((days + 6) % 7 + 7) % 7;  // 0 = Sunday
  return static_cast<int>(w) + 1;
}

TDateTime UnixToDateTime(int64_t seconds) {
  return kUnixDateDelta + static_cast<double>(seconds) / 86400.0;
}

int64_t DateTimeToUnix(TDateTime value) {
  return std::llround((value - kUnixDateDelta) * 86400.0);
}

TDateTime Now() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  tm local{};
  localtime_r(&ts.tv_sec, &local);
  TDateTime date = 0;
  TDateTime time = 0;
  TryEncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, date);
  TryEncodeTime(local.tm_hour, local.tm_min, local.tm_sec < 60 ? local.tm_sec : 59,
                static_cast<int>(ts.tv_nsec / 1000000), time);
  return date + time;
}

TDateTime LocalUtcOffset(TDateTime local) {
  const time_t t = static_cast<time_t>(DateTimeToUnix(local));
  tm parts{};
  localtime_r(&t, &parts);
  return static_cast<double>(parts.tm_gmtoff) / 86400.0;
}

std::string FormatDateTime(std::string_view pattern, TDateTime value) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, ms = 0;
  DecodeDate(value, year, month, day);
  DecodeTime(value, hour, minute, second, ms);
  std::string out;
  size_t i = 0;
  auto run = [&](char letter) {
    size_t n = 0;
    while (i + n < pattern.size() && (pattern[i + n] | 0x20) == letter) ++n;
    return n;
  };
  while (i < pattern.size()) {
    const char c = pattern[i];
    if (c == '"' || c == '\'') {
      const size_t close = pattern.find(c, i + 1);
      const size_t end = close == std::string_view::npos ? pattern.size() : close;
      out.append(pattern.substr(i + 1, end - i - 1));
      i = end == pattern.size() ? end : end + 1;
      continue;
    }
    const char lower = static_cast<char>(c | 0x20);
    size_t n = 0;
    switch (lower) {
      case 'y':
        n = run('y');
        out += n >= 3 ? Pad(year, 4) : Pad(year % 100, 2);
        break;
      case 'm':
        n = run('m');
        out += n >= 2 ? Pad(month, 2) : std::to_string(month);
        break;
      case 'd':
        n = run('d');
        out += n >= 2 ? Pad(day, 2) : std::to_string(day);
        break;
      case 'h':
        n = run('h');
        out += n >= 2 ? Pad(hour, 2) : std::to_string(hour);
        break;
      case 'n':
        n = run('n');
        out += n >= 2 ? Pad(minute, 2) : std::to_string(minute);
        break;
      case 's':
        n = run('s');
        out += n >= 2 ? Pad(second, 2) : std::to_string(second);
        break;
      default:
        out += c;
        n = 1;
        break;
    }
    i += n;
  }
  return out;
}

}  // namespace veilex
