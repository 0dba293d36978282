// utility/platform/logrecord.h: the classic syslog record that the system-log backends send.
// Licensed under the Apache License, Version 2.0.
//
// "<PRI>Mmm dd hh:mm:ss IDENT[PID]: TEXT", facility user, cut to one record. A control byte of
// the identity or the text (below 0x20, and 0x7F) is written as '#' and its three octal digits
// ("#012" for a line end), as log daemons write what they receive, so that no entry can end a
// record early or forge another in a reader that splits on line ends. Internal to the platform
// layer; never installed.
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
/// The longest identity, in bytes as given (before escaping); a longer one is cut.
inline constexpr std::size_t kMaxIdent = 48;
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

/// Whether `byte` is written escaped.
inline bool IsControl(unsigned char byte) noexcept {
  return byte < 0x20 || byte == 0x7F;
}

/// Appends `size` bytes of `text`, control bytes escaped, as long as `record` stays within
/// `room` bytes; an escape is never cut. Throws std::bad_alloc when memory runs out.
inline void AppendEscaped(std::string& record, const char* text, std::size_t size,
                          std::size_t room) {
  for (std::size_t i = 0; i < size; ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const std::size_t length = IsControl(byte) ? 4 : 1;
    if (record.size() + length > room) {
      return;
    }
    if (length == 1) {
      record += static_cast<char>(byte);
    } else {
      const char escape[] = {'#', static_cast<char>('0' + (byte >> 6)),
                             static_cast<char>('0' + ((byte >> 3) & 7)),
                             static_cast<char>('0' + (byte & 7))};
      record.append(escape, sizeof escape);
    }
  }
}

/// Appends "IDENT[PID]: TEXT" to `record`, the identity cut to kMaxIdent bytes and the text cut
/// so that `record` stays within kMaxRecord bytes. Throws std::bad_alloc when memory runs out.
inline void AppendTail(std::string& record, const std::string& ident, const char* text,
                       std::size_t size) {
  char pid[24];
  const int pidLength = std::snprintf(pid, sizeof pid, "[%u]: ", ProcessId());
  AppendEscaped(record, ident.data(), std::min(ident.size(), kMaxIdent), kMaxRecord);
  record.append(pid, pidLength > 0 ? static_cast<std::size_t>(pidLength) : 0);
  if (text != nullptr) {
    AppendEscaped(record, text, size, kMaxRecord);
  }
}

/// Builds the whole record, stamped with the local time, in `record`. Throws std::bad_alloc when
/// memory runs out.
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
