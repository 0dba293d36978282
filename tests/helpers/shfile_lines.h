// tests/helpers/shfile_lines.h: reading back a shared trace file in the tests.
// Licensed under the Apache License, Version 2.0.
#ifndef TAVUTIL_TESTS_SHFILE_LINES_H
#define TAVUTIL_TESTS_SHFILE_LINES_H

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace shfile {

/// The whole file, or "" when it cannot be read.
inline std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

/// The lines of `contents`, without their line ends.
inline std::vector<std::string> Lines(const std::string& contents) {
  std::vector<std::string> lines;
  std::istringstream in(contents);
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
  }
  return lines;
}

/// Whether `line` starts "MM/DD-hh:mm:ss.cc PPPPPPPP:TTTTTTTT L" (upper-case hex ids); gives
/// the ids and what follows them (the letter and the rest).
inline bool SplitLine(const std::string& line, std::string& ids, std::string& rest) {
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
inline void ExpectAllLines(const std::string& contents, int processes, int threads, int lines) {
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

} // namespace shfile

#endif // TAVUTIL_TESTS_SHFILE_LINES_H
