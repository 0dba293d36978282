// tests/temp_stream_support.h: what the temporary-stream suites share: a counting policy and a
// fixture that gives each test a temporary directory of its own.
// Licensed under the Apache License, Version 2.0.
#ifndef TAVUTIL_TESTS_TEMP_STREAM_SUPPORT_H
#define TAVUTIL_TESTS_TEMP_STREAM_SUPPORT_H

#include <tavutil/tmpstrm.h>

#include "helpers/test_text.h"
#include "temp_directory.h"
#include "test_platform.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

namespace tmpstrmtest {

namespace fs = std::filesystem;

/// Answers from a rule over the number of memory blocks, and counts the questions.
class TPolicy : public TTempStreamTest {
public:
  explicit TPolicy(int blocksBeforeMove) : fBlocksBeforeMove(blocksBeforeMove) {}
  int UseTempFile(TTempStreamBuf* buffer) override {
    ++questions;
    int blocks = 0;
    for (const TMemStreamBuffer* b = buffer->QueryFirstBuffer(); b != nullptr; b = b->QueryNext()) {
      ++blocks;
    }
    blocksSeen = blocks;
    return blocks >= fBlocksBeforeMove;
  }
  int questions = 0;
  int blocksSeen = 0;

private:
  int fBlocksBeforeMove;
};

/// Runs each test with the system's temporary directory pointed at a fresh directory, and
/// fails it when anything was left in that directory.
class TTempStreamFixture : public ::testing::Test {
protected:
  void SetUp() override {
    fDirectory = MakeTempDirectory("tmpstrm_test");
    ASSERT_FALSE(fDirectory.empty());
    fTemporary = std::make_unique<ScopedTemporaryDirectory>(fDirectory.string());
  }
  void TearDown() override {
    fTemporary.reset();
    EXPECT_TRUE(fs::is_empty(fDirectory)) << "left behind in " << fDirectory;
    fs::remove_all(fDirectory);
  }

  fs::path fDirectory;
  std::unique_ptr<ScopedTemporaryDirectory> fTemporary;
};

} // namespace tmpstrmtest

#endif // TAVUTIL_TESTS_TEMP_STREAM_SUPPORT_H
