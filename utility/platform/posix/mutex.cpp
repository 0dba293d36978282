// utility/platform/posix/mutex.cpp: unnamed and named recursive mutexes for POSIX systems.
// Licensed under the Apache License, Version 2.0.
//
// Both kinds are robust, recursive pthread mutexes. A named one is also process-shared and
// lives in a named object of POSIX shared memory (namedobject.h), so every process that opens
// the name maps the same mutex, and the object goes with its last user. When a holder dies,
// thread or process, pthreads gives the next locker EOWNERDEAD; that locker makes the mutex
// consistent and holds it.
//
// Beside the mutex each one keeps its holder's thread id and hold count, written only by the
// holder. They let UnlockMutex ignore a thread that holds nothing, and let CloseMutex release
// the closing thread's holds before the memory goes: a held robust mutex is linked into its
// holder's robust list, which must never point into unmapped or freed memory.
#include "platform/platform.h"
#include "platform/posix/deadline.h"
#include "platform/posix/namedobject.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <pthread.h>

#if defined(__SANITIZE_THREAD__)
#define TAVUTIL_UNDER_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define TAVUTIL_UNDER_TSAN 1
#endif
#endif
#if defined(TAVUTIL_UNDER_TSAN)
#include <sanitizer/tsan_interface.h>
#endif

namespace tavutil::platform {
namespace {

/// The mutex and its holder; in process memory, or the payload of a named object.
struct MutexState {
  pthread_mutex_t mutex;
  std::atomic<std::uint32_t> holder; ///< system thread id of the holder, 0 when free
  std::atomic<std::uint32_t> depth;  ///< holds of that thread
};

/// Initialises a robust, recursive mutex, process-shared when `shared`; 0 or an error code.
int InitialiseMutex(MutexState& state, bool shared) noexcept {
  state.holder.store(0, std::memory_order_relaxed);
  state.depth.store(0, std::memory_order_relaxed);
  pthread_mutexattr_t attributes;
  int rc = ::pthread_mutexattr_init(&attributes);
  if (rc != 0) {
    return rc;
  }
  rc = ::pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  if (rc == 0) {
    rc = ::pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
  }
  if (rc == 0 && shared) {
    rc = ::pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
  }
  if (rc == 0) {
    rc = ::pthread_mutex_init(&state.mutex, &attributes);
  }
  ::pthread_mutexattr_destroy(&attributes);
  return rc;
}

/// Builds the mutex of a new named object (a PayloadInitialiser).
int InitialiseSharedMutex(void* payload) noexcept {
  return InitialiseMutex(*new (payload) MutexState, true);
}

/// Waits for the mutex until `timeoutMs` from now; a pthread result.
int TimedLock(pthread_mutex_t& mutex, long timeoutMs) noexcept {
#if defined(TAVUTIL_UNDER_TSAN)
  // ThreadSanitizer does not intercept pthread_mutex_clocklock and would miss the lock; under
  // it the wait runs on the wall clock instead.
  const timespec deadline = posix::DeadlineAfter(CLOCK_REALTIME, timeoutMs);
  return ::pthread_mutex_timedlock(&mutex, &deadline);
#else
  // The monotonic clock, so that setting the system time neither ends nor stretches the wait.
  const timespec deadline = posix::DeadlineAfter(CLOCK_MONOTONIC, timeoutMs);
  return ::pthread_mutex_clocklock(&mutex, CLOCK_MONOTONIC, &deadline);
#endif
}

} // namespace

/// A mutex as the library holds it: its own, or one mapped from a named object.
struct MutexHandle {
  MutexState* state = nullptr;
  MutexState local{};
  posix::NamedObject named;
  bool isNamed = false;
};

MutexHandle* OpenMutexHandle(const char* name, int& error) noexcept {
  error = 0;
  std::unique_ptr<MutexHandle> handle(new (std::nothrow) MutexHandle);
  if (handle == nullptr) {
    error = ENOMEM;
    return nullptr;
  }
  if (name == nullptr || *name == '\0') {
    error = InitialiseMutex(handle->local, false);
    if (error != 0) {
      return nullptr;
    }
    handle->state = &handle->local;
    return handle.release();
  }
  const posix::NamedObjectRequest request{
      posix::IpcKind::mutex, name,
      std::strlen(name),     posix::NamedObjectMode::createOrOpen,
      sizeof(MutexState),    alignof(MutexState),
      InitialiseSharedMutex, sizeof(MutexState)};
  const posix::NamedObjectResult result = posix::AcquireNamedObject(request, handle->named, error);
  if (result != posix::NamedObjectResult::created && result != posix::NamedObjectResult::opened) {
    return nullptr;
  }
  handle->isNamed = true;
  handle->state = static_cast<MutexState*>(handle->named.payload);
  return handle.release();
}

MutexLockResult LockMutex(MutexHandle& mutex, long timeoutMs) noexcept {
  MutexState& state = *mutex.state;
  int rc = 0;
  if (timeoutMs == 0) {
    rc = ::pthread_mutex_trylock(&state.mutex);
  } else if (timeoutMs < 0) {
    rc = ::pthread_mutex_lock(&state.mutex);
  } else {
    rc = TimedLock(state.mutex, timeoutMs);
  }
  const std::uint32_t self = ThreadId();
  switch (rc) {
  case 0:
    if (state.holder.load(std::memory_order_relaxed) == self) {
      state.depth.store(state.depth.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    } else {
      state.holder.store(self, std::memory_order_relaxed);
      state.depth.store(1, std::memory_order_relaxed);
    }
    return MutexLockResult::acquired;
  case EOWNERDEAD:
#if defined(TAVUTIL_UNDER_TSAN)
    // ThreadSanitizer records a timed lock only when it gives 0; tell it about this one.
    if (timeoutMs > 0) {
      __tsan_mutex_pre_lock(&state.mutex, __tsan_mutex_try_lock);
      __tsan_mutex_post_lock(&state.mutex, __tsan_mutex_try_lock, 0);
    }
#endif
    // The holder ended without releasing. The mutex passes to this thread, as an abandoned
    // mutex does; whatever it guarded is the caller's to check.
    if (::pthread_mutex_consistent(&state.mutex) != 0) {
      ::pthread_mutex_unlock(&state.mutex);
      return MutexLockResult::failed;
    }
    state.holder.store(self, std::memory_order_relaxed);
    state.depth.store(1, std::memory_order_relaxed);
    return MutexLockResult::acquired;
  case EBUSY:
  case ETIMEDOUT:
    return MutexLockResult::timedOut;
  default:
    return MutexLockResult::failed;
  }
}

void UnlockMutex(MutexHandle& mutex) noexcept {
  MutexState& state = *mutex.state;
  if (state.holder.load(std::memory_order_relaxed) != ThreadId()) {
    return;
  }
  const std::uint32_t depth = state.depth.load(std::memory_order_relaxed);
  if (depth > 1) {
    state.depth.store(depth - 1, std::memory_order_relaxed);
  } else {
    state.depth.store(0, std::memory_order_relaxed);
    state.holder.store(0, std::memory_order_relaxed);
  }
  ::pthread_mutex_unlock(&state.mutex);
}

int CloseMutex(MutexHandle* mutex) noexcept {
  if (mutex == nullptr) {
    return 0;
  }
  std::unique_ptr<MutexHandle> handle(mutex);
  // Holds of the closing thread end here; the try adds one more, released with the rest.
  if (LockMutex(*handle, 0) == MutexLockResult::acquired) {
    const std::uint32_t self = ThreadId();
    while (handle->state->holder.load(std::memory_order_relaxed) == self) {
      UnlockMutex(*handle);
    }
  }
  if (handle->isNamed) {
    return posix::ReleaseNamedObject(handle->named);
  }
  return ::pthread_mutex_destroy(&handle->local.mutex);
}

} // namespace tavutil::platform
