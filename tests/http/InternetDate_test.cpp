#include "http/InternetDate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>

namespace veilex {
namespace {

// Runs the test body in a fixed time zone and puts the old one back.
class ZoneScope {
 public:
  explicit ZoneScope(const char* zone) {
    const char* old = std::getenv("TZ");
    had_ = old != nullptr;
    if (had_) old_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ZoneScope() {
    if (had_) {
      setenv("TZ", old_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  bool had_ = false;
  std::string old_;
};

TDateTime At(int y, int mo, int d, int h, int mi, int s) {
  TDateTime date = 0, time = 0;
  TryEncodeDate(y, mo, d, date);
  TryEncodeTime(h, mi, s, 0, time);
  return date + time;
}

void ExpectSameSecond(TDateTime actual, TDateTime expected) {
  EXPECT_NEAR(actual, expected, 0.5 / 86400.0) << FormatDateTime("yyyy-mm-dd hh:nn:ss", actual);
}

TEST(InternetDate, WritesDayMonthYearTimeAndLocalOffset) {
  {
    ZoneScope zone("UTC0");
    EXPECT_EQ(DateTimeToInternetStr(At(2026, 12, 8, 9, 5, 3)), "Tue, 8 Dec 2026 09:05:03 +0000");
    EXPECT_EQ(DateTimeToInternetStr(At(1999, 1, 31, 23, 59, 59)), "Sun, 31 Jan 1999 23:59:59 +0000");
  }
  {
    ZoneScope zone("CET-1CEST,M3.5.0,M10.5.0/3");
    EXPECT_EQ(DateTimeToInternetStr(At(2026, 1, 15, 12, 0, 0)), "Thu, 15 Jan 2026 12:00:00 +0100");
    EXPECT_EQ(DateTimeToInternetStr(At(2026, 7, 15, 12, 0, 0)), "Wed, 15 Jul 2026 12:00:00 +0200");
  }
  {
    ZoneScope zone("EST5");
    EXPECT_EQ(UtcOffsetText(At(2026, 7, 15, 12, 0, 0)), "-0500");
  }
}

TEST(InternetDate, ReadsTheLayoutsServersSend) {
  ZoneScope zone("CET-1");                                      // one hour east of UTC all year
  const TDateTime noon_utc_local = At(1994, 11, 6, 9, 49, 37);  // 08:49:37 UTC
  const char* texts[] = {
      "Sun, 06 Nov 1994 08:49:37 GMT",   // RFC 1123
      "Sunday, 06-Nov-94 08:49:37 GMT",  // RFC 850
      "Sun Nov  6 08:49:37 1994",        // asctime
      "Sun, 6 Nov 1994 09:49:37 +0100",  // numeric zone
      "Sun, 06 Nov 1994 03:49:37 -0500",
      "  06 Nov 1994 08:49:37  ",  // no day name
      "Nov 6 1994 08:49:37 GMT",   // month first
  };
  for (const char* text : texts) {
    SCOPED_TRACE(text);
    ExpectSameSecond(InternetStrToDateTime(text), noon_utc_local);
  }
  ExpectSameSecond(InternetStrToDateTime("Thu, 01-Jan-70 00:00:00 GMT"), At(1970, 1, 1, 1, 0, 0));
  ExpectSameSecond(InternetStrToDateTime("Fri, 01-Jan-69 00:00:00 GMT"), At(2069, 1, 1, 1, 0, 0));
  ExpectSameSecond(InternetStrToDateTime("Thu, 01 Jan 2037"), At(2037, 1, 1, 1, 0, 0));
}

TEST(InternetDate, UnreadableTextGivesZero) {
  const char* texts[] = {"",
                         "   ",
                         "yesterday",
                         "Sun, 31 Feb 2026 10:00:00 GMT",
                         "Sun, 06 Foo 1994 08:49:37 GMT",
                         "Sun, 06 Nov 1994 25:00:00 GMT",
                         "Sun, 06 Nov 1994 08:4x:37 GMT",
                         "-1",
                         "Sun, 06 Nov 99999999999 08:49:37 GMT"};
  for (const char* text : texts) {
    SCOPED_TRACE(text);
    EXPECT_EQ(InternetStrToDateTime(text), 0);
  }
}

TEST(InternetDate, WrittenDatesReadBack) {
  ZoneScope zone("CET-1CEST,M3.5.0,M10.5.0/3");
  for (TDateTime value : {At(2026, 3, 1, 0, 0, 0), At(2026, 8, 31, 23, 59, 59), At(2000, 2, 29, 12, 30, 1)}) {
    ExpectSameSecond(InternetStrToDateTime(DateTimeToInternetStr(value)), value);
  }
}

}  // namespace
}  // namespace veilex
