// tests/posix/tracestream_posix_test.cpp: trace files under the process's file-size limit (in a
// forked child whose limit the test lowers), symbolic links, FIFOs and files by their owners,
// a shared file whose lock another process holds, and the process's own standard stream.
// Licensed under the Apache License, Version 2.0.
#include <tavutil/tracesharedfile.h>
#include <tavutil/tracestream.h>

#include "helpers/trace_entry.h"
#include "test_platform.h"
#include "tracestream_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <functional>
#include <string>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace tracestream_test;

/// The trace file outputs, made on a file name.
struct Output {
  const char* what;
  std::function<TTrace(const char*)> make;
};
const Output kOutputs[] = {
    {"stream", [](const char* name) -> TTrace { return TTraceStream(name); }},
    {"shared", [](const char* name) -> TTrace { return TTraceSharedFile(name); }},
};

/// Where the trace outputs' own diagnostics come from.
const TraceSource kTracep{TUtilityTraceCategory::Trace, "utility/TRACEP"};

TEST_F(TTraceStreamFile, AWritePastTheFileSizeLimitDropsLinesAndTheProcessGoesOn) {
  constexpr rlim_t kLimit = 100;
  const std::string entry = "E [f:1] a line of thirty bytes\n";
  for (const Output& output : kOutputs) {
    SCOPED_TRACE(output.what);
    const fs::path file = Left(output.what);
    // In a child, whose file-size limit this test may lower: SIGXFSZ would end it.
    ChildProcess child(nullptr, [&] {
      rlimit limit{};
      ::getrlimit(RLIMIT_FSIZE, &limit);
      const rlim_t saved = limit.rlim_cur;
      limit.rlim_cur = kLimit;
      ::setrlimit(RLIMIT_FSIZE, &limit);
      TTrace trace = output.make(file.c_str());
      trace.SetDisplayPrefix(0);
      for (int i = 0; i < 10; ++i) {
        Trace(0x4, "f", 1, "a line of thirty bytes");
      }
      limit.rlim_cur = saved;
      ::setrlimit(RLIMIT_FSIZE, &limit);
      Trace(0x4, "f", 2, "after");
      return 0;
    });
    ASSERT_EQ(child.Wait(-1), 0) << "-1: ended by a signal";
    const std::string contents = FileContents(file);
    if (output.what == std::string("stream")) {
      // What fitted stays; the failed write failed the stream: nothing more, even below a limit
      // raised again.
      std::string expected;
      while (expected.size() < kLimit) {
        expected += entry;
      }
      EXPECT_EQ(contents, expected.substr(0, kLimit));
      continue;
    }
    // The shared file keeps whole lines only (other processes append after them), and each
    // line is tried on its own: the one written under the raised limit is there.
    constexpr std::size_t kIds = 36; // the shared file's prefix before the level letter
    const std::size_t line = kIds + entry.size();
    const std::size_t whole = kLimit / line;
    ASSERT_EQ(contents.size(), whole * line + kIds + sizeof "E [f:2] after\n" - 1) << contents;
    for (std::size_t i = 0; i < whole; ++i) {
      EXPECT_EQ(contents.substr(i * line + kIds, entry.size()), entry);
    }
    EXPECT_EQ(contents.substr(whole * line + kIds), "E [f:2] after\n");
  }
}

/// Who owns a symbolic link, or the directory that holds it.
enum class Owner { self, peer };

// A trace file's link is followed when it belongs to the process's user or to the owner of its
// directory; a link another user planted in a directory of this user's is refused and traced.
// The rows with another user's link need root (to give the link away) and the second user.
TEST_F(TTraceStreamFile, ALinkIsFollowedWhenItsOwnerOrItsDirectorysOwnerIsTrusted) {
  std::string why;
  const passwd* peer = PeerUser(why);
  const struct {
    const char* what;
    Owner directory;
    Owner link;
    bool dangling; ///< the link leads to a name where nothing is yet
    bool followed;
  } rows[] = {
      {"own link", Owner::self, Owner::self, false, true},
      {"own dangling link", Owner::self, Owner::self, true, true},
      {"another user's link in an own directory", Owner::self, Owner::peer, false, false},
      {"another user's dangling link in an own directory", Owner::self, Owner::peer, true, false},
      {"a link of the directory's owner", Owner::peer, Owner::peer, false, true},
      {"own link in another user's directory", Owner::peer, Owner::self, false, true},
  };
  Left("peer");
  fs::create_directory(fRoot / "peer");
  if (peer != nullptr) {
    ASSERT_EQ(::chown((fRoot / "peer").c_str(), peer->pw_uid, peer->pw_gid), 0);
  }
  const fs::path target = Left("target");
  const fs::path absent = fRoot / "absent";
  int skipped = 0;
  for (const auto& row : rows) {
    if (peer == nullptr && (row.directory == Owner::peer || row.link == Owner::peer)) {
      ++skipped;
      continue;
    }
    for (const Output& output : kOutputs) {
      SCOPED_TRACE(std::string(row.what) + ", " + output.what);
      std::ofstream(target) << "keep";
      const fs::path link = Left(row.directory == Owner::peer ? "peer/link" : "link");
      fs::create_symlink(row.dangling ? absent : target, link);
      if (row.link == Owner::peer) {
        ASSERT_EQ(::lchown(link.c_str(), peer->pw_uid, peer->pw_gid), 0);
      }
      TRecording recording;
      {
        TTrace trace = output.make(link.c_str());
        trace.SetDisplayPrefix(0);
        Trace(0x4, "f", 1, "through the link");
      }
      const std::string written = FileContents(row.dangling ? absent : target);
      const std::string line = "E [f:1] through the link\n";
      const bool landed =
          written.size() >= line.size() && written.substr(written.size() - line.size()) == line;
      EXPECT_EQ(landed, row.followed) << written;
      EXPECT_EQ(fs::exists(absent), row.dangling && row.followed);
      const ExpectedEntry refused{
          0x4, 1100, "Trace file " + link.string() + " is a symbolic link: not opened"};
      ExpectEntriesOf(recording, kTracep,
                      row.followed ? std::vector<ExpectedEntry>() : std::vector{refused});
      fs::remove(link);
      fs::remove(absent);
    }
  }

  // Links among the directories are followed as usual.
  Left("real");
  fs::create_directory(fRoot / "real");
  const fs::path throughLink = Left("real/t.trc");
  fs::create_directory_symlink(fRoot / "real", Left("via"));
  {
    TTraceStream trace((fRoot / "via" / "t.trc").c_str());
    trace.SetDisplayPrefix(0);
    Trace(0x4, "f", 2, "through a directory link");
  }
  EXPECT_EQ(FileContents(throughLink), "E [f:2] through a directory link\n");
  if (skipped > 0) {
    GTEST_SKIP() << skipped << " rows with another user's link or directory: " << why;
  }
}

// A FIFO at a trace file's name would keep the constructor waiting for a peer (and, once one
// came, every line waiting for it to read): it is refused without waiting, and nothing reaches a
// reader that holds the FIFO open.
TEST_F(TTraceStreamFile, AFifoIsRefusedWithoutWaiting) {
  const fs::path fifo = Left("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  ::alarm(120); // a constructor that waits for ever ends the test program rather than hang it
  for (const bool reader : {false, true}) {
    const int peer = reader ? ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK) : -1;
    for (const Output& output : kOutputs) {
      SCOPED_TRACE(std::string(output.what) + (reader ? ", with a reader" : ""));
      const TTrace trace = output.make(fifo.c_str());
      Trace(0x4, "f", 1, "must not reach the FIFO");
    }
    if (peer >= 0) {
      char byte = 0;
      EXPECT_LE(::read(peer, &byte, 1), 0) << "a line reached the FIFO";
      ::close(peer);
    }
  }
  ::alarm(0);
}

// Writers of one shared trace file run as one user: a file that another user owns is refused
// with one trace entry, whether that user made it first or planted it, and nothing is written.
TEST_F(TTraceStreamFile, ASharedFileAnotherUserOwnsIsRefused) {
  std::string why;
  const passwd* peer = PeerUser(why);
  if (peer == nullptr) {
    GTEST_SKIP() << why;
  }
  const fs::path file = Left("foreign");
  std::ofstream(file) << "theirs\n";
  ASSERT_EQ(::chmod(file.c_str(), 0666), 0);
  ASSERT_EQ(::chown(file.c_str(), peer->pw_uid, peer->pw_gid), 0);
  TRecording recording;
  {
    const TTraceSharedFile trace(file.c_str());
    Trace(0x4, "f", 1, "mine");
  }
  EXPECT_EQ(FileContents(file), "theirs\n");
  ExpectEntriesOf(
      recording, kTracep,
      {{0x4, 1101, "Trace file " + file.string() + " is owned by another user: not opened"}});
}

// A process that holds the shared file's lock exclusively (a reader of it may) does not keep the
// next writer waiting: after a bounded wait it appends, without starting afresh.
TEST_F(TTraceStreamFile, ASharedFileLockedByAReaderIsAppendedToAfterABoundedWait) {
  const fs::path file = Left("locked");
  std::ofstream(file) << "kept\n";
  const int holder = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(::flock(holder, LOCK_EX), 0);
  ::alarm(60); // an opener that waits for ever ends the test program rather than hang it
  {
    const TTraceSharedFile trace(file.c_str());
    Trace(0x4, "f", 1, "appended");
  }
  ::alarm(0);
  ::close(holder);
  const std::string contents = FileContents(file);
  ASSERT_EQ(contents.size(), 5 + 36 + sizeof "E [f:1] appended\n" - 1) << contents;
  EXPECT_EQ(contents.substr(0, 5) + contents.substr(5 + 36), "kept\nE [f:1] appended\n");
}

// "/dev/stderr" leads through links to the process's own standard error, here a pipe: the file
// a standard stream has open is written whatever its type.
TEST(TTraceStreamNames, TheProcesssOwnStandardErrorIsWrittenByItsName) {
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  const pid_t child = ::fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    ::dup2(ends[1], STDERR_FILENO);
    ::close(ends[0]);
    ::close(ends[1]);
    {
      const TTrace trace("file(/dev/stderr)");
      Trace(0x4, "f", 1, "to my own standard error");
    }
    ::_exit(0);
  }
  ::close(ends[1]);
  std::string written;
  char buffer[256];
  for (ssize_t n; (n = ::read(ends[0], buffer, sizeof buffer)) > 0;) {
    written.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(ends[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  const std::string line = " E [f:1] to my own standard error\n";
  EXPECT_TRUE(written.size() > line.size() && written.substr(written.size() - line.size()) == line)
      << written;
}

} // namespace
