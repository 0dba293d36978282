// tavutil/datetime.h: TDateTime, a point in time with a zone beside it, and TDate and TTime.
// Licensed under the Apache License, Version 2.0.
//
// A TagVar carries these as its date, time and datetime values. TDate and TTime hold no data:
// they only give a value its tag.
#ifndef TAVUTIL_DATETIME_H
#define TAVUTIL_DATETIME_H

#include <cstdint>
#include <ctime>
#include <tavutil/config.h>
#include <tavutil/tstring.h>

/// Seconds since 1970-01-01 00:00:00 UTC, with a time zone carried beside them.
///
/// Both values are 32-bit; the API takes and gives `long`, and a wider `long` keeps only its
/// low 32 bits. The zone (seconds west of UTC) is stored and can be set, but nothing here
/// applies it: comparisons and breakdowns read the time as UTC.
///
///   std::tm fields{};                                      // 2000-01-01 12:00:00
///   fields.tm_year = 100; fields.tm_mday = 1; fields.tm_hour = 12;
///   TDateTime when(fields, 0);                             // 946728000 in every zone
///   when.QueryString("%Y-%m-%d");                          // "2000-01-01"
class TAVUTIL_API TDateTime {
public:
  /// The current time, with the machine's standard time zone (daylight saving not applied).
  /// Throws nothing.
  TDateTime() noexcept;
  /// A copy of both values. Throws nothing.
  TDateTime(const TDateTime& other) noexcept = default;
  /// Copies both values. Throws nothing.
  TDateTime& operator=(const TDateTime& other) noexcept = default;
  /// Stores both values. Throws nothing.
  TDateTime(long time, long zone) noexcept
      : fTime(static_cast<std::int32_t>(time)), fZone(static_cast<std::int32_t>(zone)) {}
  /// The calendar fields of `fields` read as UTC (see operator=(const std::tm&)), and `zone`.
  /// Throws nothing.
  TDateTime(const std::tm& fields, long zone) noexcept;
  /// Throws nothing.
  ~TDateTime() = default;

  /// Sets the time to the calendar fields of `fields` read as UTC; the zone stays. Fields out
  /// of range are carried over (day 32 of January is February 1, second -1 the second before
  /// the minute). A result that does not fit in 32 bits is a failed conversion, which stores
  /// -1 minus the machine's standard time zone: the failure value -1, taken as local
  /// standard time, read as UTC. Throws nothing.
  TDateTime& operator=(const std::tm& fields) noexcept;
  /// Sets the time; the zone stays. Throws nothing.
  TDateTime& operator=(long time) noexcept {
    fTime = static_cast<std::int32_t>(time);
    return *this;
  }

  /// The time: seconds since 1970-01-01 00:00:00 UTC. Throws nothing.
  long QueryTime() const noexcept { return fTime; }
  /// The zone, in seconds west of UTC. Throws nothing.
  long QueryTimeZone() const noexcept { return fZone; }
  /// Stores the zone (seconds west of UTC); the time stays. Throws nothing.
  void SetTimeZone(long zone) noexcept { fZone = static_cast<std::int32_t>(zone); }

  /// The UTC breakdown of the time. A time that cannot be broken down (any negative time)
  /// gives a breakdown whose fields are all 0. Throws nothing.
  std::tm QueryTM() const noexcept;
  /// Whether the times are equal; zones are not compared. Throws nothing.
  int IsEqual(const TDateTime& other) const noexcept { return fTime == other.fTime; }
  /// Whether this time is earlier, as signed values; zones are not compared. Throws nothing.
  int IsLessThan(const TDateTime& other) const noexcept { return fTime < other.fTime; }
  /// The time's UTC breakdown formatted by strftime with `format` ("%c" when null). A time
  /// that cannot be broken down gives a string without buffer; a format whose expansion is
  /// empty, or longer than 256 times the format plus 40 bytes, gives an empty string.
  /// Throws std::bad_alloc when memory runs out, std::length_error when the text passes
  /// 4 GiB.
  TString QueryString(const char* format) const;

private:
  std::int32_t fTime;
  std::int32_t fZone;
};

/// A date tag for TagVar; holds no data.
class TAVUTIL_API TDate {
public:
  /// Throws nothing.
  TDate() noexcept = default;
  /// Throws nothing.
  TDate(const TDate& other) noexcept = default;
  /// Throws nothing.
  TDate& operator=(const TDate& other) noexcept = default;
  /// Throws nothing.
  ~TDate() = default;
};

/// A time-of-day tag for TagVar; holds no data.
class TAVUTIL_API TTime {};

#endif // TAVUTIL_DATETIME_H
