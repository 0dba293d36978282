// tests/open_mutex.h: a mutex the mutex suites may lock and unlock without a scope, and a probe
// of it from another thread.
// Licensed under the Apache License, Version 2.0.
#ifndef TAVUTIL_TESTS_OPEN_MUTEX_H
#define TAVUTIL_TESTS_OPEN_MUTEX_H

#include <tavutil/mutexsem.h>

#include <thread>

/// A mutex whose lock and unlock the test may call without a scope.
class OpenMutex : public TMutexSemaphore {
public:
  using TMutexSemaphore::Lock;
  using TMutexSemaphore::TMutexSemaphore;
  using TMutexSemaphore::Unlock;
};

/// What a lock with time-out 0 gives on another thread, which lets go again at once.
inline TMutexSemaphore::EState TryElsewhere(OpenMutex& mutex) {
  TMutexSemaphore::EState state = TMutexSemaphore::failed;
  std::thread([&] { state = TMutexSemaphoreEntry(mutex, 0).State(); }).join();
  return state;
}

#endif // TAVUTIL_TESTS_OPEN_MUTEX_H
