#include "rtl/DateTime.h"

#include <gtest/gtest.h>

namespace veilex {
namespace {

TEST(DateTime, EncodesAndDecodesKnownDays) {
  TDateTime d = 0;
  ASSERT_TRUE(TryEncodeDate(1899, 12, 30, d));
  EXPECT_EQ(d, 0.0);
  ASSERT_TRUE(TryEncodeDate(1970, 1, 1, d));
  EXPECT_EQ(d, kUnixDateDelta);
  ASSERT_TRUE(TryEncodeDate(2026, 12, 8, d));
  int y = 0, m = 0, day = 0;
  DecodeDate(d, y, m, day);
  EXPECT_EQ(y, 2026);
  EXPECT_EQ(m, 12);
  EXPECT_EQ(day, 8);
  EXPECT_EQ(DayOfWeek(d), 3);  // a Tuesday

  EXPECT_FALSE(TryEncodeDate(2023, 2, 29, d));
  EXPECT_TRUE(TryEncodeDate(2024, 2, 29, d));
  EXPECT_FALSE(TryEncodeDate(2024, 13, 1, d));
  EXPECT_FALSE(TryEncodeTime(24, 0, 0, 0, d));
}

TEST(DateTime, RoundTripsEveryDayOfSeveralCenturies) {
  TDateTime first = 0;
  ASSERT_TRUE(TryEncodeDate(1600, 1, 1, first));
  int previous_day = 0;
  for (int64_t n = 0; n < 365LL * 600; n += 1) {
    const TDateTime value = first + static_cast<double>(n);
    int y = 0, m = 0, d = 0;
    DecodeDate(value, y, m, d);
    TDateTime back = 0;
    ASSERT_TRUE(TryEncodeDate(y, m, d, back)) << y << "-" << m << "-" << d;
    ASSERT_EQ(back, value);
    ASSERT_TRUE(d == previous_day + 1 || d == 1);
    previous_day = d;
  }
}

TEST(DateTime, DecodesTimeToTheMillisecond) {
  TDateTime t = 0;
  ASSERT_TRUE(TryEncodeTime(23, 59, 58, 500, t));
  int h = 0, n = 0, s = 0, ms = 0;
  DecodeTime(t, h, n, s, ms);
  EXPECT_EQ(h, 23);
  EXPECT_EQ(n, 59);
  EXPECT_EQ(s, 58);
  EXPECT_EQ(ms, 500);
}

TEST(DateTime, UnixSecondsConvertBothWays) {
  EXPECT_EQ(DateTimeToUnix(UnixToDateTime(1786000000)), 1786000000);
  EXPECT_EQ(UnixToDateTime(0), kUnixDateDelta);
}

TEST(DateTime, FormatsTheLinkDatePattern) {
  TDateTime d = 0, t = 0;
  ASSERT_TRUE(TryEncodeDate(2026, 3, 7, d));
  ASSERT_TRUE(TryEncodeTime(9, 5, 59, 0, t));
  // "à" as the ISO 8859-1 byte E0, unquoted, passes through untouched.
  EXPECT_EQ(FormatDateTime("yy\"/\"mm\"/\"dd \xe0 hh\":\"nn", d + t), "26/03/07 \xe0 09:05");
  EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss", d + t), "2026-03-07 09:05:59");
  EXPECT_EQ(FormatDateTime("d/m/yy 'h' h", d + t), "7/3/26 h 9");
}

TEST(DateTime, NowIsToday) {
  const TDateTime now = Now();
  const TDateTime from_clock = UnixToDateTime(time(nullptr)) + LocalUtcOffset(now);
  EXPECT_NEAR(now, from_clock, 2.0 / 86400.0);
}

}  // namespace
}  // namespace veilex
