// tests/windows/tmpstrm_windows_test.cpp: temporary-file streams of killed processes.
// Licensed under the Apache License, Version 2.0.
//
// A temporary-file stream's file goes with its process, also when the process is killed.
#include "windows/child_process.h"

#include <memory>
#include <string>
#include <vector>

namespace {

using wintest::ChildProcess;

/// The names in `directory` (not "." and "..").
std::vector<std::string> Entries(const std::string& directory) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found{};
  const HANDLE search = ::FindFirstFileA((directory + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    return names;
  }
  do {
    const std::string name = found.cFileName;
    if (name != "." && name != "..") {
      names.push_back(name);
    }
  } while (::FindNextFileA(search, &found) != FALSE);
  ::FindClose(search);
  return names;
}

/// A directory of its own for the child's temporary files, removed with whatever is left.
class TTempStreamWindows : public ::testing::Test {
protected:
  void SetUp() override {
    fDirectory = ::testing::TempDir() + "tmpstrm." + std::to_string(::GetCurrentProcessId());
    ASSERT_NE(::CreateDirectoryA(fDirectory.c_str(), nullptr), FALSE);
  }
  void TearDown() override {
    for (const std::string& name : Entries(fDirectory)) {
      ::DeleteFileA((fDirectory + "\\" + name).c_str());
    }
    EXPECT_NE(::RemoveDirectoryA(fDirectory.c_str()), FALSE);
  }
  std::string fDirectory;
};

TEST_F(TTempStreamWindows, AKilledProcessLeavesNoFile) {
  for (const bool kill : {true, false}) {
    SCOPED_TRACE(kill ? "killed" : "ended");
    std::unique_ptr<ChildProcess> holder;
    {
      // The system's temporary directory comes from TMP (then TEMP) in the child.
      const wintest::ScopedEnvironment temporary({{"TMP", fDirectory}, {"TEMP", fDirectory}});
      holder = std::make_unique<ChildProcess>("tmpstrm_holder");
    }
    ASSERT_EQ(holder->Read(), "file");
    EXPECT_EQ(Entries(fDirectory).size(), 1u); // the child's file, while it runs
    if (kill) {
      holder->Kill();
    } else {
      holder->CloseInput();
      EXPECT_EQ(holder->Wait(), 0);
    }
    EXPECT_TRUE(Entries(fDirectory).empty());
  }
}

} // namespace
