// tests/posix/library_platform.h: what the dynamic-library tests ask of the system directly.
// Licensed under the Apache License, Version 2.0.
#ifndef TAVUTIL_TESTS_LIBRARY_PLATFORM_H
#define TAVUTIL_TESTS_LIBRARY_PLATFORM_H

#include <cerrno>
#include <dlfcn.h>
#include <string>

/// A loaded library that holds no string table (the C math library).
inline void* LoadLibraryWithoutStrings() {
  return ::dlopen("libm.so.6", RTLD_NOW);
}

/// The system's codes for a string the library lacks, and for a library without strings.
constexpr int kNoSuchStringError = ENOENT;
constexpr int kNoStringTableError = ENOEXEC;

/// What the loader's failure text holds for a library file that is not there, and for a symbol
/// the library lacks.
inline std::string MissingLibraryFragment(const std::string& file) {
  return file + ": cannot open";
}
inline std::string MissingSymbolFragment(const char* symbol) {
  return std::string("undefined symbol: ") + symbol;
}
/// Whether a library with an unresolved symbol can be built (and fail to load).
constexpr bool kHasUnresolvedLibrary = true;

#endif // TAVUTIL_TESTS_LIBRARY_PLATFORM_H
