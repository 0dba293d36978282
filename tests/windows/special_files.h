// tests/windows/special_files.h: names that lead to something other than a regular file.
// Licensed under the Apache License, Version 2.0.
#ifndef TAVUTIL_TESTS_SPECIAL_FILES_H
#define TAVUTIL_TESTS_SPECIAL_FILES_H

#include <string>

/// Windows has no FIFO at a path of a directory (its named pipes live under \\.\pipe\).
inline bool MakeFifo(const std::string& /*path*/) {
  return false;
}

/// A device that any process may open by name (the null device, in every directory).
inline constexpr char kDeviceName[] = "NUL";

#endif // TAVUTIL_TESTS_SPECIAL_FILES_H
