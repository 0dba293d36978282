// tests/windows/allocation_platform.h: the C library's allocator as the string tests use it.
// Licensed under the Apache License, Version 2.0.
#ifndef TAVUTIL_TESTS_ALLOCATION_PLATFORM_H
#define TAVUTIL_TESTS_ALLOCATION_PLATFORM_H

#include <cstddef>
#include <cstdlib>
#include <malloc.h>

/// Why this program's operator delete does not see the blocks the library frees.
constexpr const char* kNoLibraryFreesSeenReason =
    "a Windows DLL binds its own operator new and delete when it is linked: a program's "
    "replacement never sees the blocks tavutil.dll frees";

/// The usable size of the malloc block `p`.
inline std::size_t BlockSize(void* p) noexcept {
  return _msize(p);
}

/// malloc, for any size. Freed with std::free.
inline void* AllocateBlock(std::size_t n) noexcept {
  return std::malloc(n != 0 ? n : 1);
}

#endif // TAVUTIL_TESTS_ALLOCATION_PLATFORM_H
