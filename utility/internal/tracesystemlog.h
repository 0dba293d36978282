// utility/internal/tracesystemlog.h: the trace output that writes to the system log.
// Licensed under the Apache License, Version 2.0.
//
// Internal to the library; never installed. A trace specification makes it for the output
// name "pm"; each accepted entry becomes one system-log entry under the output's identity.
#ifndef TAVUTIL_INTERNAL_TRACESYSTEMLOG_H
#define TAVUTIL_INTERNAL_TRACESYSTEMLOG_H

#include <tavutil/trace.h>

#include "platform/platform.h"

namespace tavutil::detail {

/// The system-log priority of an entry of `level` (one level bit): failures and warnings keep
/// their weight, exceptions are notices (their callers may handle them), information is
/// information, and everything else (debugging, entries, exits, bits without a letter) is
/// debugging.
constexpr platform::LogPriority SystemLogPriority(unsigned long level) noexcept {
  switch (level) {
  case 0x2: // "se"
    return platform::LogPriority::critical;
  case 0x4: // "er"
    return platform::LogPriority::error;
  case 0x8: // "wa"
    return platform::LogPriority::warning;
  case 0x1:   // "ou"
  case 0x400: // "xc"
    return platform::LogPriority::notice;
  case 0x10: // "in"
  case 0x20: // "i2"
    return platform::LogPriority::info;
  default:
    return platform::LogPriority::debug;
  }
}

/// A handle on a new system-log output under `ident` (levels 0xF, every component). `address`
/// names another log socket than the system's (null for the system's own). Throws
/// std::bad_alloc; a log that cannot be reached loses its entries silently.
TTrace MakeSystemLogTrace(const char* ident, const char* address = nullptr);

} // namespace tavutil::detail

#endif // TAVUTIL_INTERNAL_TRACESYSTEMLOG_H
