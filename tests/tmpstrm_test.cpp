// tests/tmpstrm_test.cpp: the move of a temporary stream to a file by policy, file mode, and the
// file going with its process, also when the process is killed.
// Licensed under the Apache License, Version 2.0.
#include <tavutil/tmpstrm.h>

#include "helpers/run_program.h"
#include "helpers/trace_entry.h"
#include "temp_stream_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

using tmpstrmtest::TPolicy;
using TTempStreamFile = tmpstrmtest::TTempStreamFixture;
using TTempStreamProcesses = tmpstrmtest::TTempStreamFixture;

TEST_F(TTempStreamFile, WithoutPolicyStaysInMemory) {
  TTempStream stream("nothing");
  const std::string data = Pattern(50000);
  stream.write(data.data(), static_cast<std::streamsize>(data.size()));
  EXPECT_EQ(stream.rdbuf()->IsInMemory(), 1);
  EXPECT_EQ(StreamContents(stream), data);
  EXPECT_EQ(Copied(stream), data);
  EXPECT_EQ(std::string(stream.rdbuf()->QueryName()), "nothing");
}

TEST_F(TTempStreamFile, PolicyThatAlwaysMovesCreatesTheFileAtTheFirstByte) {
  TRecording trace;
  TPolicy* policy = new TPolicy(0);
  TTempStream stream(nullptr, policy);
  stream.put('a');
  EXPECT_EQ(policy->questions, 1);
  EXPECT_EQ(stream.rdbuf()->IsInMemory(), 0);
  EXPECT_EQ(stream.rdbuf()->QueryFirstBuffer(), nullptr);

  ExpectEntries(trace, {TUtilityTraceCategory::MemStream, "utility/TMPSTRM"},
                {{0x4, 237, "Opened temp file"}});

  const std::string data = "a" + Pattern(30000);
  stream.write(data.data() + 1, static_cast<std::streamsize>(data.size() - 1));
  stream.seekg(0);
  EXPECT_EQ(StreamContents(stream), data);
  EXPECT_EQ(policy->questions, 1); // asked only while in memory
}

TEST_F(TTempStreamFile, PolicyAfterTwoBlocksMovesAtTheThird) {
  TPolicy* policy = new TPolicy(2);
  TTempStream stream("spool", policy);
  const std::string data = Pattern(25000);
  stream.write(data.data(), 20000);
  EXPECT_EQ(stream.rdbuf()->IsInMemory(), 1);
  stream.write(data.data() + 20000, 5000);
  EXPECT_EQ(stream.rdbuf()->IsInMemory(), 0);
  EXPECT_EQ(policy->questions, 3);
  EXPECT_EQ(policy->blocksSeen, 2);

  // WriteTo copies everything whatever the file position, and keeps that position.
  stream.seekg(5);
  unsigned long count = 0;
  EXPECT_EQ(Copied(stream, &count), data);
  EXPECT_EQ(count, 25000U);
  EXPECT_EQ(stream.get(), static_cast<unsigned char>(data[5]));
}

TEST_F(TTempStreamFile, FileModeSeeksAndSharedPosition) {
  TTempStream stream(64, "small", new TPolicy(1));
  const std::string data = Pattern(1000);
  stream.write(data.data(), 1000);
  ASSERT_EQ(stream.rdbuf()->IsInMemory(), 0);

  EXPECT_EQ(stream.rdbuf()->pubseekoff(0, std::ios::beg), 0);
  std::string head(10, '\0');
  stream.read(head.data(), 10);
  EXPECT_EQ(head, data.substr(0, 10));
  EXPECT_EQ(stream.rdbuf()->pubseekoff(5000, std::ios::beg), 1000); // beyond: the end
  EXPECT_EQ(stream.rdbuf()->pubseekoff(-1, std::ios::beg), 1000);   // negative: the end
  EXPECT_EQ(stream.rdbuf()->pubseekoff(0, std::ios::cur), -1);
  EXPECT_EQ(stream.rdbuf()->pubseekoff(0, std::ios::end), -1);

  // Reading and writing share one position: a write lands where the reader got to, and a
  // read after writes goes on where they ended.
  stream.seekg(0);
  stream.read(head.data(), 10);
  stream.write("XYZ", 3);
  EXPECT_EQ(stream.get(), static_cast<unsigned char>(data[13]));
  std::string expected = data;
  expected.replace(10, 3, "XYZ");
  EXPECT_EQ(Copied(stream), expected);
}

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
