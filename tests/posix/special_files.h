// tests/posix/special_files.h: names that lead to something other than a regular file.
// Licensed under the Apache License, Version 2.0.
#ifndef TAVUTIL_TESTS_SPECIAL_FILES_H
#define TAVUTIL_TESTS_SPECIAL_FILES_H

#include <string>
#include <sys/stat.h>

/// Makes a FIFO at `path` (opening it without a peer would wait for one); false when it cannot
/// be made.
inline bool MakeFifo(const std::string& path) {
  return ::mkfifo(path.c_str(), 0600) == 0;
}

/// A device that any process may open by name and that never ends when read.
inline constexpr char kDeviceName[] = "/dev/zero";

#endif // TAVUTIL_TESTS_SPECIAL_FILES_H
