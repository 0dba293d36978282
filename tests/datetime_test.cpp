// tests/datetime_test.cpp: TDateTime, checked under whatever zone TZ names.
// Licensed under the Apache License, Version 2.0.
//
// CTest runs this suite under several zones; every expectation holds in each of them.
#include <tavutil/datetime.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <time.h>

namespace {

std::tm Fields(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return t;
}

long Seconds(const std::tm& fields) {
  return TDateTime(fields, 0).QueryTime();
}

/// The standard zone (seconds west of UTC) as the C library reports it right now.
long SystemZone() {
  tzset();
  return timezone;
}

TEST(TDateTime, FieldsAreReadAsUtcWhateverTheZone) {
  EXPECT_EQ(Seconds(Fields(2000, 1, 1, 12)), 946728000);
  // Summer: daylight saving must not shift the result, whatever the daylight flag says.
  std::tm summer = Fields(2000, 7, 1, 12);
  for (int dst : {-1, 0, 1}) {
    summer.tm_isdst = dst;
    summer.tm_wday = 6; // weekday and day of year are ignored
    summer.tm_yday = 300;
    EXPECT_EQ(Seconds(summer), 962452800) << "isdst " << dst;
  }
  EXPECT_EQ(Seconds(Fields(1970, 1, 1)), 0);
  EXPECT_EQ(Seconds(Fields(1969, 12, 31, 23, 59, 59)), -1);
  EXPECT_EQ(Seconds(Fields(1901, 12, 13, 20, 45, 52)), INT32_MIN);
  EXPECT_EQ(Seconds(Fields(2038, 1, 19, 3, 14, 7)), INT32_MAX);

  const TDateTime withZone(Fields(2000, 1, 1, 12), -37800);
  EXPECT_EQ(withZone.QueryTime(), 946728000);
  EXPECT_EQ(withZone.QueryTimeZone(), -37800);
}

TEST(TDateTime, OutOfRangeFieldsCarryOver) {
  EXPECT_EQ(Seconds(Fields(2000, 1, 32)), Seconds(Fields(2000, 2, 1)));
  EXPECT_EQ(Seconds(Fields(2001, 2, 29)), Seconds(Fields(2001, 3, 1)));
  EXPECT_EQ(Seconds(Fields(2000, 2, 29)) + 86400, Seconds(Fields(2000, 3, 1)));
  EXPECT_EQ(Seconds(Fields(1999, 13, 1)), Seconds(Fields(2000, 1, 1)));
  EXPECT_EQ(Seconds(Fields(2000, 0, 1)), Seconds(Fields(1999, 12, 1)));
  EXPECT_EQ(Seconds(Fields(2000, -13, 1)), Seconds(Fields(1998, 11, 1)));
  EXPECT_EQ(Seconds(Fields(2000, 3, 0)), Seconds(Fields(2000, 2, 29)));
  EXPECT_EQ(Seconds(Fields(2000, 1, 1, 0, 0, -1)), 946684799);
  EXPECT_EQ(Seconds(Fields(2000, 1, 1, 24, 60, 60)), Seconds(Fields(2000, 1, 2, 1, 1)));

  // The C library's own UTC conversion normalises the same way.
  std::mt19937 random(20000101);
  std::uniform_int_distribution<int> year(-40, 160), month(-30, 40), day(-400, 400),
      clock(-5000, 5000);
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
      ASSERT_EQ(Seconds(t), expected)
          << "year " << t.tm_year << " mon " << t.tm_mon << " mday " << t.tm_mday;
      ++compared;
    }
  }
  EXPECT_GT(compared, 10000);
}

TEST(TDateTime, ResultBeyondThirtyTwoBitsGivesMinusOneLessTheZone) {
  const long failed = -1 - SystemZone();
  EXPECT_EQ(Seconds(Fields(2038, 1, 19, 3, 14, 8)), failed);
  EXPECT_EQ(Seconds(Fields(1901, 12, 13, 20, 45, 51)), failed);
  std::tm huge = Fields(2000, 1, 1);
  huge.tm_year = INT_MAX;
  huge.tm_mon = INT_MAX;
  huge.tm_sec = INT_MIN;
  EXPECT_EQ(Seconds(huge), failed);
}

TEST(TDateTime, DefaultTakesNowAndTheStandardZone) {
  const std::time_t before = std::time(nullptr);
  const TDateTime now;
  const std::time_t after = std::time(nullptr);
  EXPECT_GE(now.QueryTime(), before);
  EXPECT_LE(now.QueryTime(), after);
  EXPECT_EQ(now.QueryTimeZone(), SystemZone());

  // The standard offset, never the daylight-saving one, for the zones CTest runs under.
  const char* tz = std::getenv("TZ");
  const std::string zone = tz != nullptr ? tz : "";
  if (zone == "America/New_York") {
    EXPECT_EQ(now.QueryTimeZone(), 18000);
  } else if (zone == "Asia/Kolkata") {
    EXPECT_EQ(now.QueryTimeZone(), -19800);
  } else if (zone == "Australia/Lord_Howe") {
    EXPECT_EQ(now.QueryTimeZone(), -37800);
  } else if (zone == "UTC") {
    EXPECT_EQ(now.QueryTimeZone(), 0);
  }
}

TEST(TDateTime, AssignmentKeepsTheZoneAndComparisonIgnoresIt) {
  TDateTime value(100, 3600);
  value = 200L;
  EXPECT_EQ(value.QueryTime(), 200);
  EXPECT_EQ(value.QueryTimeZone(), 3600);
  value = Fields(2000, 1, 1, 12);
  EXPECT_EQ(value.QueryTime(), 946728000);
  EXPECT_EQ(value.QueryTimeZone(), 3600);
  value.SetTimeZone(-7200);
  EXPECT_EQ(value.QueryTimeZone(), -7200);

  EXPECT_TRUE(TDateTime(5, 0).IsEqual(TDateTime(5, 18000)));
  EXPECT_FALSE(TDateTime(5, 0).IsEqual(TDateTime(6, 0)));
  EXPECT_TRUE(TDateTime(-5, 0).IsLessThan(TDateTime(3, 0)));
  EXPECT_FALSE(TDateTime(3, 0).IsLessThan(TDateTime(-5, 0)));
  EXPECT_FALSE(TDateTime(3, 0).IsLessThan(TDateTime(3, -3600)));

  if constexpr (sizeof(long) > 4) {
    // Only the low 32 bits of a wider long are kept.
    const long wide = static_cast<long>((1LL << 32) + 5);
    EXPECT_EQ(TDateTime(wide, wide).QueryTime(), 5);
    EXPECT_EQ(TDateTime(wide, wide).QueryTimeZone(), 5);
  }
}

TEST(TDateTime, QueryTMBreaksDownAsUtc) {
  for (long zone : {0L, 18000L, -37800L}) {
    const std::tm epoch = TDateTime(0, zone).QueryTM();
    EXPECT_EQ(epoch.tm_year, 70);
    EXPECT_EQ(epoch.tm_mon, 0);
    EXPECT_EQ(epoch.tm_mday, 1);
    EXPECT_EQ(epoch.tm_hour + epoch.tm_min + epoch.tm_sec, 0);
    EXPECT_EQ(epoch.tm_wday, 4);
    EXPECT_EQ(epoch.tm_yday, 0);
    EXPECT_EQ(epoch.tm_isdst, 0);
  }
  const std::tm late = TDateTime(INT32_MAX, 0).QueryTM();
  EXPECT_EQ(late.tm_year, 138);
  EXPECT_EQ(late.tm_sec, 7);

  // Fields to seconds and back agree everywhere in the representable range.
  std::mt19937 random(1970);
  std::uniform_int_distribution<std::int32_t> anyTime(0, INT32_MAX);
  for (int i = 0; i < 20000; ++i) {
    const std::int32_t t = anyTime(random);
    ASSERT_EQ(Seconds(TDateTime(t, 0).QueryTM()), t);
  }

  for (long negative : {-1L, static_cast<long>(INT32_MIN)}) {
    const std::tm none = TDateTime(negative, 0).QueryTM();
    const int all[] = {none.tm_sec,  none.tm_min,  none.tm_hour, none.tm_mday, none.tm_mon,
                       none.tm_year, none.tm_wday, none.tm_yday, none.tm_isdst};
    for (int field : all) {
      EXPECT_EQ(field, 0) << "time " << negative;
    }
  }
}

TEST(TDateTime, QueryStringFormatsTheUtcFields) {
  const TDateTime noon(946728000, 18000);
  const TString text = noon.QueryString("%Y-%m-%d %H:%M:%S");
  EXPECT_STREQ(static_cast<char*>(text), "2000-01-01 12:00:00");
  EXPECT_EQ(text.length(), 19u);
  EXPECT_FALSE(text.IsUnicode());

  const TString byDefault = noon.QueryString(nullptr);
  EXPECT_GT(byDefault.length(), 0u);
  EXPECT_TRUE(byDefault.isEqual(noon.QueryString("%c")));

  // A negative time cannot be broken down: no buffer at all.
  EXPECT_EQ(static_cast<char*>(TDateTime(-1, 0).QueryString("%Y")), nullptr);
}

TEST(TDateTime, QueryStringGrowsForLongExpansionsAndEndsOnEmptyOnes) {
  const TDateTime noon(946728000, 0);
  // 200 format bytes expand to 400: more than the first attempt's room.
  std::string format, expected;
  for (int i = 0; i < 100; ++i) {
    format += "%Y";
    expected += "2000";
  }
  const TString grown = noon.QueryString(format.c_str());
  ASSERT_EQ(grown.length(), expected.size());
  EXPECT_EQ(std::string(static_cast<char*>(grown), grown.length()), expected);

  // An empty expansion is an empty string with a buffer, not an endless loop.
  const TString empty = noon.QueryString("");
  EXPECT_EQ(empty.length(), 0u);
  ASSERT_NE(static_cast<char*>(empty), nullptr);
  EXPECT_STREQ(static_cast<char*>(empty), "");
}

} // namespace
