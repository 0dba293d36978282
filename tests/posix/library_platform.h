// tests/posix/library_platform.h: what the dynamic-library tests ask of the system directly.
// Licensed under the Apache License, Version 2.0.
#ifndef TAVUTIL_TESTS_LIBRARY_PLATFORM_H
#define TAVUTIL_TESTS_LIBRARY_PLATFORM_H

#include <cerrno>
#include <dlfcn.h>

/// A loaded library that holds no string table (the C math library).
inline void* LoadLibraryWithoutStrings() {
  return ::dlopen("libm.so.6", RTLD_NOW);
}

/// The system's codes for a string the library lacks, and for a library without strings.
constexpr int kNoSuchStringError = ENOENT;
constexpr int kNoStringTableError = ENOEXEC;

#endif // TAVUTIL_TESTS_LIBRARY_PLATFORM_H
