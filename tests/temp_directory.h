// tests/temp_directory.h: a fresh directory of the test's own under the temporary directory.
// Licensed under the Apache License, Version 2.0.
#ifndef TAVUTIL_TESTS_TEMP_DIRECTORY_H
#define TAVUTIL_TESTS_TEMP_DIRECTORY_H

#include <filesystem>
#include <random>
#include <string>
#include <system_error>

/// Makes a new directory `<temporary directory>/<prefix>.<random>` and gives its path; an empty
/// string when none could be made. create_directory fails on a name already there, so two
/// tests never share one.
inline std::string MakeTempDirectory(const std::string& prefix) {
  std::random_device seed;
  std::mt19937_64 random(seed());
  std::error_code error;
  const std::filesystem::path base = std::filesystem::temp_directory_path(error);
  for (int attempt = 0; !error && attempt < 100; ++attempt) {
    const std::filesystem::path candidate = base / (prefix + "." + std::to_string(random()));
    if (std::filesystem::create_directory(candidate, error)) {
      return candidate.generic_string(); // '/' separators, as the library gives paths
    }
  }
  return std::string();
}

#endif // TAVUTIL_TESTS_TEMP_DIRECTORY_H
