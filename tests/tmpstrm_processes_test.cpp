// tests/tmpstrm_processes_test.cpp: the file of a temporary stream goes with its process, also
// when the process is killed. Licensed under the Apache License, Version 2.0.
#include "helpers/run_program.h"
#include "temp_stream_support.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using TTempStreamProcesses = tmpstrmtest::TTempStreamFixture;

TEST_F(TTempStreamProcesses, AProcessKilledOrEndedLeavesNoFile) {
  for (const bool kill : {true, false}) {
    SCOPED_TRACE(kill ? "killed" : "ended");
    // The child takes the temporary directory that the fixture set from this process.
    ChildProcess holder(Helper("ipc_helper"));
    ASSERT_EQ(holder.Ask("spool"), "file");
    EXPECT_EQ(FilesOpenIn(fDirectory.string(), holder.Id()), 1);
    if (kill) {
      holder.Kill();
    } else {
      EXPECT_EQ(holder.Finish(), 0);
    }
    EXPECT_TRUE(std::filesystem::is_empty(fDirectory));
  }
}

} // namespace
