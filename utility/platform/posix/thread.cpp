// utility/platform/posix/thread.cpp: threads and binary semaphores for POSIX systems.
// Licensed under the Apache License, Version 2.0.
//
// A thread is a detached pthread. A semaphore is a count of 0 or 1 under a mutex, with a
// condition variable that runs on the monotonic clock, so a change of the wall clock neither
// ends a wait early nor stretches it.
#include "platform/platform.h"
#include "platform/posix/deadline.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <ctime>
#include <memory>
#include <new>
#include <pthread.h>
#include <unistd.h>

namespace tavutil::platform {

// ----------------------------------------------------------------- threads ----

namespace {

/// What the new thread needs; made by StartThread, freed by the thread.
struct ThreadStart {
  ThreadEntry entry;
  void* argument;
};

/// The pthread entry. Not noexcept: a thread that calls pthread_exit unwinds through it.
void* RunThread(void* start) {
  const std::unique_ptr<ThreadStart> owned(static_cast<ThreadStart*>(start));
  owned->entry(owned->argument);
  return nullptr;
}

/// `stackSize` raised to the platform's minimum and rounded up to whole pages; 0 when that
/// does not fit in a size_t.
std::size_t UsableStackSize(std::size_t stackSize) noexcept {
  const long page = ::sysconf(_SC_PAGESIZE);
  const std::size_t pageSize = page > 0 ? static_cast<std::size_t>(page) : 4096;
  // PTHREAD_STACK_MIN may be a call to sysconf, of a signed type.
  const long minimum = PTHREAD_STACK_MIN;
  const std::size_t floor = minimum > 0 ? static_cast<std::size_t>(minimum) : pageSize;
  const std::size_t size = stackSize < floor ? floor : stackSize;
  if (size > SIZE_MAX - (pageSize - 1)) {
    return 0;
  }
  return (size + pageSize - 1) / pageSize * pageSize;
}

} // namespace

bool StartThread(ThreadEntry entry, void* argument, std::size_t stackSize, int& error) noexcept {
  error = 0;
  std::unique_ptr<ThreadStart> start(new (std::nothrow) ThreadStart{entry, argument});
  if (start == nullptr) {
    error = ENOMEM;
    return false;
  }
  pthread_attr_t attributes;
  error = ::pthread_attr_init(&attributes);
  if (error != 0) {
    return false;
  }
  error = ::pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  if (error == 0 && stackSize != 0) {
    const std::size_t size = UsableStackSize(stackSize);
    error = size != 0 ? ::pthread_attr_setstacksize(&attributes, size) : EINVAL;
  }
  if (error == 0) {
    pthread_t thread;
    error = ::pthread_create(&thread, &attributes, RunThread, start.get());
  }
  ::pthread_attr_destroy(&attributes);
  if (error != 0) {
    return false;
  }
  static_cast<void>(start.release()); // the thread owns it now
  return true;
}

// -------------------------------------------------------------- semaphores ----

struct SemaphoreHandle {
  pthread_mutex_t mutex;
  pthread_cond_t condition; ///< runs on CLOCK_MONOTONIC
  bool count = false;
  unsigned waiters = 0; ///< threads inside a blocking wait
};

namespace {

/// Initialises the condition variable on the monotonic clock; 0 or an error code.
int InitialiseCondition(pthread_cond_t& condition) noexcept {
  pthread_condattr_t attributes;
  int rc = ::pthread_condattr_init(&attributes);
  if (rc != 0) {
    return rc;
  }
  rc = ::pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
  if (rc == 0) {
    rc = ::pthread_cond_init(&condition, &attributes);
  }
  ::pthread_condattr_destroy(&attributes);
  return rc;
}

} // namespace

SemaphoreHandle* NewSemaphore(bool initial, int& error) noexcept {
  std::unique_ptr<SemaphoreHandle> semaphore(new (std::nothrow) SemaphoreHandle);
  if (semaphore == nullptr) {
    error = ENOMEM;
    return nullptr;
  }
  error = ::pthread_mutex_init(&semaphore->mutex, nullptr);
  if (error != 0) {
    return nullptr;
  }
  error = InitialiseCondition(semaphore->condition);
  if (error != 0) {
    ::pthread_mutex_destroy(&semaphore->mutex);
    return nullptr;
  }
  semaphore->count = initial;
  return semaphore.release();
}

SemaphoreWaitResult WaitSemaphore(SemaphoreHandle& semaphore, long timeoutMs, int& code,
                                  int& error) noexcept {
  code = 0;
  error = 0;
  int rc = ::pthread_mutex_lock(&semaphore.mutex);
  if (rc != 0) {
    code = error = rc;
    return SemaphoreWaitResult::failed;
  }
  if (!semaphore.count && timeoutMs != 0) {
    // The deadline is fixed once, so spurious wake-ups do not restart the time-out.
    const timespec deadline =
        timeoutMs > 0 ? posix::DeadlineAfter(CLOCK_MONOTONIC, timeoutMs) : timespec{};
    ++semaphore.waiters;
    while (!semaphore.count && rc == 0) {
      rc = timeoutMs < 0
               ? ::pthread_cond_wait(&semaphore.condition, &semaphore.mutex)
               : ::pthread_cond_timedwait(&semaphore.condition, &semaphore.mutex, &deadline);
    }
    --semaphore.waiters;
  }
  SemaphoreWaitResult result = SemaphoreWaitResult::timedOut;
  if (semaphore.count) {
    // A post that came with the time-out still counts.
    semaphore.count = false;
    result = SemaphoreWaitResult::acquired;
  } else if (rc != 0 && rc != ETIMEDOUT) {
    code = error = rc;
    result = SemaphoreWaitResult::failed;
  }
  ::pthread_mutex_unlock(&semaphore.mutex);
  return result;
}

SemaphorePostResult PostSemaphore(SemaphoreHandle& semaphore, int& error) noexcept {
  error = ::pthread_mutex_lock(&semaphore.mutex);
  if (error != 0) {
    return SemaphorePostResult::failed;
  }
  SemaphorePostResult result = SemaphorePostResult::posted;
  if (semaphore.count) {
    error = EOVERFLOW;
    result = SemaphorePostResult::full;
  } else {
    semaphore.count = true;
    // Signalled under the mutex: a waiter that returns may destroy the semaphore at once,
    // which must not happen while this thread still touches the condition variable.
    if (semaphore.waiters != 0) {
      ::pthread_cond_signal(&semaphore.condition);
    }
  }
  ::pthread_mutex_unlock(&semaphore.mutex);
  return result;
}

int CloseSemaphore(SemaphoreHandle* semaphore) noexcept {
  if (semaphore == nullptr) {
    return 0;
  }
  const std::unique_ptr<SemaphoreHandle> owned(semaphore);
  const int conditionError = ::pthread_cond_destroy(&owned->condition);
  const int mutexError = ::pthread_mutex_destroy(&owned->mutex);
  return conditionError != 0 ? conditionError : mutexError;
}

// ---------------------------------------------------------- thread-end slots ----

/// A pthread key, whose destructor pthreads runs for each ending thread's non-null value.
struct ThreadSlot {
  pthread_key_t key;
};

ThreadSlot* NewThreadSlot(void (*release)(void* value)) noexcept {
  std::unique_ptr<ThreadSlot> slot(new (std::nothrow) ThreadSlot);
  if (slot == nullptr || ::pthread_key_create(&slot->key, release) != 0) {
    return nullptr;
  }
  return slot.release();
}

bool SetThreadSlot(ThreadSlot& slot, void* value) noexcept {
  return ::pthread_setspecific(slot.key, value) == 0;
}

void DeleteThreadSlot(ThreadSlot* slot) noexcept {
  if (slot != nullptr) {
    ::pthread_key_delete(slot->key);
    delete slot;
  }
}

} // namespace tavutil::platform
