// utility/platform/logrecord.h: the classic syslog record that the system-log backends send.
// Licensed under the Apache License, Version 2.0.
//
// "<PRI>Mmm dd hh:mm:ss IDENT[PID]: TEXT", facility user, cut to one record. Internal to the
// platform layer; never installed.
#ifndef TAVUTIL_PLATFORM_LOGRECORD_H
#define TAVUTIL_PLATFORM_LOGRECORD_H

#include "platform/platform.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <string>

namespace tavutil::platform::logrecord {

/// The longest record sent; a longer text is cut. Every syslog receiver takes this much.
inline constexpr std::size_t kMaxRecord = 8192;
/// The facility of every entry: user-level messages.
inline constexpr int kFacilityUser = 1 << 3;

/// The syslog severity of a priority.
inline int Severity(LogPriority priority) noexcept {
  switch (priority) {
  case LogPriority::critical:
    return 2;
  case LogPriority::error:
    return 3;
  case LogPriority::warning:
    return 4;
  case LogPriority::notice:
    return 5;
  case LogPriority::info:
    return 6;
  case LogPriority::debug:
    break;
  }
  return 7;
}

/// Appends "IDENT[PID]: TEXT" to `record`, the text cut so that `record` stays within
/// kMaxRecord bytes. Throws std::bad_alloc.
inline void AppendTail(std::string& record, const std::string& ident, const char* text,
                       std::size_t size) {
  char pid[24];
  const int pidLength = std::snprintf(pid, sizeof pid, "[%u]: ", ProcessId());
  record += ident;
  record.append(pid, pidLength > 0 ? static_cast<std::size_t>(pidLength) : 0);
  if (record.size() < kMaxRecord && text != nullptr) {
    record.append(text, std::min(size, kMaxRecord - record.size()));
  }
}

/// Builds the whole record, stamped with the local time, in `record`. Throws std::bad_alloc.
inline void Build(std::string& record, const std::string& ident, LogPriority priority,
                  const char* text, std::size_t size) {
  static constexpr const char* kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const LocalTimeValue now = LocalTime();
  char head[64];
  const int headLength = std::snprintf(
      head, sizeof head, "<%d>%s %2d %02d:%02d:%02d ", kFacilityUser | Severity(priority),
      kMonths[(now.month + 11) % 12], now.day, now.hour, now.minute, now.second);
  record.assign(head, headLength > 0 ? static_cast<std::size_t>(headLength) : 0);
  AppendTail(record, ident, text, size);
}

} // namespace tavutil::platform::logrecord

#endif // TAVUTIL_PLATFORM_LOGRECORD_H
