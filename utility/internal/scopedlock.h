// utility/internal/scopedlock.h: the scoped lock that holds the library's own mutexes.
// Licensed under the Apache License, Version 2.0.
//
// Internal to the library; never installed. The library's own unnamed mutexes (the trace
// model's, the message store archive's, each factory loader's) are held with it, never with a
// bare TMutexSemaphoreEntry.
#ifndef TAVUTIL_INTERNAL_SCOPEDLOCK_H
#define TAVUTIL_INTERNAL_SCOPEDLOCK_H

#include <tavutil/mutexsem.h>

#include <cstdio>
#include <exception>

namespace tavutil::detail {

/// Holds one of the library's own mutexes for a scope, waiting without limit.
///
/// The lists these mutexes guard (trace states, category switches, the category registry,
/// message stores, registered factories) are shared by every thread, and no caller could repair
/// them after a walk that raced a change. So a lock that fails (the mutex could not be made when
/// the library loaded, or the system refuses it) never lets the work go on unguarded: it writes one
/// line to standard error and ends the process through std::terminate. Such a lock cannot throw
/// instead: its callers include destructors and the trace points of no-throw functions.
class ScopedLock {
public:
  explicit ScopedLock(TMutexSemaphore& mutex) noexcept
      : fEntry(mutex, TMutexSemaphore::fsInfinite) {
    if (fEntry.State() != TMutexSemaphore::locked) {
      Failed();
    }
  }
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;
  ~ScopedLock() = default;

private:
  [[noreturn]] static void Failed() noexcept {
    std::fputs("tavutil: an internal mutex could not be locked; ending the process\n", stderr);
    std::terminate();
  }

  TMutexSemaphoreEntry fEntry;
};

} // namespace tavutil::detail

#endif // TAVUTIL_INTERNAL_SCOPEDLOCK_H
