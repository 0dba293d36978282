// tests/windows/thread_platform.h: what the thread tests ask of the system about a thread itself.
// Licensed under the Apache License, Version 2.0.
#ifndef TAVUTIL_TESTS_THREAD_PLATFORM_H
#define TAVUTIL_TESTS_THREAD_PLATFORM_H

#include <cstddef>
#include <process.h>
#include <windows.h>

/// The calling thread's system-wide id, as trace prefixes show it.
inline long OwnThreadId() {
  return static_cast<long>(::GetCurrentThreadId());
}

/// The stack size the calling thread runs on (the address space reserved for it), in bytes.
inline std::size_t OwnStackSize() {
  ULONG_PTR low = 0;
  ULONG_PTR high = 0;
  ::GetCurrentThreadStackLimits(&low, &high);
  return static_cast<std::size_t>(high - low);
}

/// The system's error code for a post to a semaphore that is full.
constexpr unsigned kTooManyPostsError = ERROR_TOO_MANY_POSTS;

/// A stack size no thread can be given, and why there is none when 0: an unsigned long has 32
/// bits on Windows, and a 64-bit process reserves 4 GiB of address space for a stack at ease.
constexpr unsigned long kUngivableStackSize = sizeof(void*) == 4 ? 0xFFFFFFFFul : 0;
constexpr const char* kNoUngivableStackReason =
    "a 64-bit Windows process reserves any stack size an unsigned long can ask for";

/// Why a thread that ends itself from inside Run cannot be tested here.
constexpr const char* kNoThreadExitReason =
    "_endthreadex ends a Windows thread without unwinding its stack: no code of the library "
    "between the thread's start and Run ever runs again to record the end";

/// Ends the calling thread at once.
[[noreturn]] inline void ExitThisThread() {
  ::_endthreadex(0);
  for (;;) {
  }
}

#endif // TAVUTIL_TESTS_THREAD_PLATFORM_H
