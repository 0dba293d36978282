// tests/datetime_test.cpp: TDateTime, checked under whatever zone TZ names.
// Licensed under the Apache License, Version 2.0.
//
// CTest runs this suite under several zones; every expectation holds in each of them.
#include <tavutil/datetime.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <ctime>
#include <random>
#include <string>

namespace {

/// Calendar fields (month 1 to 12) with the ones TDateTime must ignore set.
std::tm Fields(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  t.tm_isdst = 1; // ignored, as are weekday and day of year
  t.tm_yday = 300;
  return t;
}

/// Seconds since 1970 UTC of calendar fields that may lie outside their ranges, worked out
/// independently of the library (days from the civil date in eras of 400 years).
long long UtcSeconds(const std::tm& t) {
  long long year = 1900LL + t.tm_year + t.tm_mon / 12;
  long long month = t.tm_mon % 12;
  if (month < 0) {
    month += 12;
    --year;
  }
  year -= month < 2 ? 1 : 0; // years start in March, so that leap days end them
  const long long era = (year >= 0 ? year : year - 399) / 400;
  const long long yearOfEra = year - era * 400;
  const long long dayOfYear = (153 * (month < 2 ? month + 10 : month - 2) + 2) / 5;
  const long long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  const long long days = era * 146097 + dayOfEra - 719468 + t.tm_mday - 1;
  return ((days * 24 + t.tm_hour) * 60 + t.tm_min) * 60LL + t.tm_sec;
}

TEST(TDateTime, FieldsAreReadAsUtcWhateverTheZone) {
  const auto seconds = [](const std::tm& fields) { return TDateTime(fields, 0).QueryTime(); };
  EXPECT_EQ(seconds(Fields(2000, 1, 1, 12)), 946728000);
  EXPECT_EQ(seconds(Fields(2000, 7, 1, 12)), 962452800); // daylight saving shifts nothing
  EXPECT_EQ(seconds(Fields(1969, 12, 31, 23, 59, 59)), -1);
  EXPECT_EQ(seconds(Fields(1901, 12, 13, 20, 45, 52)), INT32_MIN);
  EXPECT_EQ(seconds(Fields(2038, 1, 19, 3, 14, 7)), INT32_MAX);
  EXPECT_EQ(seconds(Fields(2000, -13, 1, 0, 0, -1)), seconds(Fields(1998, 10, 31, 23, 59, 59)));
  // A result beyond 32 bits is a failed conversion: -1 less the machine's standard zone.
  tzset();
  EXPECT_EQ(seconds(Fields(2038, 1, 19, 3, 14, 8)), -1 - timezone);
  EXPECT_EQ(seconds(Fields(INT_MAX, INT_MAX, 1, 0, 0, INT_MIN)), -1 - timezone);

  // Out-of-range fields carry over as in the C library's own UTC conversion.
  std::mt19937 random(20000101);
  const auto in = [&random](int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(random);
  };
  int compared = 0;
  for (int i = 0; i < 20000; ++i) {
    const std::tm t = Fields(in(1860, 2060), in(-30, 40), in(-400, 400), in(-50, 50),
                             in(-5000, 5000), in(-5000, 5000));
    const long long expected = UtcSeconds(t);
    if (expected >= INT32_MIN && expected <= INT32_MAX) {
      ASSERT_EQ(seconds(t), expected) << t.tm_year << "-" << t.tm_mon << "-" << t.tm_mday;
      ++compared;
    }
  }
  EXPECT_GT(compared, 10000);
}

TEST(TDateTime, ZonesAreCarriedButNeverCompared) {
  const std::time_t before = std::time(nullptr);
  const TDateTime now;
  EXPECT_GE(now.QueryTime(), before);
  EXPECT_LE(now.QueryTime(), std::time(nullptr));
  tzset();
  EXPECT_EQ(now.QueryTimeZone(), timezone); // the standard offset, never the summer one

  TDateTime value(100, 3600);
  value = TDateTime(946728000, 0).QueryTM();
  EXPECT_EQ(value.QueryTimeZone(), 3600); // assignments keep the zone
  EXPECT_TRUE(TDateTime(5, 0).IsEqual(TDateTime(5, 18000)));
  EXPECT_FALSE(TDateTime(5, 0).IsEqual(TDateTime(6, 0)));
  EXPECT_TRUE(TDateTime(-5, 0).IsLessThan(TDateTime(3, 0)));
  EXPECT_FALSE(TDateTime(3, 0).IsLessThan(TDateTime(3, -3600)));
}

TEST(TDateTime, QueryTMBreaksDownAsUtcAndNegativeTimesNotAtAll) {
  const std::tm epoch = TDateTime(0, -37800).QueryTM();
  EXPECT_EQ(epoch.tm_year * 10000 + epoch.tm_mon * 100 + epoch.tm_mday, 700001);
  EXPECT_EQ(epoch.tm_hour + epoch.tm_min + epoch.tm_sec + epoch.tm_isdst + epoch.tm_yday, 0);
  EXPECT_EQ(epoch.tm_wday, 4);
  std::mt19937 random(1970); // fields and back agree over the whole non-negative range
  std::uniform_int_distribution<std::int32_t> anyTime(0, INT32_MAX);
  for (int i = 0; i < 20000; ++i) {
    const std::int32_t t = anyTime(random);
    ASSERT_EQ(TDateTime(TDateTime(t, 0).QueryTM(), 0).QueryTime(), t);
  }
  const std::tm none = TDateTime(-1, 0).QueryTM();
  EXPECT_EQ(none.tm_sec | none.tm_min | none.tm_hour | none.tm_mday | none.tm_mon | none.tm_year |
                none.tm_wday | none.tm_yday | none.tm_isdst,
            0);
}

TEST(TDateTime, QueryStringFormatsTheUtcFields) {
  const TDateTime noon(946728000, 18000);
  const TString c = noon.QueryString(nullptr); // "%c" by default
  // "%c" is the C library's own form of the fields ("Sat Jan  1 12:00:00 2000" in glibc's C
  // locale, "01/01/00 12:00:00" in another); the fields themselves show in an explicit format.
  std::tm fields = Fields(2000, 1, 1, 12);
  fields.tm_wday = 6;
  fields.tm_yday = 0;
  fields.tm_isdst = 0;
  char expected[128];
  ASSERT_GT(std::strftime(expected, sizeof expected, "%c", &fields), 0u);
  EXPECT_EQ(std::string(c, c.length()), expected);
  const TString fixed = noon.QueryString("%a %b %d %H:%M:%S %Y");
  EXPECT_EQ(std::string(fixed, fixed.length()), "Sat Jan 01 12:00:00 2000");
  // 6 format bytes expand to 72, beyond the first attempt's room (format + 39 bytes).
  EXPECT_TRUE(noon.QueryString("%c%c%c").isEqual(c + c + c));
  EXPECT_EQ(static_cast<char*>(TDateTime(-1, 0).QueryString("%Y")), nullptr);
  // An empty expansion ends the growing loop as an empty string with a buffer.
  const TString empty = noon.QueryString("");
  ASSERT_NE(static_cast<char*>(empty), nullptr);
  EXPECT_EQ(empty.length(), 0u);
}

} // namespace
