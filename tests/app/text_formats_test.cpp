#include "app/core/results/text_formats.h"

#include <gtest/gtest.h>

#include <ctime>
#include <random>

#include "base/filetime.h"

namespace dunmere {
namespace {

TEST(FormatSize, UnitBoundaries) {
  EXPECT_EQ(FormatSize(0), "0 Bytes");
  EXPECT_EQ(FormatSize(1023), "1023 Bytes");
  EXPECT_EQ(FormatSize(1024), "1.00 KB");
  EXPECT_EQ(FormatSize(1536), "1.50 KB");
  EXPECT_EQ(FormatSize(1048575), "1024.00 KB");  // rounds in its own unit, never promotes
  EXPECT_EQ(FormatSize(1048576), "1.00 MB");
  EXPECT_EQ(FormatSize(int64_t(1) << 30), "1.00 GB");
  EXPECT_EQ(FormatSize(int64_t(3) << 40), "3.00 TB");
  EXPECT_EQ(FormatSize(-5), "-5 Bytes");
}

TEST(FormatFileTime, UtcFieldsMonthAndDayUnpadded) {
  EXPECT_EQ(FormatFileTime(FileTimeFromUnix(1614931449)), "2021-3-5 08:04:09");
  EXPECT_EQ(FormatFileTime(0), "1601-1-1 00:00:00");
  EXPECT_EQ(FormatFileTime(FileTimeFromUnix(1709164800)), "2024-2-29 00:00:00");  // leap day
  EXPECT_EQ(FormatFileTime(FileTimeFromUnix(946684799)), "1999-12-31 23:59:59");
  EXPECT_EQ(FormatFileTime(uint64_t(1) << 63), "");  // no calendar date: nothing shown
}

TEST(FormatFileTime, AgreesWithTheCLibraryOverCenturies) {
  std::mt19937_64 rng(3);
  for (int i = 0; i < 2000; ++i) {
    int64_t secs = int64_t(rng() % 8000000000ULL) - 2000000000LL;  // 1906 .. 2223
    time_t t = time_t(secs);
    struct tm tm;
    ASSERT_TRUE(gmtime_r(&t, &tm));
    char want[64];
    snprintf(want, sizeof want, "%d-%d-%d %02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
             tm.tm_min, tm.tm_sec);
    ASSERT_EQ(FormatFileTime(FileTimeFromUnix(secs)), want) << secs;
  }
}

TEST(FormatDuration, Thresholds) {
  EXPECT_EQ(FormatDuration(0), "0 Sec");
  EXPECT_EQ(FormatDuration(59), "59 Sec");
  EXPECT_EQ(FormatDuration(60), "1 Min 0 Sec");
  EXPECT_EQ(FormatDuration(3599), "59 Min 59 Sec");
  EXPECT_EQ(FormatDuration(3600), "1 Hour 0 Min");
  EXPECT_EQ(FormatDuration(90061), "25 Hour 1 Min");
  EXPECT_EQ(FormatDuration(-1), "-1 Sec");
}

TEST(FormatIso8601, PaddedUtcWithFraction) {
  EXPECT_EQ(FormatIso8601(FileTimeFromUnix(1614931449)), "2021-03-05T08:04:09Z");
  EXPECT_EQ(FormatIso8601(FileTimeFromUnix(1614931449) + 5), "2021-03-05T08:04:09.0000005Z");
  EXPECT_EQ(FormatIso8601(0), "");  // no time recorded
  EXPECT_EQ(FormatIso8601(~uint64_t(0)), "");
}

}  // namespace
}  // namespace dunmere
