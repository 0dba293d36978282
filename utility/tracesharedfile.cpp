// utility/tracesharedfile.cpp: the shared trace file, appended by several processes.
// Licensed under the Apache License, Version 2.0.
//
// Operating-system independent: the file, its writers' lock and the named mutex come from the
// platform layer. The file is opened for appending, so each write lands at the end of the
// file as it is then, after whatever another process wrote meanwhile.
#include <tavutil/message.h>
#include <tavutil/tracesharedfile.h>

#include "internal/traceline.h"
#include "platform/platform.h"

#include <cassert>
#include <cstdint>
#include <exception>

namespace {

/// The machine-wide mutex that every process's shared trace file writes under.
constexpr const char* kMutexName = "qelvoTraceFile";

/// The line prefix, "%2.2d/%2.2d-%2.2d:%2.2d:%2.2d.%2.2d %08X:%08X %c": month/day-hour:minute:
/// second.hundredths, process id:thread id, level letter. It is on every line's path, so it
/// is written digit by digit rather than through the formatter.
constexpr int kPrefixLength = 37;

using tavutil::detail::TwoDigits;

/// Writes `value` (a clock field) as two decimal digits.
char* PutTwoDigits(char* out, int value) noexcept {
  const int digits = TwoDigits(value);
  out[0] = static_cast<char>('0' + digits / 10);
  out[1] = static_cast<char>('0' + digits % 10);
  return out + 2;
}

/// Writes `value` as eight upper-case hexadecimal digits.
char* PutHex8(char* out, std::uint32_t value) noexcept {
  for (int i = 7; i >= 0; --i) {
    out[i] = "0123456789ABCDEF"[value & 0xFu];
    value >>= 4;
  }
  return out + 8;
}

} // namespace

TTraceSharedFileBase::TTraceSharedFileBase(const char* fileName)
    : fFileName(fileName), fMutex(std::make_unique<TMutexSemaphore>(kMutexName)), fFile(nullptr) {
  int error = 0;
  fFile = tavutil::platform::OpenSharedFile(fileName, error);
}

TTraceSharedFileBase::~TTraceSharedFileBase() {
  tavutil::platform::CloseSharedFile(fFile);
}

// A member like TTrace::Base::FormatPrefix, which it stands in for on this state.
// NOLINTNEXTLINE(readability-convert-member-functions-to-static)
void TTraceSharedFileBase::FormatPrefix(TString& prefix, unsigned long level) const {
  const tavutil::platform::LocalTimeValue now = tavutil::platform::LocalTime();
  char text[kPrefixLength + 1];
  char* out = PutTwoDigits(text, now.month);
  *out++ = '/';
  out = PutTwoDigits(out, now.day);
  *out++ = '-';
  out = PutTwoDigits(out, now.hour);
  *out++ = ':';
  out = PutTwoDigits(out, now.minute);
  *out++ = ':';
  out = PutTwoDigits(out, now.second);
  *out++ = '.';
  out = PutTwoDigits(out, now.millisecond / 10);
  *out++ = ' ';
  out = PutHex8(out, tavutil::platform::ProcessId());
  *out++ = ':';
  out = PutHex8(out, tavutil::platform::ThreadId());
  *out++ = ' ';
  *out++ = LevelChar(level);
  *out = '\0';
  assert(out - text == kPrefixLength && "the shared-file prefix layout is 37 characters");
  prefix = TString(text);
}

void TTraceSharedFileBase::Write(unsigned long level, const TTrace::Category& /*category*/,
                                 const TMessage& message) {
  // WriteEntry already holds the trace mutex (it is recursive); a direct call gets it here.
  const TMutexSemaphoreEntry lock(fsMutex, TMutexSemaphore::fsInfinite);
  if (fFile == nullptr) {
    return;
  }
  try {
    tavutil::detail::BuildLine(fLine, *this, level, message); // this state's own prefix
    fLine += '\n';
    // Held only while the line goes out, and after the trace mutex (the lock order). A mutex
    // that could not be made still lets the line out: each write goes whole to the end.
    const TMutexSemaphoreEntry fileLock(*fMutex, TMutexSemaphore::fsInfinite);
    tavutil::platform::AppendSharedFile(*fFile, fLine.data(), fLine.size());
  } catch (const std::exception&) {
    // The line is lost; a trace point never fails its caller.
  }
}

TTraceSharedFile::TTraceSharedFile(const char* fileName)
    : TTrace(new TTraceSharedFileBase(fileName)) {}

TTraceSharedFile::~TTraceSharedFile() = default;
