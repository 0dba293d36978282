// tests/tracesharedfile_test.cpp: the shared trace file, in one process and across several.
// Licensed under the Apache License, Version 2.0.
#include <tavutil/message.h>
#include <tavutil/tracesharedfile.h>

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <memory>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

std::vector<std::string> Lines(const std::string& contents) {
  std::vector<std::string> lines;
  std::istringstream in(contents);
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
  }
  return lines;
}

/// Whether `prefix` is "MM/DD-hh:mm:ss.cc PPPPPPPP:TTTTTTTT L" with upper-case hex ids.
bool IsSharedPrefix(const std::string& prefix, char letter) {
  const char* layout = "dd/dd-dd:dd:dd.dd hhhhhhhh:hhhhhhhh L";
  if (prefix.size() != 37) {
    return false;
  }
  for (std::size_t i = 0; i < 37; ++i) {
    const char c = prefix[i];
    const bool ok = layout[i] == 'd'   ? std::isdigit(static_cast<unsigned char>(c)) != 0
                    : layout[i] == 'h' ? std::isxdigit(static_cast<unsigned char>(c)) != 0 &&
                                             std::islower(static_cast<unsigned char>(c)) == 0
                    : layout[i] == 'L' ? c == letter
                                       : c == layout[i];
    if (!ok) {
      return false;
    }
  }
  return true;
}

/// A file name in the test's temporary directory, removed when the object goes.
class TempFile {
public:
  explicit TempFile(const std::string& tag)
      : fPath(::testing::TempDir() + "shfile." + std::to_string(::getpid()) + "." + tag) {
    ::unlink(fPath.c_str());
  }
  ~TempFile() { ::unlink(fPath.c_str()); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  const std::string& Path() const { return fPath; }

private:
  std::string fPath;
};

void WriteLine(unsigned long level, const char* text, const char* file = "src\\unit.cpp") {
  TMessage message(text);
  message.SetDebugging(file, 12);
  TTrace::WriteEntry(level, TUtilityTraceCategory::Utility, message);
}

/// The shfile_helper program with its standard input and output on pipes; killed and reaped
/// when the object goes.
class Helper {
public:
  explicit Helper(std::vector<std::string> arguments) {
    int in[2];
    int out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) {
      return;
    }
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
    CloseInput();
    if (fOutput >= 0) {
      ::close(fOutput);
    }
  }
  Helper(const Helper&) = delete;
  Helper& operator=(const Helper&) = delete;

  /// The next line the helper writes, or "<none>" when none comes within `timeoutMs`.
  std::string Read(int timeoutMs = 30000) {
    std::string line;
    pollfd ready{fOutput, POLLIN, 0};
    char c = 0;
    while (::poll(&ready, 1, timeoutMs) == 1 && ::read(fOutput, &c, 1) == 1 && c != '\n') {
      line += c;
    }
    return c == '\n' ? line : "<none>";
  }
  void Send(const std::string& line) {
    const std::string text = line + "\n";
    EXPECT_EQ(::write(fInput, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }
  void CloseInput() {
    if (fInput >= 0) {
      ::close(fInput);
      fInput = -1;
    }
  }
  /// Waits for the helper to end by itself and gives its exit code (-1 when it did not).
  int Wait(int timeoutMs = 30000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    while (fPid > 0 && std::chrono::steady_clock::now() < deadline) {
      if (::waitpid(fPid, &status, WNOHANG) == fPid) {
        fPid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return -1;
  }
  void Kill() {
    if (fPid > 0) {
      ::kill(fPid, SIGKILL);
      ::waitpid(fPid, nullptr, 0);
      fPid = -1;
    }
  }

private:
  pid_t fPid = -1;
  int fInput = -1;
  int fOutput = -1;
};

/// Checks that `contents` holds exactly `lines` lines from each thread of each process, whole,
/// each thread's in order, and nothing else.
void ExpectAllLines(const std::string& contents, int processes, int threads, int lines) {
  ASSERT_FALSE(contents.empty());
  ASSERT_EQ(contents.back(), '\n');
  std::map<std::pair<int, int>, int> next; // (process, thread) -> next sequence number
  std::map<std::pair<int, int>, std::string> ids;
  std::size_t count = 0;
  for (const std::string& line : Lines(contents)) {
    ++count;
    ASSERT_GT(line.size(), 37u) << line;
    ASSERT_TRUE(IsSharedPrefix(line.substr(0, 37), 'E')) << line;
    int process = -1;
    int thread = -1;
    int sequence = -1;
    char tail = 0;
    ASSERT_EQ(std::sscanf(line.c_str() + 37, " [shfile_helper.cpp:42] w %d %d %d%c", &process,
                          &thread, &sequence, &tail),
              3)
        << line;
    const std::pair<int, int> writer(process, thread);
    ASSERT_EQ(sequence, next[writer]) << "out of order or repeated: " << line;
    ++next[writer];
    const std::string id = line.substr(18, 17);
    auto known = ids.emplace(writer, id);
    ASSERT_EQ(known.first->second, id) << "another process or thread id: " << line;
  }
  EXPECT_EQ(count, static_cast<std::size_t>(processes * threads * lines));
  for (int p = 0; p < processes; ++p) {
    for (int t = 0; t < threads; ++t) {
      EXPECT_EQ(next[std::make_pair(p, t)], lines) << "process " << p << " thread " << t;
    }
  }
}

} // namespace

TEST(TTraceSharedFile, LinesCarryTheFullPrefixWhateverTheDisplayFlag) {
  const TempFile file("prefix");
  {
    TTraceSharedFile trace(file.Path().c_str());
    trace.SetLevel(0xFF);
    WriteLine(0x4, "first", "C:\\dir\\MUTEXSEM");
    trace.SetDisplayPrefix(0);
    WriteLine(0x80, "second");
    TMessage bare("no file");
    TTrace::WriteEntry(0x8, TUtilityTraceCategory::Utility, bare);
  }
  const std::string contents = Slurp(file.Path());
  EXPECT_EQ(contents.find('\0'), std::string::npos);
  const std::vector<std::string> lines = Lines(contents);
  ASSERT_EQ(lines.size(), 3u) << contents;
  const struct {
    char letter;
    const char* rest;
  } expected[] = {{'E', " [MUTEXSEM:12] first"},
                  {'N', " [unit.cpp:12] second"},
                  {'W', " [????.???:0] no file"}};
  char ids[32];
  std::snprintf(ids, sizeof ids, "%08X:", static_cast<unsigned>(::getpid()));
  for (std::size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(lines[i]);
    EXPECT_TRUE(IsSharedPrefix(lines[i].substr(0, 37), expected[i].letter));
    EXPECT_EQ(lines[i].substr(18, 9), ids);
    EXPECT_EQ(lines[i].substr(37), expected[i].rest);
  }
  TString prefix;
  TTraceSharedFile().FormatPrefix(prefix, 0x4); // an empty handle leaves it alone
  EXPECT_EQ(static_cast<const char*>(prefix), nullptr);
}

TEST(TTraceSharedFile, StartsAfreshOnlyWhenNoOtherWriterHoldsTheFile) {
  const TempFile file("afresh");
  std::ofstream(file.Path()) << "stale line\n";
  {
    const TTraceSharedFile first(file.Path().c_str());
    EXPECT_EQ(Slurp(file.Path()), "") << "nobody held it: emptied";
    WriteLine(0x4, "one");
    const TTraceSharedFile second(file.Path().c_str()); // the first still holds it
    EXPECT_EQ(Lines(Slurp(file.Path())).size(), 1u);
    WriteLine(0x4, "two");
  }
  EXPECT_EQ(Lines(Slurp(file.Path())).size(), 3u) << "the entry went to both outputs";

  // A symbolic link at the last component is not followed: nothing is written through it.
  const TempFile target("target");
  const TempFile link("link");
  std::ofstream(target.Path()) << "keep\n";
  ASSERT_EQ(::symlink(target.Path().c_str(), link.Path().c_str()), 0);
  {
    const TTraceSharedFile trace(link.Path().c_str());
    WriteLine(0x4, "through a link");
  }
  EXPECT_EQ(Slurp(target.Path()), "keep\n");

  // An empty handle and a file that cannot be opened trace nothing and throw nothing.
  EXPECT_TRUE(TTraceSharedFile().QueryPointer().IsNull());
  const TTraceSharedFile nowhere("/nonexistent-dir/x/trace.log");
  WriteLine(0x4, "lost");
}

TEST(TTraceSharedFileThreaded, ThreadsOfOneProcessWriteWholeLines) {
  const TempFile file("threads");
  constexpr int kThreads = 4;
  constexpr int kLines = 2000;
  {
    const TTraceSharedFile trace(file.Path().c_str());
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
  ExpectAllLines(Slurp(file.Path()), 1, kThreads, kLines);
}

// Three processes of two threads each; the third joins after the others have written. The
// file held stale lines that no process had open, so it starts afresh.
TEST(TTraceSharedFileProcesses, EveryLineOnceWholeAndInOrder) {
  const TempFile file("processes");
  std::ofstream(file.Path()) << "stale line\n";
  constexpr int kThreads = 2;
  constexpr int kLines = 20000;
  const auto writer = [&](int process) {
    return std::make_unique<Helper>(
        std::vector<std::string>{"write", file.Path(), std::to_string(process),
                                 std::to_string(kThreads), std::to_string(kLines)});
  };
  std::vector<std::unique_ptr<Helper>> helpers;
  helpers.push_back(writer(0));
  helpers.push_back(writer(1));
  for (auto& helper : helpers) {
    ASSERT_EQ(helper->Read(), "open");
  }
  for (auto& helper : helpers) {
    helper->Send("go");
  }
  // The third starts once the others have written some lines.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  struct stat status {};
  while ((::stat(file.Path().c_str(), &status) != 0 || status.st_size < 37 * 200) &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  helpers.push_back(writer(2));
  ASSERT_EQ(helpers.back()->Read(), "open");
  helpers.back()->Send("go");
  for (auto& helper : helpers) {
    ASSERT_EQ(helper->Read(60000), "done");
  }
  for (auto& helper : helpers) {
    helper->CloseInput();
    EXPECT_EQ(helper->Wait(), 0);
  }
  ExpectAllLines(Slurp(file.Path()), 3, kThreads, kLines);
}

// A process killed while it holds "qelvoTraceFile" does not stop the others: the next locker
// takes the mutex over from the dead holder.
TEST(TTraceSharedFileProcesses, AHolderKilledWithTheMutexDoesNotStopTheOthers) {
  const TempFile file("killed");
  Helper holder({"lock"});
  ASSERT_EQ(holder.Read(), "locked");
  Helper writer({"write", file.Path(), "0", "1", "500"});
  ASSERT_EQ(writer.Read(), "open");
  writer.Send("go");
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(Slurp(file.Path()), "") << "the writer waits for the holder";
  holder.Kill();
  ASSERT_EQ(writer.Read(), "done");
  writer.CloseInput();
  EXPECT_EQ(writer.Wait(), 0);
  ExpectAllLines(Slurp(file.Path()), 1, 1, 500);
}
