// tests/posix/startup_posix_test.cpp: the library's static objects, as a program that loads the
// library with dlopen sees them come and go. Licensed under the Apache License, Version 2.0.
#include "helpers/run_program.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

/// The lines of `text` that start with `tag` and a space, without the tag.
std::vector<std::string> Lines(const std::string& text, const std::string& tag) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.compare(0, tag.size() + 1, tag + " ") == 0) {
      lines.push_back(line.substr(tag.size() + 1));
    }
  }
  return lines;
}

TEST(LibraryStartup, StaticsAreDestroyedInReverseWhenTheLibraryUnloads) {
  const std::string tests = TAVUTIL_TEST_BINARY_DIR;
  const ProgramResult probe =
      RunProgram({tests + "/startup_probe", TAVUTIL_LIBRARY_FILE, tests + "/startup_inspector.so"},
                 {"LC_ALL=C.UTF-8"});
  ASSERT_EQ(probe.status, 0) << probe.output;
  const std::vector<std::string> built = Lines(probe.output, "built");
  EXPECT_GE(built.size(), 2u) << probe.output;
  EXPECT_EQ(Lines(probe.output, "destroyed"),
            std::vector<std::string>(built.rbegin(), built.rend()))
      << probe.output;
  EXPECT_EQ(Lines(probe.output, "unloaded"), std::vector<std::string>{"yes"});
  // Loading set the locale from the environment; the language and the search path start out
  // with their defaults.
  EXPECT_EQ(Lines(probe.output, "locale"), (std::vector<std::string>{"C", "C.UTF-8"}));
  EXPECT_EQ(Lines(probe.output, "lang"), std::vector<std::string>{"C"});
  EXPECT_EQ(Lines(probe.output, "nlspath"), std::vector<std::string>{"%E\\%L\\%N;%E\\%N;"});
}

} // namespace
