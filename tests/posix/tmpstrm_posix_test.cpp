// tests/posix/tmpstrm_posix_test.cpp: the temporary file has no name, a temporary directory
// that cannot be used, and a file that stops taking bytes (a file-size limit, a full file
// system).
// Licensed under the Apache License, Version 2.0.
#include <tavutil/tmpstrm.h>

#include "helpers/trace_entry.h"
#include "temp_stream_support.h"
#include "test_platform.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using tmpstrmtest::TPolicy;

/// How the temporary file of a child stops taking bytes, and what the child then reports.
enum class Failure { sizeLimit, fullFileSystem };
enum Outcome { kKept = 0, kNoFileSystem = 10, kNeverFailed, kReadBackDiffers, kCopyDiffers };
constexpr std::size_t kRoom = 64 * 1024;

/// In a child: makes the temporary directory `directory` refuse bytes past kRoom, writes through
/// a stream in file mode until a write fails, then reads everything back.
int WriteUntilRefused(Failure failure, const fs::path& directory) {
  if (failure == Failure::fullFileSystem) {
    // A file system of its own, seen only by this child.
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tavutil-full", directory.c_str(), "tmpfs", 0, "size=64k") != 0) {
      return kNoFileSystem;
    }
  } else {
    rlimit limit{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = kRoom;
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  TTempStream stream(4096, "refused", new TPolicy(1));
  const std::string data = Pattern(16 * kRoom);
  std::size_t accepted = 0;
  for (std::streamsize taken = 1000; taken == 1000 && accepted < data.size(); accepted += taken) {
    taken = stream.rdbuf()->sputn(data.data() + accepted, 1000);
  }
  if (accepted == data.size() || stream.rdbuf()->IsInMemory() != 0) {
    return kNeverFailed;
  }
  stream.seekg(0);
  if (StreamContents(stream) != data.substr(0, accepted)) {
    return kReadBackDiffers;
  }
  return Copied(stream) == data.substr(0, accepted) ? kKept : kCopyDiffers;
}

using TTempStreamFile = tmpstrmtest::TTempStreamFixture;

TEST_F(TTempStreamFile, TheFileIsOpenOnlyInFileModeAndHasNoName) {
  TTempStream memory("nothing");
  memory.write(Pattern(50000).data(), 50000);
  EXPECT_EQ(FilesOpenIn(fDirectory.string()), 0);
  TTempStream file(nullptr, new TPolicy(0));
  file.put('a');
  EXPECT_EQ(FilesOpenIn(fDirectory.string()), 1);
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

  ExpectEntries(trace, {TUtilityTraceCategory::MemStream, "utility/TMPSTRM"},
                {{0x4, 233,
                  "Unable to open temp file, error=" + std::to_string(ENOENT) + "(" +
                      std::strerror(ENOENT) + ")"}});
  EXPECT_EQ(static_cast<long>(trace.Entries().at(0).message[0]), ENOENT);
}

// Every byte the stream took before its file failed still reads back, from the file or from
// memory; and a file-size limit never ends the process.
TEST_F(TTempStreamFile, AFileThatStopsTakingBytesLosesNoneItTook) {
  for (const Failure failure : {Failure::sizeLimit, Failure::fullFileSystem}) {
    const bool limit = failure == Failure::sizeLimit;
    SCOPED_TRACE(limit ? "a file-size limit" : "a full file system");
    ChildProcess child(nullptr, [&] { return WriteUntilRefused(failure, fDirectory); });
    const int status = child.Wait(-1);
    if (status == kNoFileSystem) {
      GTEST_SKIP() << "no file system of the test's own can be mounted here";
    }
    EXPECT_EQ(status, kKept) << "-1 ended by a signal, 11 never failed, 12 read back differs, "
                                "13 WriteTo differs";
  }
}

} // namespace
