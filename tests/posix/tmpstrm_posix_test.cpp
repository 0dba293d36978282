// tests/posix/tmpstrm_posix_test.cpp: the temporary file has no name, a temporary directory
// that cannot be used, and a process killed while its stream is in a file.
// Licensed under the Apache License, Version 2.0.
#include <tavutil/tmpstrm.h>

#include "recording_trace.h"
#include "temp_stream_support.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using tmpstrmtest::Copied;
using tmpstrmtest::Pattern;
using tmpstrmtest::TPolicy;

class TTempStreamFile : public tmpstrmtest::TTempStreamFixture {
protected:
  /// Open descriptors of `process` whose file lies in the test's temporary directory.
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
};

TEST_F(TTempStreamFile, TheFileIsOpenOnlyInFileModeAndHasNoName) {
  TTempStream memory("nothing");
  memory.write(Pattern(50000).data(), 50000);
  EXPECT_EQ(FilesOpenInDirectory(), 0);
  TTempStream file(nullptr, new TPolicy(0));
  file.put('a');
  EXPECT_EQ(FilesOpenInDirectory(), 1);
  EXPECT_TRUE(fs::is_empty(fDirectory));
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
