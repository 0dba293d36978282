// tests/windows/tracesharedfile_windows_test.cpp: the shared trace file across processes.
// Licensed under the Apache License, Version 2.0.
//
// The start-afresh delete refused while another process has the file open, and whole lines
// from three processes.
#include <tavutil/message.h>
#include <tavutil/tracesharedfile.h>

#include "helpers/shfile_lines.h"
#include "windows/child_process.h"

#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

using shfile::ExpectAllLines;
using shfile::Lines;
using shfile::Slurp;
using wintest::ChildProcess;

/// A file name in the test's temporary directory, removed when the object goes.
struct TempFile {
  explicit TempFile(const std::string& tag)
      : path(::testing::TempDir() + "shfile." + std::to_string(::GetCurrentProcessId()) + "." +
             tag) {
    ::DeleteFileA(path.c_str());
  }
  ~TempFile() { ::DeleteFileA(path.c_str()); }
  const std::string path;
};

/// A shfile_helper writing `lines` lines from each of `threads` threads as process `process`,
/// once told to go.
std::unique_ptr<ChildProcess> StartWriter(const std::string& path, int process, int threads,
                                          int lines) {
  return std::make_unique<ChildProcess>("shfile_helper",
                                        "write \"" + path + "\" " + std::to_string(process) + " " +
                                            std::to_string(threads) + " " + std::to_string(lines));
}

void WriteOwnLine() {
  TMessage message("w %d %d %d", TagVar(0), TagVar(0), TagVar(0));
  message.SetDebugging("helpers\\shfile_helper.cpp", 42);
  TTrace::WriteEntry(0x4, TUtilityTraceCategory::Utility, message);
}

TEST(TTraceSharedFileWindows, AnotherWritersFileIsNotDeletedButAppendedTo) {
  const TempFile file("held");
  auto writer = StartWriter(file.path, 1, 1, 3);
  ASSERT_EQ(writer->Read(), "open");
  ASSERT_TRUE(writer->Send("go"));
  ASSERT_EQ(writer->Read(), "done");

  // The system refuses the delete while the writer has the file open...
  EXPECT_EQ(::DeleteFileA(file.path.c_str()), FALSE);
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  {
    // ...so a new writer keeps its lines and appends after them.
    const TTraceSharedFile trace(file.path.c_str());
    WriteOwnLine();
    const std::vector<std::string> lines = Lines(Slurp(file.path));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_NE(lines[0].find("E [shfile_helper.cpp:42] w 1 0 0"), std::string::npos) << lines[0];
    EXPECT_NE(lines[2].find("E [shfile_helper.cpp:42] w 1 0 2"), std::string::npos) << lines[2];
    EXPECT_NE(lines[3].find("E [shfile_helper.cpp:42] w 0 0 0"), std::string::npos) << lines[3];
    writer->Kill(); // the system closes the killed writer's handle
  }
  // Nobody holds it now: the next writer starts the file afresh.
  const TTraceSharedFile trace(file.path.c_str());
  EXPECT_EQ(Slurp(file.path), "");
  WriteOwnLine();
  EXPECT_EQ(Lines(Slurp(file.path)).size(), 1u);
}

// Three processes of two threads each write at once into a file that held a stale line; the
// first to open it starts it afresh.
TEST(TTraceSharedFileWindows, LinesOfThreeProcessesStayWhole) {
  const TempFile file("three");
  std::ofstream(file.path) << "stale line\n";
  constexpr int kLines = 2000;
  std::vector<std::unique_ptr<ChildProcess>> writers;
  for (int process = 0; process < 3; ++process) {
    writers.push_back(StartWriter(file.path, process, 2, kLines));
    ASSERT_EQ(writers.back()->Read(), "open");
  }
  for (auto& writer : writers) {
    ASSERT_TRUE(writer->Send("go"));
  }
  for (auto& writer : writers) {
    ASSERT_EQ(writer->Read(60000), "done");
    writer->CloseInput();
    EXPECT_EQ(writer->Wait(), 0);
  }
  ExpectAllLines(Slurp(file.path), 3, 2, kLines);
}

} // namespace
