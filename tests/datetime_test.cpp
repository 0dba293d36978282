// tests/datetime_test.cpp: TDateTime, checked under whatever zone TZ names.
// Licensed under the Apache License, Version 2.0.
//
// CTest runs this suite under several zones; every expectation holds in each of them.
#include <tavutil/datetime.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <time.h>

namespace {

long Seconds(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  t.tm_isdst = 1; // ignored, as are weekday and day of year
  t.tm_yday = 300;
  return TDateTime(t, 0).QueryTime();
}

/// The standard zone (seconds west of UTC) as the C library reports it now.
long SystemZone() {
  tzset();
  return timezone;
}

TEST(TDateTime, FieldsAreReadAsUtcWhateverTheZone) {
  EXPECT_EQ(Seconds(2000, 1, 1, 12), 946728000);
  EXPECT_EQ(Seconds(2000, 7, 1, 12), 962452800); // daylight saving shifts nothing
  EXPECT_EQ(Seconds(1969, 12, 31, 23, 59, 59), -1);
  EXPECT_EQ(Seconds(1901, 12, 13, 20, 45, 52), INT32_MIN);
  EXPECT_EQ(Seconds(2038, 1, 19, 3, 14, 7), INT32_MAX);
  EXPECT_EQ(Seconds(2000, 1, 32), Seconds(2000, 2, 1));
  EXPECT_EQ(Seconds(2001, 2, 29), Seconds(2001, 3, 1));
  EXPECT_EQ(Seconds(2000, -13, 1), Seconds(1998, 11, 1));
  EXPECT_EQ(Seconds(2000, 1, 1, 0, 0, -1), 946684799);

  // The C library's own UTC conversion carries out-of-range fields over the same way.
  std::mt19937 random(20000101);
  std::uniform_int_distribution<int> year(-40, 160);
  std::uniform_int_distribution<int> month(-30, 40);
  std::uniform_int_distribution<int> day(-400, 400);
  std::uniform_int_distribution<int> clock(-5000, 5000);
  int compared = 0;
  for (int i = 0; i < 20000; ++i) {
    std::tm t{};
    t.tm_year = year(random);
    t.tm_mon = month(random);
    t.tm_mday = day(random);
    t.tm_hour = clock(random) / 100;
    t.tm_min = clock(random);
    t.tm_sec = clock(random);
    std::tm copy = t;
    const long long expected = timegm(&copy);
    if (expected >= INT32_MIN && expected <= INT32_MAX) {
      ASSERT_EQ(TDateTime(t, 0).QueryTime(), expected) << t.tm_year << " " << t.tm_mon;
      ++compared;
    }
  }
  EXPECT_GT(compared, 10000);

  // A result beyond 32 bits is a failed conversion: -1 less the machine's zone.
  EXPECT_EQ(Seconds(2038, 1, 19, 3, 14, 8), -1 - SystemZone());
  EXPECT_EQ(Seconds(INT_MAX, INT_MAX, 1, 0, 0, INT_MIN), -1 - SystemZone());
}

TEST(TDateTime, DefaultTakesNowAndTheStandardZone) {
  const std::time_t before = std::time(nullptr);
  const TDateTime now;
  EXPECT_GE(now.QueryTime(), before);
  EXPECT_LE(now.QueryTime(), std::time(nullptr));
  EXPECT_EQ(now.QueryTimeZone(), SystemZone());
  // The standard offset, never the daylight-saving one, in a zone that has both.
  const char* tz = std::getenv("TZ");
  if (tz != nullptr && std::string(tz) == "Australia/Lord_Howe") {
    EXPECT_EQ(now.QueryTimeZone(), -37800);
  }
}

TEST(TDateTime, AssignmentKeepsTheZoneAndComparisonIgnoresIt) {
  TDateTime value(100, 3600);
  value = 200L;
  EXPECT_EQ(value.QueryTimeZone(), 3600);
  std::tm fields = TDateTime(946728000, 0).QueryTM();
  value = fields;
  EXPECT_EQ(value.QueryTime(), 946728000);
  EXPECT_EQ(value.QueryTimeZone(), 3600);
  EXPECT_EQ(TDateTime(fields, -37800).QueryTimeZone(), -37800);

  EXPECT_TRUE(TDateTime(5, 0).IsEqual(TDateTime(5, 18000)));
  EXPECT_FALSE(TDateTime(5, 0).IsEqual(TDateTime(6, 0)));
  EXPECT_TRUE(TDateTime(-5, 0).IsLessThan(TDateTime(3, 0)));
  EXPECT_FALSE(TDateTime(3, 0).IsLessThan(TDateTime(3, -3600)));
  if constexpr (sizeof(long) > 4) {
    const long wide = static_cast<long>((1LL << 32) + 5); // keeps its low 32 bits
    EXPECT_EQ(TDateTime(wide, wide).QueryTime(), 5);
    EXPECT_EQ(TDateTime(wide, wide).QueryTimeZone(), 5);
  }
}

TEST(TDateTime, QueryTMBreaksDownAsUtc) {
  const std::tm epoch = TDateTime(0, -37800).QueryTM();
  EXPECT_EQ(epoch.tm_year * 10000 + epoch.tm_mon * 100 + epoch.tm_mday, 700001);
  EXPECT_EQ(epoch.tm_hour + epoch.tm_min + epoch.tm_sec + epoch.tm_isdst, 0);
  EXPECT_EQ(epoch.tm_wday, 4);
  EXPECT_EQ(epoch.tm_yday, 0);

  // Seconds to fields and back agree over the whole non-negative range.
  std::mt19937 random(1970);
  std::uniform_int_distribution<std::int32_t> anyTime(0, INT32_MAX);
  for (int i = 0; i < 20000; ++i) {
    const std::int32_t t = anyTime(random);
    ASSERT_EQ(TDateTime(TDateTime(t, 0).QueryTM(), 0).QueryTime(), t);
  }

  const std::tm none = TDateTime(-1, 0).QueryTM();
  for (int field : {none.tm_sec, none.tm_min, none.tm_hour, none.tm_mday, none.tm_mon, none.tm_year,
                    none.tm_wday, none.tm_yday, none.tm_isdst}) {
    EXPECT_EQ(field, 0);
  }
}

TEST(TDateTime, QueryStringFormatsTheUtcFields) {
  const TDateTime noon(946728000, 18000);
  const TString text = noon.QueryString("%Y-%m-%d %H:%M:%S");
  EXPECT_STREQ(static_cast<char*>(text), "2000-01-01 12:00:00");
  EXPECT_EQ(text.length(), 19u);
  EXPECT_FALSE(text.IsUnicode());
  EXPECT_GT(noon.QueryString(nullptr).length(), 0u);
  EXPECT_TRUE(noon.QueryString(nullptr).isEqual(noon.QueryString("%c")));
  EXPECT_EQ(static_cast<char*>(TDateTime(-1, 0).QueryString("%Y")), nullptr);

  // 200 format bytes expand to 400, more than the first attempt's room.
  std::string format;
  std::string expected;
  for (int i = 0; i < 100; ++i) {
    format += "%Y";
    expected += "2000";
  }
  const TString grown = noon.QueryString(format.c_str());
  EXPECT_EQ(std::string(static_cast<char*>(grown), grown.length()), expected);

  // An empty expansion ends as an empty string with a buffer.
  const TString empty = noon.QueryString("");
  ASSERT_NE(static_cast<char*>(empty), nullptr);
  EXPECT_EQ(empty.length(), 0u);
}

} // namespace
