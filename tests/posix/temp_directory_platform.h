// tests/posix/temp_directory_platform.h: pointing the system's temporary directory elsewhere.
// Licensed under the Apache License, Version 2.0.
#ifndef TAVUTIL_TESTS_TEMP_DIRECTORY_PLATFORM_H
#define TAVUTIL_TESTS_TEMP_DIRECTORY_PLATFORM_H

#include <cstdlib>
#include <string>

/// Makes `directory` the temporary directory of this process (TMPDIR) for the object's life.
class ScopedTemporaryDirectory {
public:
  explicit ScopedTemporaryDirectory(const std::string& directory) {
    const char* old = std::getenv("TMPDIR");
    fHad = old != nullptr;
    fOld = fHad ? old : "";
    ::setenv("TMPDIR", directory.c_str(), 1);
  }
  ~ScopedTemporaryDirectory() {
    if (fHad) {
      ::setenv("TMPDIR", fOld.c_str(), 1);
    } else {
      ::unsetenv("TMPDIR");
    }
  }
  ScopedTemporaryDirectory(const ScopedTemporaryDirectory&) = delete;
  ScopedTemporaryDirectory& operator=(const ScopedTemporaryDirectory&) = delete;

private:
  bool fHad = false;
  std::string fOld;
};

#endif // TAVUTIL_TESTS_TEMP_DIRECTORY_PLATFORM_H
