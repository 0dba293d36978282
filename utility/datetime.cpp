// utility/datetime.cpp: TDateTime.
// Licensed under the Apache License, Version 2.0.
//
// Operating-system independent. Calendar fields become seconds by a pure days-from-civil
// computation, so the result never depends on the machine's zone or its daylight-saving rules;
// the current zone and the UTC breakdown come from the platform layer.
#include <tavutil/datetime.h>

#include "platform/platform.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <vector>

namespace {

constexpr char kDefaultFormat[] = "%c";
/// strftime gets at least the format's length plus this many bytes at the first attempt.
constexpr std::size_t kFormatSlack = 40;
/// The room for an expansion grows by doubling up to this multiple of the first attempt; an
/// expansion still not written by then counts as empty (strftime cannot tell the two apart).
constexpr std::size_t kMaxGrowthFactor = 256;

constexpr std::int64_t kSecondsPerDay = 86400;

/// Integer division rounding towards minus infinity.
constexpr std::int64_t FloorDiv(std::int64_t dividend, std::int64_t divisor) noexcept {
  return dividend / divisor -
         ((dividend % divisor != 0) && ((dividend < 0) != (divisor < 0)) ? 1 : 0);
}

/// Days from 1970-01-01 to the first day of `month` (1 to 12) of `year` in the proleptic
/// Gregorian calendar; negative before the epoch. The year starts in March here, so that the
/// leap day is the last day of its year.
constexpr std::int64_t DaysToFirstOfMonth(std::int64_t year, std::int64_t month) noexcept {
  const std::int64_t marchYear = month <= 2 ? year - 1 : year;
  const std::int64_t era = FloorDiv(marchYear, 400);
  const std::int64_t yearOfEra = marchYear - era * 400;                  // 0 to 399
  const std::int64_t monthFromMarch = month > 2 ? month - 3 : month + 9; // 0 to 11
  const std::int64_t dayOfYear = (153 * monthFromMarch + 2) / 5;         // of the 1st
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

static_assert(DaysToFirstOfMonth(1970, 1) == 0);
static_assert(DaysToFirstOfMonth(2000, 3) == 11017);
static_assert(DaysToFirstOfMonth(1969, 12) == -31);

/// Seconds since the epoch of the calendar fields taken as UTC, carrying every out-of-range
/// field into the next larger one as mktime does. Weekday, day of year and the daylight-saving
/// flag are ignored. Computed in 64 bits, where no field value can overflow.
std::int64_t SecondsFromFields(const std::tm& fields) noexcept {
  const std::int64_t monthIndex = fields.tm_mon; // 0 to 11 when in range
  const std::int64_t year = 1900 + std::int64_t{fields.tm_year} + FloorDiv(monthIndex, 12);
  const std::int64_t month = monthIndex - FloorDiv(monthIndex, 12) * 12 + 1;
  const std::int64_t days = DaysToFirstOfMonth(year, month) + std::int64_t{fields.tm_mday} - 1;
  return days * kSecondsPerDay + std::int64_t{fields.tm_hour} * 3600 +
         std::int64_t{fields.tm_min} * 60 + std::int64_t{fields.tm_sec};
}

/// The UTC breakdown of `time`; false for a time that is not broken down. Negative times are
/// refused on every platform, so that QueryTM and QueryString answer the same everywhere
/// (some systems break such times down, others cannot).
bool UtcFields(std::int32_t time, std::tm& fields) noexcept {
  return time >= 0 && tavutil::platform::BreakDownUtc(time, fields);
}

} // namespace

TDateTime::TDateTime() noexcept
    : fTime(static_cast<std::int32_t>(std::time(nullptr))),
      fZone(tavutil::platform::StandardTimeZone()) {}

TDateTime::TDateTime(const std::tm& fields, long zone) noexcept : fTime(0), fZone(0) {
  *this = fields;
  SetTimeZone(zone);
}

TDateTime& TDateTime::operator=(const std::tm& fields) noexcept {
  const std::int64_t seconds = SecondsFromFields(fields);
  if (seconds >= std::numeric_limits<std::int32_t>::min() &&
      seconds <= std::numeric_limits<std::int32_t>::max()) {
    fTime = static_cast<std::int32_t>(seconds);
  } else {
    // Beyond 32 bits the conversion has failed: -1 less the zone (see the header).
    fTime = -1 - tavutil::platform::StandardTimeZone();
  }
  return *this;
}

std::tm TDateTime::QueryTM() const noexcept {
  std::tm fields{};
  if (!UtcFields(fTime, fields)) {
    return std::tm{};
  }
  return fields;
}

TString TDateTime::QueryString(const char* format) const {
  std::tm fields{};
  if (!UtcFields(fTime, fields)) {
    return TString();
  }
  const char* const pattern = format != nullptr ? format : kDefaultFormat;
  const std::size_t first = std::strlen(pattern) + kFormatSlack - 1;
  const std::size_t ceiling = first > std::numeric_limits<unsigned int>::max() / kMaxGrowthFactor
                                  ? std::numeric_limits<unsigned int>::max()
                                  : first * kMaxGrowthFactor;

  // strftime answers 0 both for "too small" and for an empty expansion, so the room doubles
  // only up to the ceiling.
  std::size_t room = first;
  std::vector<char> scratch(room + 1, '\0');
  std::size_t written = std::strftime(scratch.data(), room, pattern, &fields);
  while (written == 0 && room < ceiling) {
    room = room > ceiling / 2 ? ceiling : room * 2;
    scratch.assign(room + 1, '\0');
    written = std::strftime(scratch.data(), room, pattern, &fields);
  }
  if (written > std::numeric_limits<unsigned int>::max()) {
    throw std::length_error("TDateTime::QueryString: text longer than 4 GiB");
  }
  return TString(scratch.data(), static_cast<unsigned int>(written));
}
