// tests/windows/library_platform.h: what the dynamic-library tests ask of the system directly.
// Licensed under the Apache License, Version 2.0.
#ifndef TAVUTIL_TESTS_LIBRARY_PLATFORM_H
#define TAVUTIL_TESTS_LIBRARY_PLATFORM_H

#include <windows.h>

/// A loaded module that holds no string table (the test program itself).
inline void* LoadLibraryWithoutStrings() {
  return reinterpret_cast<void*>(::GetModuleHandleA(nullptr));
}

/// The system's codes for a string the library lacks, and for a library without strings.
constexpr int kNoSuchStringError = ERROR_RESOURCE_NAME_NOT_FOUND;
constexpr int kNoStringTableError = ERROR_RESOURCE_TYPE_NOT_FOUND;

#endif // TAVUTIL_TESTS_LIBRARY_PLATFORM_H
