// tests/posix/allocation_platform.h: the C library's allocator as the string tests use it.
// Licensed under the Apache License, Version 2.0.
#ifndef TAVUTIL_TESTS_ALLOCATION_PLATFORM_H
#define TAVUTIL_TESTS_ALLOCATION_PLATFORM_H

#include <cstddef>
#include <cstdlib>
#include <malloc.h>
#include <sys/mman.h>

/// Why this program's operator delete does not see the blocks the library frees; null when it
/// does (one operator delete serves the process).
constexpr const char* kNoLibraryFreesSeenReason = nullptr;

/// The usable size of the malloc block `p`.
inline std::size_t BlockSize(void* p) noexcept {
  return malloc_usable_size(p);
}

/// malloc, except that a block of a gigabyte or more starts on a huge page and asks for huge
/// pages: the longest-string test touches 8 GiB, which 4 KiB pages make ten times slower. Freed
/// with std::free.
inline void* AllocateBlock(std::size_t n) noexcept {
  constexpr std::size_t kHuge = std::size_t{2} << 20;
  if (n < (std::size_t{1} << 30)) {
    return std::malloc(n != 0 ? n : 1);
  }
  const std::size_t rounded = (n + kHuge - 1) & ~(kHuge - 1);
  void* p = std::aligned_alloc(kHuge, rounded);
  if (p != nullptr) {
    ::madvise(p, rounded, MADV_HUGEPAGE);
  }
  return p;
}

#endif // TAVUTIL_TESTS_ALLOCATION_PLATFORM_H
