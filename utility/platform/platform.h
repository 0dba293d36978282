// utility/platform/platform.h: the library's one window onto the operating system.
// Licensed under the Apache License, Version 2.0.
//
// The contract. Everything the library needs from the operating system is declared here and
// nowhere else; utility/platform/posix/ implements it for Linux, windows/ later. A service a
// platform lacks answers with a "not supported" result instead of failing to build. Nothing
// here throws: every failure is a return value, with the system's error code where one helps.
//
//   Identity and time:  ThreadId, ProcessId, LocalTime
//   Files:              MakeDirectory
//
// Internal to the library; never installed.
#ifndef TAVUTIL_PLATFORM_PLATFORM_H
#define TAVUTIL_PLATFORM_PLATFORM_H

#include <cstdint>

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

// ---------------------------------------------------------------------- files ----

/// Result of MakeDirectory.
enum class MakeDirectoryResult { made, exists, failed };
/// Makes one directory (its parent must exist) with the default permissions less the umask.
MakeDirectoryResult MakeDirectory(const char* path) noexcept;

} // namespace tavutil::platform

#endif // TAVUTIL_PLATFORM_PLATFORM_H
