// utility/platform/posix/system.cpp: identity, time and file services for POSIX systems.
// Licensed under the Apache License, Version 2.0.
#include "platform/platform.h"

#include <atomic>
#include <cerrno>
#include <ctime>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace tavutil::platform {

namespace {

/// The calling thread's id, cached: a system call costs a microsecond on some machines, and
/// locks and trace prefixes ask for it every time. Initial-exec TLS: read at a fixed offset
/// from the thread pointer, without a call into the dynamic linker.
__attribute__((tls_model("initial-exec"))) thread_local std::uint32_t tThreadId = 0;
/// The process id, cached for the same reason (the C library no longer caches it).
std::atomic<std::uint32_t> gProcessId{0};
pthread_once_t gForkHandlerOnce = PTHREAD_ONCE_INIT;

/// In a child after fork the one thread has new ids; the cached ones were its parent's.
void ForgetIds() noexcept {
  tThreadId = 0;
  gProcessId.store(0, std::memory_order_relaxed);
}

void InstallForkHandler() noexcept {
  ::pthread_atfork(nullptr, nullptr, ForgetIds);
}

} // namespace

std::uint32_t ThreadId() noexcept {
  if (tThreadId == 0) {
    ::pthread_once(&gForkHandlerOnce, InstallForkHandler);
    tThreadId = static_cast<std::uint32_t>(::syscall(SYS_gettid));
  }
  return tThreadId;
}

std::uint32_t ProcessId() noexcept {
  std::uint32_t id = gProcessId.load(std::memory_order_relaxed);
  if (id == 0) {
    ::pthread_once(&gForkHandlerOnce, InstallForkHandler);
    id = static_cast<std::uint32_t>(::getpid());
    gProcessId.store(id, std::memory_order_relaxed);
  }
  return id;
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

WallTime CurrentWallTime() noexcept {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return WallTime{static_cast<std::int64_t>(now.tv_sec), static_cast<int>(now.tv_nsec / 1000000)};
}

bool BreakDownLocal(std::int64_t time, std::tm& fields) noexcept {
  const auto seconds = static_cast<std::time_t>(time);
  return ::localtime_r(&seconds, &fields) != nullptr;
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
