// utility/platform/posix/deadline.h: absolute deadlines for the timed waits of pthreads.
// Licensed under the Apache License, Version 2.0.
//
// Internal to the POSIX platform layer; never installed.
#ifndef TAVUTIL_PLATFORM_POSIX_DEADLINE_H
#define TAVUTIL_PLATFORM_POSIX_DEADLINE_H

#include <ctime>

namespace tavutil::platform::posix {

/// The moment `timeoutMs` (not negative) milliseconds from now on `clock`.
inline timespec DeadlineAfter(clockid_t clock, long timeoutMs) noexcept {
  timespec deadline{};
  ::clock_gettime(clock, &deadline);
  deadline.tv_sec += static_cast<time_t>(timeoutMs / 1000);
  deadline.tv_nsec += (timeoutMs % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  return deadline;
}

} // namespace tavutil::platform::posix

#endif // TAVUTIL_PLATFORM_POSIX_DEADLINE_H
