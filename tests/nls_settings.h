// tests/nls_settings.h: a fixture for tests of the language settings: a temporary directory
// that can stand in for the program's directory, and the language and search path restored.
// Licensed under the Apache License, Version 2.0.
#ifndef TAVUTIL_TESTS_NLS_SETTINGS_H
#define TAVUTIL_TESTS_NLS_SETTINGS_H

#include "temp_directory.h"

#include <tavutil/nlsresrc.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

/// The text of a TString, embedded NULs included ("" without a buffer).
inline std::string Text(const TString& s) {
  const char* text = s;
  return text != nullptr ? std::string(text, s.length()) : std::string();
}

/// The UTF-16 units of a Unicode TString.
inline std::u16string Units(const TString& s) {
  EXPECT_TRUE(s.IsUnicode());
  const std::string bytes = Text(s);
  std::u16string units(bytes.size() / 2, u'\0');
  bytes.copy(reinterpret_cast<char*>(units.data()), units.size() * 2);
  return units;
}

/// The directory of the test programs, where the test catalogues lie in
/// <language>/nlstest<suffix>.
inline const std::string kTests = TAVUTIL_TEST_BINARY_DIR;
/// The platform's suffix of dynamic libraries: ".so", ".dll".
inline const std::string kSuffix = TAVUTIL_TEST_LIBRARY_SUFFIX;

class TNlsSettingsTest : public ::testing::Test {
protected:
  void SetUp() override {
    fRoot = MakeTempDirectory("nls_test");
    ASSERT_FALSE(fRoot.empty());
    fLang = Text(TSearchNLSPath::QueryLang());
    fPath = Text(TSearchNLSPath::fsNLSpath);
  }
  void TearDown() override {
    std::filesystem::remove_all(fRoot);
    TSearchNLSPath::SetLang(fLang.c_str());
    TSearchNLSPath::fsNLSpath = TString(fPath.c_str());
  }
  /// Makes a file (and its directories) below the root holding `contents`; returns its path.
  std::string Touch(const std::string& name, const char* contents = "x") const {
    const std::filesystem::path path = std::filesystem::path(fRoot) / name;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path) << contents;
    return path.generic_string(); // with '/', as the library gives paths
  }
  /// The default path's two patterns with the root in place of %E, written with backslashes.
  void UseRootAsProgramDirectory() const {
    TSearchNLSPath::fsNLSpath = TString((fRoot + "\\%L\\%N;" + fRoot + "\\%N;").c_str());
  }

  std::string fRoot;
  std::string fLang;
  std::string fPath;
};

#endif // TAVUTIL_TESTS_NLS_SETTINGS_H
