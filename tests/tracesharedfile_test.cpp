// tests/tracesharedfile_test.cpp: the shared trace file, in one process and across several.
// Licensed under the Apache License, Version 2.0.
#include <tavutil/message.h>
#include <tavutil/tracesharedfile.h>

#include "helpers/ipc_commands.h"
#include "helpers/run_program.h"
#include "helpers/test_text.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

/// The lines of `contents`, without their line ends.
std::vector<std::string> Lines(const std::string& contents) {
  std::vector<std::string> lines;
  std::istringstream in(contents);
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
  }
  return lines;
}

/// Whether `line` starts "MM/DD-hh:mm:ss.cc PPPPPPPP:TTTTTTTT L" (upper-case hex ids); gives
/// the ids and what follows them (the letter and the rest).
bool SplitLine(const std::string& line, std::string& ids, std::string& rest) {
  const char* layout = "dd/dd-dd:dd:dd.dd hhhhhhhh:hhhhhhhh ";
  for (std::size_t i = 0; i < 36; ++i) {
    const char c = i < line.size() ? line[i] : '\0';
    const bool hex = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
    if (layout[i] == 'd' ? !(c >= '0' && c <= '9') : layout[i] == 'h' ? !hex : c != layout[i]) {
      return false;
    }
  }
  ids = line.substr(18, 17);
  rest = line.substr(36);
  return true;
}

/// Checks that `contents` holds exactly `lines` lines "w P T S" from each thread T of each
/// process P, whole, each thread's in order, all of a writer with one process:thread id, and
/// nothing else.
void ExpectAllLines(const std::string& contents, int processes, int threads, int lines) {
  ASSERT_EQ(contents.empty() ? '?' : contents.back(), '\n');
  std::map<std::pair<int, int>, int> next;
  std::map<std::pair<int, int>, std::string> ids;
  const std::vector<std::string> all = Lines(contents);
  std::string id;
  std::string rest;
  for (const std::string& line : all) {
    ASSERT_TRUE(SplitLine(line, id, rest)) << line;
    int p = -1;
    int t = -1;
    int sequence = -1;
    char tail = 0;
    ASSERT_EQ(
        std::sscanf(rest.c_str(), "E [ipc_helper.cpp:42] w %d %d %d%c", &p, &t, &sequence, &tail),
        3)
        << line;
    const auto writer = std::make_pair(p, t);
    ASSERT_EQ(sequence, next[writer]++) << "out of order or repeated: " << line;
    ASSERT_EQ(ids.emplace(writer, id).first->second, id) << line;
  }
  EXPECT_EQ(all.size(), static_cast<std::size_t>(processes * threads * lines));
  EXPECT_EQ(next.size(), static_cast<std::size_t>(processes * threads));
}

/// A file name in the test's temporary directory, removed when the object goes.
struct TempFile {
  explicit TempFile(const std::string& tag)
      : path(::testing::TempDir() + "shfile." + std::to_string(ProcessId()) + "." + tag) {
    std::remove(path.c_str());
  }
  ~TempFile() { std::remove(path.c_str()); }
  const std::string path;
};

void WriteLine(unsigned long level, const char* text) {
  TMessage message(text);
  message.SetDebugging("src\\unit.cpp", 12);
  TTrace::WriteEntry(level, TUtilityTraceCategory::Utility, message);
}

/// An ipc_helper with a shared trace file on `path`.
std::unique_ptr<ChildProcess> StartWriter(const std::string& path) {
  auto writer = std::make_unique<ChildProcess>(Helper("ipc_helper"));
  EXPECT_EQ(writer->Ask("trace " + path), "ok");
  return writer;
}

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
  const std::string contents = FileContents(file.path);
  EXPECT_EQ(contents.find('\0'), std::string::npos);
  const std::vector<std::string> lines = Lines(contents);
  ASSERT_EQ(lines.size(), 3u) << contents;
  char id[16];
  std::snprintf(id, sizeof id, "%08lX:", ProcessId());
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

TEST(TTraceSharedFileProcesses, StartsAfreshOnlyWhenNoOtherWriterHoldsTheFile) {
  const TempFile file("afresh");
  std::ofstream(file.path) << "stale line\n";
  const auto writer = StartWriter(file.path);
  EXPECT_EQ(FileContents(file.path), "") << "nobody held it: emptied";
  ASSERT_EQ(writer->Ask("write 1 1 3"), "done");
  {
    const TTraceSharedFile trace(file.path.c_str()); // the writer holds it: kept
    WriteLine(0x4, "mine");
    const std::vector<std::string> lines = Lines(FileContents(file.path));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].substr(36), "E [ipc_helper.cpp:42] w 1 0 0");
    EXPECT_EQ(lines[3].substr(36), "E [unit.cpp:12] mine");
    writer->Kill(); // the system closes the killed writer's file
  }
  {
    const TTraceSharedFile trace(file.path.c_str());
    EXPECT_EQ(FileContents(file.path), "") << "nobody held it: emptied";
  }
  const TTraceSharedFile nowhere("/nonexistent-dir/trace.log");
  WriteLine(0x4, "lost"); // and nothing thrown
}

TEST(TTraceSharedFileThreaded, ThreadsOfOneProcessWriteWholeLines) {
  const TempFile file("threads");
  {
    const TTraceSharedFile trace(file.path.c_str());
    TraceLines(0, 4, 2000);
  }
  ExpectAllLines(FileContents(file.path), 1, 4, 2000);
}

// Three processes of two threads; the third starts after the others have written. The file
// held a stale line that no process had open, so it starts afresh.
TEST(TTraceSharedFileProcesses, EveryLineOnceWholeAndInOrder) {
  const TempFile file("processes");
  std::ofstream(file.path) << "stale line\n";
  constexpr int kLines = 20000;
  std::vector<std::unique_ptr<ChildProcess>> writers;
  for (int process = 0; process < 3; ++process) {
    writers.push_back(StartWriter(file.path));
    ASSERT_TRUE(
        writers.back()->Send("write " + std::to_string(process) + " 2 " + std::to_string(kLines)));
    std::error_code error;
    for (int waited = 0;
         process == 1 && waited < 30000 && std::filesystem::file_size(file.path, error) < 64 * 1000;
         ++waited) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  for (auto& writer : writers) {
    ASSERT_EQ(writer->Read(60000), "done");
    EXPECT_EQ(writer->Finish(), 0);
  }
  ExpectAllLines(FileContents(file.path), 3, 2, kLines);
}

// A process killed while it holds "qelvoTraceFile" does not stop the others: the next locker
// takes the mutex over from the dead holder.
TEST(TTraceSharedFileProcesses, AHolderKilledWithTheMutexDoesNotStopTheOthers) {
  const TempFile file("killed");
  ChildProcess holder(Helper("ipc_helper"));
  ASSERT_EQ(holder.Ask("mutex qelvoTraceFile"), "ok");
  ASSERT_EQ(holder.Ask("lock -1"), "0");
  const auto writer = StartWriter(file.path);
  ASSERT_TRUE(writer->Send("write 0 1 500"));
  EXPECT_EQ(writer->Read(200), "<none>") << "the writer waits for the holder";
  EXPECT_EQ(FileContents(file.path), "");
  holder.Kill();
  ASSERT_EQ(writer->Read(60000), "done");
  EXPECT_EQ(writer->Finish(), 0);
  ExpectAllLines(FileContents(file.path), 1, 1, 500);
}

} // namespace
