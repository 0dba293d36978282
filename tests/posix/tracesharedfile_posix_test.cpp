// tests/posix/tracesharedfile_posix_test.cpp: the shared trace file, in one process and across
// several. Licensed under the Apache License, Version 2.0.
#include <tavutil/message.h>
#include <tavutil/tracesharedfile.h>

#include "helpers/ipc_test_support.h"
#include "helpers/shfile_lines.h"
#include "recording_trace.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <poll.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using shfile::ExpectAllLines;
using shfile::Lines;
using shfile::Slurp;
using shfile::SplitLine;

/// A file name in the test's temporary directory, removed when the object goes.
struct TempFile {
  explicit TempFile(const std::string& tag)
      : path(::testing::TempDir() + "shfile." + std::to_string(::getpid()) + "." + tag) {
    ::unlink(path.c_str());
  }
  ~TempFile() { ::unlink(path.c_str()); }
  const std::string path;
};

void WriteLine(unsigned long level, const char* text) {
  TMessage message(text);
  message.SetDebugging("src\\unit.cpp", 12);
  TTrace::WriteEntry(level, TUtilityTraceCategory::Utility, message);
}

/// The shfile_helper program, talked to over pipes; killed when the object goes.
class Helper {
public:
  explicit Helper(std::vector<std::string> arguments) {
    int in[2];
    int out[2];
    EXPECT_EQ(::pipe2(in, O_CLOEXEC) | ::pipe2(out, O_CLOEXEC), 0);
    const std::string program = std::string(TAVUTIL_TEST_BINARY_DIR) + "/shfile_helper";
    arguments.insert(arguments.begin(), program);
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
      argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    fPid = ::fork();
    if (fPid == 0) {
      ::dup2(in[0], STDIN_FILENO);
      ::dup2(out[1], STDOUT_FILENO);
      ::execv(program.c_str(), argv.data());
      ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    fInput = in[1];
    fOutput = out[0];
  }
  ~Helper() {
    Kill();
    ::close(fInput);
    ::close(fOutput);
  }
  /// The next line the helper writes, or "<none>" when none comes in time.
  std::string Read(int timeoutMs = 60000) const { return ipctest::ReadLine(fOutput, timeoutMs); }
  void Send(const std::string& line) {
    EXPECT_EQ(::write(fInput, (line + "\n").data(), line.size() + 1),
              static_cast<ssize_t>(line.size() + 1));
  }
  /// Ends its input and gives its exit code once it has ended by itself, or -1.
  int Finish() {
    ::close(fInput);
    fInput = -1;
    for (int waited = 0; waited < 30000; waited += 5) {
      int status = 0;
      if (::waitpid(fPid, &status, WNOHANG) == fPid) {
        fPid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return -1;
  }
  void Kill() { ipctest::KillAndReap(fPid); }

private:
  pid_t fPid = -1;
  int fInput = -1;
  int fOutput = -1;
};

} // namespace

TEST(TTraceSharedFile, LinesCarryTheFullPrefixWhateverTheDisplayFlag) {
  const TempFile file("prefix");
  {
    TTraceSharedFile trace(file.path.c_str());
    trace.SetLevel(0xFF);
    WriteLine(0x4, "first");
    trace.SetDisplayPrefix(0);
    WriteLine(0x80, "second");
    TTrace::WriteEntry(0x8, TUtilityTraceCategory::Utility, TMessage("no file"));
  }
  const std::string contents = Slurp(file.path);
  EXPECT_EQ(contents.find('\0'), std::string::npos);
  const std::vector<std::string> lines = Lines(contents);
  ASSERT_EQ(lines.size(), 3u) << contents;
  char id[16];
  std::snprintf(id, sizeof id, "%08X:", static_cast<unsigned>(::getpid()));
  const std::string expected[] = {"E [unit.cpp:12] first", "N [unit.cpp:12] second",
                                  "W [????.???:0] no file"};
  std::string ids;
  std::string rest;
  for (std::size_t i = 0; i < 3; ++i) {
    ASSERT_TRUE(SplitLine(lines[i], ids, rest)) << lines[i];
    EXPECT_EQ(ids.substr(0, 9), id);
    EXPECT_EQ(rest, expected[i]);
  }
  TString prefix;
  TTraceSharedFile().FormatPrefix(prefix, 0x4); // an empty handle leaves it alone
  EXPECT_EQ(static_cast<const char*>(prefix), nullptr);
}

TEST(TTraceSharedFile, StartsAfreshOnlyWhenNoOtherWriterHoldsTheFile) {
  const TempFile file("afresh");
  std::ofstream(file.path) << "stale line\n";
  {
    const TTraceSharedFile first(file.path.c_str());
    EXPECT_EQ(Slurp(file.path), "") << "nobody held it: emptied";
    WriteLine(0x4, "one");
    const TTraceSharedFile second(file.path.c_str()); // the first holds it: kept
    WriteLine(0x4, "two");
  }
  EXPECT_EQ(Lines(Slurp(file.path)).size(), 3u);
  {
    const TTraceSharedFile nowhere("/nonexistent-dir/trace.log");
    WriteLine(0x4, "lost");
  }

  // A process that holds the file's lock exclusively (a reader of it may) does not keep the
  // next writer waiting: after a bounded wait it appends, without starting afresh.
  const int holder = ::open(file.path.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(::flock(holder, LOCK_EX), 0);
  ::alarm(60); // an opener that waits for ever ends the test program rather than hang it
  {
    const TTraceSharedFile trace(file.path.c_str());
    WriteLine(0x4, "three");
  }
  ::alarm(0);
  ::close(holder);
  const std::vector<std::string> lines = Lines(Slurp(file.path));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[3].substr(36), "E [unit.cpp:12] three");
}

// Writers of one shared trace file run as one user: a file that another user owns is refused
// with one trace entry, whether that user made it first or planted it, and nothing is written.
TEST(TTraceSharedFile, AFileAnotherUserOwnsIsRefused) {
  std::string why;
  const passwd* peer = ipctest::PeerUser(why);
  if (peer == nullptr) {
    GTEST_SKIP() << why;
  }
  const TempFile file("foreign");
  std::ofstream(file.path) << "theirs\n";
  ASSERT_EQ(::chmod(file.path.c_str(), 0666), 0);
  ASSERT_EQ(::chown(file.path.c_str(), peer->pw_uid, peer->pw_gid), 0);
  TRecording recording;
  {
    const TTraceSharedFile trace(file.path.c_str());
    WriteLine(0x4, "mine");
  }
  EXPECT_EQ(Slurp(file.path), "theirs\n");
  std::vector<std::string> texts;
  for (const TRecordingState::Entry& entry : recording.Entries()) {
    if (entry.category == &TUtilityTraceCategory::Trace) {
      EXPECT_EQ(entry.level, 0x4u);
      EXPECT_STREQ(entry.message.QueryFile(), "utility/TRACEP");
      EXPECT_EQ(entry.message.QueryLine(), 1101u);
      texts.emplace_back(entry.message.QueryMessage());
    }
  }
  EXPECT_EQ(texts, std::vector<std::string>{"Trace file " + file.path +
                                            " is owned by another user: not opened"});
}

TEST(TTraceSharedFileThreaded, ThreadsOfOneProcessWriteWholeLines) {
  const TempFile file("threads");
  constexpr int kThreads = 4;
  constexpr int kLines = 2000;
  {
    const TTraceSharedFile trace(file.path.c_str());
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([t] {
        for (int i = 0; i < kLines; ++i) {
          TMessage message("w %d %d %d", TagVar(0), TagVar(t), TagVar(i));
          message.SetDebugging("shfile_helper.cpp", 42);
          TTrace::WriteEntry(0x4, TUtilityTraceCategory::Utility, message);
        }
      });
    }
    for (std::thread& thread : threads) {
      thread.join();
    }
  }
  ExpectAllLines(Slurp(file.path), 1, kThreads, kLines);
}

// Three processes of two threads; the third starts after the others have written. The file
// held a stale line that no process had open, so it starts afresh.
TEST(TTraceSharedFileProcesses, EveryLineOnceWholeAndInOrder) {
  const TempFile file("processes");
  std::ofstream(file.path) << "stale line\n";
  constexpr int kLines = 20000;
  std::vector<std::unique_ptr<Helper>> writers;
  const auto start = [&](int process) {
    writers.push_back(std::make_unique<Helper>(std::vector<std::string>{
        "write", file.path, std::to_string(process), "2", std::to_string(kLines)}));
    ASSERT_EQ(writers.back()->Read(), "open");
  };
  start(0);
  start(1);
  writers[0]->Send("go");
  writers[1]->Send("go");
  struct stat status {};
  for (int waited = 0;
       waited < 30000 && (::stat(file.path.c_str(), &status) != 0 || status.st_size < 64 * 1000);
       ++waited) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  start(2);
  writers[2]->Send("go");
  for (auto& writer : writers) {
    ASSERT_EQ(writer->Read(), "done");
    EXPECT_EQ(writer->Finish(), 0);
  }
  ExpectAllLines(Slurp(file.path), 3, 2, kLines);
}

// A process killed while it holds "qelvoTraceFile" does not stop the others: the next locker
// takes the mutex over from the dead holder.
TEST(TTraceSharedFileProcesses, AHolderKilledWithTheMutexDoesNotStopTheOthers) {
  const TempFile file("killed");
  Helper holder({"lock"});
  ASSERT_EQ(holder.Read(), "locked");
  Helper writer({"write", file.path, "0", "1", "500"});
  ASSERT_EQ(writer.Read(), "open");
  writer.Send("go");
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(Slurp(file.path), "") << "the writer waits for the holder";
  holder.Kill();
  ASSERT_EQ(writer.Read(), "done");
  EXPECT_EQ(writer.Finish(), 0);
  ExpectAllLines(Slurp(file.path), 1, 1, 500);
}
