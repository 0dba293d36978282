// utility/platform/posix/system.cpp: identity, time and file services for POSIX systems.
// Licensed under the Apache License, Version 2.0.
#include "platform/platform.h"

#include <cerrno>
#include <ctime>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace tavutil::platform {

std::uint32_t ThreadId() noexcept {
  return static_cast<std::uint32_t>(::syscall(SYS_gettid));
}

std::uint32_t ProcessId() noexcept {
  return static_cast<std::uint32_t>(::getpid());
}

LocalTimeValue LocalTime() noexcept {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  std::tm parts{};
  const std::time_t seconds = now.tv_sec;
  ::localtime_r(&seconds, &parts);
  return LocalTimeValue{parts.tm_year + 1900,
                        parts.tm_mon + 1,
                        parts.tm_mday,
                        parts.tm_hour,
                        parts.tm_min,
                        parts.tm_sec,
                        static_cast<int>(now.tv_nsec / 1000000)};
}

std::int32_t StandardTimeZone() noexcept {
  ::tzset();
  // POSIX `timezone` is the standard offset west of UTC, whatever the season.
  return static_cast<std::int32_t>(::timezone);
}

bool BreakDownUtc(std::int64_t time, std::tm& fields) noexcept {
  const auto seconds = static_cast<std::time_t>(time);
  if (static_cast<std::int64_t>(seconds) != time) {
    return false;
  }
  return ::gmtime_r(&seconds, &fields) != nullptr;
}

MakeDirectoryResult MakeDirectory(const char* path) noexcept {
  if (::mkdir(path, 0777) == 0) {
    return MakeDirectoryResult::made;
  }
  return errno == EEXIST ? MakeDirectoryResult::exists : MakeDirectoryResult::failed;
}

} // namespace tavutil::platform
