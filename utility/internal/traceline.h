// utility/internal/traceline.h: the pieces that every trace output's line is built from.
// Licensed under the Apache License, Version 2.0.
//
// Internal to the library; never installed.
#ifndef TAVUTIL_INTERNAL_TRACELINE_H
#define TAVUTIL_INTERNAL_TRACELINE_H

#include <tavutil/message.h>

#include <charconv>
#include <string>

namespace tavutil::detail {

/// The file part of a line whose message has no debugging file.
inline constexpr const char* kNoFile = "????.???";

/// What follows the last '\' or '/' of `path`; the whole path when it has neither.
inline const char* FilePart(const char* path) noexcept {
  const char* part = path;
  for (const char* c = path; *c != '\0'; ++c) {
    if (*c == '\\' || *c == '/') {
      part = c + 1;
    }
  }
  return part;
}

/// A clock field as the two digits a line prefix shows. The clock's fields are always in
/// range; the reduction only makes the prefix's length certain whatever the clock gives.
inline int TwoDigits(int value) noexcept {
  return static_cast<int>(static_cast<unsigned>(value) % 100u);
}

/// Appends what follows the prefix in every trace line: " [<file part>:<line>] <text>".
/// `text` is the message already rendered: rendering may trace, and so reach the output that
/// is building `line`, which must therefore happen before the line is begun. Throws
/// std::bad_alloc.
inline void AppendEntry(std::string& line, const TMessage& message, const TString& text) {
  const char* file = message.QueryFile();
  char number[24];
  const std::to_chars_result digits =
      std::to_chars(number, number + sizeof number, message.QueryLine());
  line += " [";
  line += file != nullptr ? FilePart(file) : kNoFile;
  line += ':';
  line.append(number, digits.ptr);
  line += "] ";
  if (const char* t = text) {
    line.append(t, text.length());
  }
}

/// Builds a whole trace line, without its line end, in `line`: `state`'s prefix for `level`,
/// then the entry. The message is rendered first, since rendering may trace into the very
/// output whose line this is. Throws std::bad_alloc.
template <class State>
void BuildLine(std::string& line, const State& state, unsigned long level,
               const TMessage& message) {
  const TString& text = message.QueryMessage();
  TString prefix;
  state.FormatPrefix(prefix, level);
  line.clear();
  if (const char* p = prefix) {
    line.append(p, prefix.length());
  }
  AppendEntry(line, message, text);
}

} // namespace tavutil::detail

#endif // TAVUTIL_INTERNAL_TRACELINE_H
