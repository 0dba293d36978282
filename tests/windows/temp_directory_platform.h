// tests/windows/temp_directory_platform.h: pointing the system's temporary directory elsewhere.
// Licensed under the Apache License, Version 2.0.
#ifndef TAVUTIL_TESTS_TEMP_DIRECTORY_PLATFORM_H
#define TAVUTIL_TESTS_TEMP_DIRECTORY_PLATFORM_H

#include <string>
#include <windows.h>

/// Makes `directory` the temporary directory of this process for the object's life: the
/// system takes it from TMP first, then TEMP.
class ScopedTemporaryDirectory {
public:
  explicit ScopedTemporaryDirectory(const std::string& directory) {
    char old[MAX_PATH + 1] = {};
    const DWORD length = ::GetEnvironmentVariableA("TMP", old, sizeof old);
    fHad = length > 0 && length < sizeof old;
    fOld = fHad ? old : "";
    ::SetEnvironmentVariableA("TMP", directory.c_str());
  }
  ~ScopedTemporaryDirectory() { ::SetEnvironmentVariableA("TMP", fHad ? fOld.c_str() : nullptr); }
  ScopedTemporaryDirectory(const ScopedTemporaryDirectory&) = delete;
  ScopedTemporaryDirectory& operator=(const ScopedTemporaryDirectory&) = delete;

private:
  bool fHad = false;
  std::string fOld;
};

#endif // TAVUTIL_TESTS_TEMP_DIRECTORY_PLATFORM_H
