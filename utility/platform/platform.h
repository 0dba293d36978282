// utility/platform/platform.h: the library's one window onto the operating system.
// Licensed under the Apache License, Version 2.0.
//
// The contract. Everything the library needs from the operating system is declared here and
// nowhere else; utility/platform/posix/ implements it for Linux, windows/ later. A service a
// platform lacks answers with a "not supported" result instead of failing to build. Nothing
// here throws: every failure is a return value, with the system's error code where one helps.
//
//   Identity and time:  ThreadId, ProcessId, LocalTime, StandardTimeZone, BreakDownUtc
//   Files:              MakeDirectory
//
// Internal to the library; never installed.
#ifndef TAVUTIL_PLATFORM_PLATFORM_H
#define TAVUTIL_PLATFORM_PLATFORM_H

#include <cstdint>
#include <ctime>

namespace tavutil::platform {

// ------------------------------------------------------------ identity and time ----

/// The calling thread's system-wide id.
std::uint32_t ThreadId() noexcept;
/// The calling process's id.
std::uint32_t ProcessId() noexcept;

/// A local wall-clock time broken down to milliseconds.
struct LocalTimeValue {
  int year;
  int month; ///< 1 to 12
  int day;   ///< 1 to 31
  int hour;
  int minute;
  int second;
  int millisecond;
};
/// The current local time.
LocalTimeValue LocalTime() noexcept;

/// The machine's standard time zone in seconds west of UTC (daylight saving not applied),
/// read afresh from the zone settings at each call; 0 (UTC) when none is configured.
std::int32_t StandardTimeZone() noexcept;
/// Breaks `time` (seconds since 1970-01-01 UTC) down into UTC calendar fields. Returns false,
/// leaving `fields` unspecified, when the system cannot break that time down.
bool BreakDownUtc(std::int64_t time, std::tm& fields) noexcept;

// ---------------------------------------------------------------------- files ----

/// Result of MakeDirectory.
enum class MakeDirectoryResult { made, exists, failed };
/// Makes one directory (its parent must exist) with the default permissions less the umask.
MakeDirectoryResult MakeDirectory(const char* path) noexcept;

} // namespace tavutil::platform

#endif // TAVUTIL_PLATFORM_PLATFORM_H
