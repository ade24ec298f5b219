// Date-time values as the system keeps them: a double counting days since
// 1899-12-30 00:00, the fraction being the time of day. Local time goes
// through localtime_r; nothing here keeps state, so any thread may call it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace veilex {

using TDateTime = double;

// The Unix epoch, 1970-01-01 00:00, as a TDateTime.
constexpr TDateTime kUnixDateDelta = 25569.0;

bool IsLeapYear(int year);
int DaysInMonth(int year, int month);

// Returns false, leaving `result` alone, for an impossible date or time.
bool TryEncodeDate(int year, int month, int day, TDateTime& result);
bool TryEncodeTime(int hour, int minute, int second, int millisecond, TDateTime& result);

void DecodeDate(TDateTime value, int& year, int& month, int& day);
void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& millisecond);
// 1 = Sunday ... 7 = Saturday.
int DayOfWeek(TDateTime value);

TDateTime UnixToDateTime(int64_t seconds);
int64_t DateTimeToUnix(TDateTime value);

// The local date and time now.
TDateTime Now();
// The offset of local time from UTC at `local`, in days (positive east of UTC).
TDateTime LocalUtcOffset(TDateTime local);

// Formats `value` with a pattern made of: yyyy, yy, mm, m, dd, d, hh, h, nn, n,
// ss, s, text in double or single quotes copied as it is, and any other byte
// copied as it is (so ISO 8859-1 and UTF-8 text pass through).
std::string FormatDateTime(std::string_view pattern, TDateTime value);

}  // namespace veilex
