// utility/internal/traceline.h: the pieces that every trace output's line is built from.
// Licensed under the Apache License, Version 2.0.
//
// Internal to the library; never installed.
#ifndef TAVUTIL_INTERNAL_TRACELINE_H
#define TAVUTIL_INTERNAL_TRACELINE_H

#include <tavutil/message.h>
#include <tavutil/trace.h>

#include "internal/scopedlock.h"

#include <charconv>
#include <cstdint>
#include <optional>
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

/// Writes `value` (a clock field) as two decimal digits.
inline char* PutTwoDigits(char* out, int value) noexcept {
  const int digits = TwoDigits(value);
  out[0] = static_cast<char>('0' + digits / 10);
  out[1] = static_cast<char>('0' + digits % 10);
  return out + 2;
}

/// Writes `value` as eight upper-case hexadecimal digits.
inline char* PutHex8(char* out, std::uint32_t value) noexcept {
  for (int i = 7; i >= 0; --i) {
    out[i] = "0123456789ABCDEF"[value & 0xFu];
    value >>= 4;
  }
  return out + 8;
}

/// The room a line prefix needs, its terminating NUL included.
inline constexpr std::size_t kPrefixRoom = 48;

/// Writes the local time as "MM/DD-hh:mm:ss.cc" (17 characters, to the hundredth) and returns
/// the end. The date-and-time text is made once per second on each thread.
char* PutClock(char* out) noexcept;

/// Writes the prefix of TTrace::Base::FormatPrefix for `level` (the letter alone without
/// `display`, else time, thread id and letter; at most kPrefixRoom - 1 characters) and
/// returns the end.
char* PutLinePrefix(char* out, bool display, unsigned long level) noexcept;

/// Whether the calling thread is inside TTrace::Base::WriteEntry, which holds the trace mutex
/// for the whole delivery: an output's Write then need not take it again.
bool DeliveringEntry() noexcept;

/// Holds the trace mutex for an output's Write unless the calling thread's WriteEntry already
/// does: the mutex is taken once per entry, and a direct call of Write still writes whole lines.
/// A lock that fails ends the process, as every hold of the library's own mutexes does.
class OutputLock {
public:
  OutputLock() noexcept {
    if (!DeliveringEntry()) {
      fLock.emplace(TTrace::Base::fsMutex);
    }
  }

private:
  std::optional<ScopedLock> fLock;
};

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

/// Builds a whole trace line in `line`, its '\n' included: the prefix that `prefix` writes
/// (it is given a buffer of kPrefixRoom bytes and returns the end of what it wrote), then the
/// entry. The message is rendered first, since rendering may trace into the very output
/// whose line this is. Throws std::bad_alloc.
template <class PrefixWriter>
void BuildLine(std::string& line, PrefixWriter prefix, const TMessage& message) {
  const TString& text = message.QueryMessage();
  char buffer[kPrefixRoom];
  const char* const end = prefix(buffer);
  line.clear();
  line.append(buffer, static_cast<std::size_t>(end - buffer));
  AppendEntry(line, message, text);
  line += '\n';
}

} // namespace tavutil::detail

#endif // TAVUTIL_INTERNAL_TRACELINE_H
