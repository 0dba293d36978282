// tests/nls_settings.h: a fixture for tests of the language settings: a temporary directory
// that can stand in for the program's directory, and the language and search path restored.
// Licensed under the Apache License, Version 2.0.
#ifndef TAVUTIL_TESTS_NLS_SETTINGS_H
#define TAVUTIL_TESTS_NLS_SETTINGS_H

#include "helpers/test_text.h"
#include "temp_directory.h"

#include <tavutil/nlsresrc.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

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
    fLang = TSearchNLSPath::QueryLang();
    fPath = TSearchNLSPath::fsNLSpath;
  }
  void TearDown() override {
    std::filesystem::remove_all(fRoot);
    TSearchNLSPath::SetLang(fLang);
    TSearchNLSPath::fsNLSpath = fPath;
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
  TString fLang; ///< the settings to restore
  TString fPath;
};

#endif // TAVUTIL_TESTS_NLS_SETTINGS_H
