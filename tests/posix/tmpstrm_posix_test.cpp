// tests/posix/tmpstrm_posix_test.cpp: the move to a temporary file by policy, file mode, a
// temporary directory that cannot be used, and a process killed while its stream is in a file.
// Licensed under the Apache License, Version 2.0.
#include <tavutil/tmpstrm.h>

#include "recording_trace.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

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
      blockBytes += b->QueryLength();
    }
    blocksSeen = blocks;
    return blocks >= fBlocksBeforeMove;
  }
  int questions = 0;
  int blocksSeen = 0;
  unsigned long blockBytes = 0;

private:
  int fBlocksBeforeMove;
};

std::string Pattern(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) {
    s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  }
  return s;
}

std::string Copied(TTempStream& stream, unsigned long* count = nullptr) {
  std::ostringstream out;
  const unsigned long written = stream.rdbuf()->WriteTo(out);
  if (count != nullptr) {
    *count = written;
  }
  return out.str();
}

std::string ReadAll(std::istream& in) {
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

/// Runs each test with TMPDIR set to a fresh directory, and fails it when anything was left
/// in that directory.
class TTempStreamTestFixture : public ::testing::Test {
protected:
  void SetUp() override {
    fDirectory = fs::temp_directory_path() /
                 ("tavutil-tmpstrm-" + std::to_string(::getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(fDirectory);
    const char* old = std::getenv("TMPDIR");
    fOldTmpDir = old != nullptr ? old : "";
    fHadTmpDir = old != nullptr;
    ::setenv("TMPDIR", fDirectory.c_str(), 1);
  }
  void TearDown() override {
    if (fHadTmpDir) {
      ::setenv("TMPDIR", fOldTmpDir.c_str(), 1);
    } else {
      ::unsetenv("TMPDIR");
    }
    EXPECT_TRUE(fs::is_empty(fDirectory)) << "left behind in " << fDirectory;
    fs::remove_all(fDirectory);
  }

  /// Open descriptors of this process whose file lies in the test's temporary directory.
  int FilesOpenInDirectory(pid_t process = ::getpid()) const {
    int count = 0;
    const fs::path fds = fs::path("/proc") / std::to_string(process) / "fd";
    for (const auto& entry : fs::directory_iterator(fds)) {
      std::error_code error;
      const std::string target = fs::read_symlink(entry.path(), error).string();
      if (!error && target.rfind(fDirectory.string() + "/", 0) == 0) {
        ++count;
      }
    }
    return count;
  }

  fs::path fDirectory;
  std::string fOldTmpDir;
  bool fHadTmpDir = false;
};

using TTempStreamFile = TTempStreamTestFixture;

TEST_F(TTempStreamFile, WithoutPolicyStaysInMemory) {
  TTempStream stream("nothing");
  const std::string data = Pattern(50000);
  stream.write(data.data(), static_cast<std::streamsize>(data.size()));
  EXPECT_EQ(stream.rdbuf()->IsInMemory(), 1);
  EXPECT_EQ(FilesOpenInDirectory(), 0);
  EXPECT_EQ(ReadAll(stream), data);
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
  EXPECT_EQ(FilesOpenInDirectory(), 1);
  EXPECT_TRUE(fs::is_empty(fDirectory)); // the file has no name

  ASSERT_EQ(trace.Entries().size(), 1U);
  const auto& entry = trace.Entries()[0];
  EXPECT_EQ(entry.level, 4U);
  EXPECT_EQ(entry.category, &TUtilityTraceCategory::MemStream);
  EXPECT_STREQ(entry.message.QueryFile(), "utility/TMPSTRM");
  EXPECT_EQ(entry.message.QueryLine(), 237U);
  EXPECT_STREQ(static_cast<const char*>(entry.message.QueryMessage()), "Opened temp file");

  const std::string data = "a" + Pattern(30000);
  stream.write(data.data() + 1, static_cast<std::streamsize>(data.size() - 1));
  stream.seekg(0);
  EXPECT_EQ(ReadAll(stream), data);
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

TEST_F(TTempStreamFile, UnusableTemporaryDirectoryKeepsTheDataInMemory) {
  ::setenv("TMPDIR", (fDirectory / "missing").c_str(), 1);
  TRecording trace;
  TTempStream stream(16, "spool", new TPolicy(2));
  const std::string data = Pattern(40);
  stream.write(data.data(), 40);
  EXPECT_TRUE(stream.bad()); // the write that needed the third block failed
  EXPECT_EQ(stream.rdbuf()->IsInMemory(), 1);
  EXPECT_EQ(Copied(stream), data.substr(0, 32));

  ASSERT_EQ(trace.Entries().size(), 1U);
  const auto& entry = trace.Entries()[0];
  EXPECT_EQ(entry.level, 4U);
  EXPECT_EQ(entry.category, &TUtilityTraceCategory::MemStream);
  EXPECT_EQ(entry.message.QueryLine(), 233U);
  EXPECT_EQ(std::string(entry.message.QueryMessage()),
            std::string("Unable to open temp file, error=") + std::to_string(ENOENT) + "(" +
                std::strerror(ENOENT) + ")");
  EXPECT_EQ(static_cast<long>(entry.message[0]), ENOENT);
}

TEST_F(TTempStreamFile, KilledProcessLeavesNoFile) {
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(ready[0]);
    TTempStream stream(4096, "child", new TPolicy(1));
    const std::string data = Pattern(100000);
    stream.write(data.data(), static_cast<std::streamsize>(data.size()));
    stream.flush();
    const char state = stream.rdbuf()->IsInMemory() == 0 && stream.good() ? 'f' : 'm';
    (void)!::write(ready[1], &state, 1);
    ::pause();
    ::_exit(0);
  }
  ::close(ready[1]);
  char state = 0;
  ASSERT_EQ(::read(ready[0], &state, 1), 1);
  ::close(ready[0]);
  EXPECT_EQ(state, 'f');
  EXPECT_EQ(FilesOpenInDirectory(child), 1); // the child holds the file...
  EXPECT_TRUE(fs::is_empty(fDirectory));     // ...which no name leads to
  ::kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status));
  // TearDown checks that the directory is still empty.
}

} // namespace
