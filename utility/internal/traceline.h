// utility/internal/traceline.h: the pieces that every trace output's line is built from.
// Licensed under the Apache License, Version 2.0.
//
// Internal to the library; never installed.
#ifndef TAVUTIL_INTERNAL_TRACELINE_H
#define TAVUTIL_INTERNAL_TRACELINE_H

#include <tavutil/message.h>
#include <tavutil/trace.h>

#include "internal/messagetext.h"
#include "internal/scopedlock.h"
#include "internal/textbuffer.h"

#include <cassert>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <optional>

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
/// The full prefix "MM/DD-hh:mm:ss.cc TTTTTTTT L" (time, thread id, level letter); without
/// the display prefix a line starts with the letter alone.
inline constexpr std::size_t kFullPrefixLength = 28;

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

/// Appends what follows the prefix and comes before the text in every trace line:
/// " [<file part>:<line>] ". Throws std::bad_alloc.
inline void AppendLocation(TextBuffer& line, const TMessage& message) {
  const char* file = message.QueryFile();
  const char* part = file != nullptr ? FilePart(file) : kNoFile;
  line.Append(" [", 2);
  line.Append(part, std::strlen(part));
  constexpr std::size_t kRoom = 24; // ':' and the digits of any unsigned long
  char* const digits = line.Room(kRoom);
  *digits = ':';
  const std::to_chars_result end = std::to_chars(digits + 1, digits + kRoom, message.QueryLine());
  line.Commit(static_cast<std::size_t>(end.ptr - digits));
  line.Append("] ", 2);
}

/// Composes a whole trace line in `line`: a prefix of `prefixSize` bytes that `prefix` writes
/// (given where it starts, returning its end), " [<file part>:<line>] ", the message's text
/// rendered straight into the line, and a '\n'. The prefix is written
/// last: rendering may trace, and so reach this very output, whose own lines (composed on
/// their own buffers) then go out first, stamped before this one, as when the text was
/// rendered before the line was begun. Throws std::bad_alloc, and what rendering throws.
template <class PrefixWriter>
void ComposeLine(TextBuffer& line, std::size_t prefixSize, PrefixWriter prefix,
                 const TMessage& message) {
  line.Room(prefixSize);
  line.Commit(prefixSize);
  AppendLocation(line, message);
  MessageText::Append(message, line);
  line.Append('\n');
  [[maybe_unused]] const char* const written = prefix(line.Data());
  assert(written == line.Data() + prefixSize && "a line prefix of the size reserved for it");
}

} // namespace tavutil::detail

#endif // TAVUTIL_INTERNAL_TRACELINE_H
