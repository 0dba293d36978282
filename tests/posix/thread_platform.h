// tests/posix/thread_platform.h: what the thread tests ask of the system about a thread itself.
// Licensed under the Apache License, Version 2.0.
#ifndef TAVUTIL_TESTS_THREAD_PLATFORM_H
#define TAVUTIL_TESTS_THREAD_PLATFORM_H

#include <cerrno>
#include <climits>
#include <cstddef>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

/// The calling thread's system-wide id, as trace prefixes show it.
inline long OwnThreadId() {
  return ::syscall(SYS_gettid);
}

/// The stack size the calling thread runs on, in bytes; 0 when unknown.
inline std::size_t OwnStackSize() {
  pthread_attr_t attributes;
  std::size_t size = 0;
  if (::pthread_getattr_np(::pthread_self(), &attributes) == 0) {
    ::pthread_attr_getstacksize(&attributes, &size);
    ::pthread_attr_destroy(&attributes);
  }
  return size;
}

/// The system's error code for a post to a semaphore that is full.
constexpr unsigned kTooManyPostsError = EOVERFLOW;

/// A stack size no thread can be given (half the address space, which a 32-bit process on a
/// 64-bit system may get: there the whole of it), and why there is none when 0.
constexpr unsigned long kUngivableStackSize = sizeof(void*) == 4 ? ULONG_MAX : ULONG_MAX / 2;
constexpr const char* kNoUngivableStackReason = nullptr;

/// Why a thread that ends itself from inside Run cannot be tested here; null when it can.
constexpr const char* kNoThreadExitReason = nullptr;

/// Ends the calling thread at once (pthread_exit, which unwinds its stack).
[[noreturn]] inline void ExitThisThread() {
  ::pthread_exit(nullptr);
}

#endif // TAVUTIL_TESTS_THREAD_PLATFORM_H
