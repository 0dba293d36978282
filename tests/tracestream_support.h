// tests/tracestream_support.h: what the trace-stream suites share: a trace helper and the fixture
// of a fresh temporary directory.
// Licensed under the Apache License, Version 2.0.
#ifndef TAVUTIL_TESTS_TRACESTREAM_SUPPORT_H
#define TAVUTIL_TESTS_TRACESTREAM_SUPPORT_H

#include <tavutil/message.h>
#include <tavutil/trace.h>

#include "helpers/test_text.h"
#include "temp_directory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace tracestream_test {

namespace fs = std::filesystem;
inline const TTrace::Category& kCategory = TUtilityTraceCategory::Utility;

inline void Trace(unsigned long level, const char* file, unsigned long line, const char* text) {
  TMessage message(text);
  if (file != nullptr) {
    message.SetDebugging(file, line);
  }
  TTrace::WriteEntry(level, kCategory, message);
}

/// A fresh temporary directory; TearDown removes what the test said it would leave and fails
/// when anything else is left behind.
class TTraceStreamFile : public ::testing::Test {
protected:
  void SetUp() override {
    const std::string root = MakeTempDirectory("tracestream");
    ASSERT_FALSE(root.empty());
    fRoot = root;
  }
  void TearDown() override {
    std::error_code error;
    for (auto path = fLeft.rbegin(); path != fLeft.rend(); ++path) {
      fs::remove(*path, error);
    }
    if (!fs::remove(fRoot, error)) {
      ADD_FAILURE() << "something was left in " << fRoot;
      fs::remove_all(fRoot, error);
    }
  }
  /// A path under the directory that the test leaves behind.
  fs::path Left(const char* relative) { return fLeft.emplace_back(fRoot / relative); }

  fs::path fRoot;
  std::vector<fs::path> fLeft;
};

} // namespace tracestream_test

#endif // TAVUTIL_TESTS_TRACESTREAM_SUPPORT_H
