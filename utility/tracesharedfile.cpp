// utility/tracesharedfile.cpp: the shared trace file, appended by several processes.
// Licensed under the Apache License, Version 2.0.
//
// Operating-system independent: the file, its writers' lock and the named mutex come from the
// platform layer. The file is opened for appending, so each write lands at the end of the
// file as it is then, after whatever another process wrote meanwhile.
#include <tavutil/message.h>
#include <tavutil/tracesharedfile.h>

#include "internal/scopedlock.h"
#include "internal/tracefile.h"
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

using tavutil::detail::PutHex8;

} // namespace

TTraceSharedFileBase::TTraceSharedFileBase(const char* fileName)
    : fFileName(fileName), fMutex(std::make_unique<TMutexSemaphore>(kMutexName)), fFile(nullptr) {
  int error = 0;
  // A refused link or a file of another user is traced; the state then writes nothing.
  tavutil::detail::TraceRefusedFile(tavutil::platform::OpenSharedFile(fileName, fFile, error),
                                    fileName);
}

TTraceSharedFileBase::~TTraceSharedFileBase() {
  tavutil::platform::CloseSharedFile(fFile);
}

// A member like TTrace::Base::FormatPrefix, which it stands in for on this state.
// NOLINTNEXTLINE(readability-convert-member-functions-to-static)
void TTraceSharedFileBase::FormatPrefix(TString& prefix, unsigned long level) const {
  char text[kPrefixLength + 1];
  *WritePrefix(text, level) = '\0';
  prefix = TString(text);
}

char* TTraceSharedFileBase::WritePrefix(char* out, unsigned long level) noexcept {
  char* const start = out;
  out = tavutil::detail::PutClock(out);
  *out++ = ' ';
  out = PutHex8(out, tavutil::platform::ProcessId());
  *out++ = ':';
  out = PutHex8(out, tavutil::platform::ThreadId());
  *out++ = ' ';
  *out++ = LevelChar(level);
  assert(out - start == kPrefixLength && "the shared-file prefix layout is 37 characters");
  (void)start;
  return out;
}

void TTraceSharedFileBase::Write(unsigned long level, const TTrace::Category& /*category*/,
                                 const TMessage& message) {
  // The trace mutex: held by WriteEntry already, taken here by a direct call.
  const tavutil::detail::OutputLock lock;
  if (fFile == nullptr) {
    return;
  }
  try {
    tavutil::detail::TextBuffer line;
    tavutil::detail::ComposeLine( // this state's own prefix
        line, kPrefixLength, [level](char* out) { return WritePrefix(out, level); }, message);
    // Held only while the line goes out, and after the trace mutex (the lock order). A mutex
    // that could not be made still lets the line out: each write goes whole to the end.
    const TMutexSemaphoreEntry fileLock(*fMutex, TMutexSemaphore::fsInfinite);
    tavutil::platform::AppendSharedFile(*fFile, line.Data(), line.Size());
  } catch (...) { // a store's GetMsg may throw anything, a TException too
    // The line is lost; a trace point never fails its caller.
  }
}

TTraceSharedFile::TTraceSharedFile(const char* fileName)
    : TTrace(new TTraceSharedFileBase(fileName)) {}

TTraceSharedFile::~TTraceSharedFile() = default;
