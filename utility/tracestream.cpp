// utility/tracestream.cpp: TTraceStreamBase and TTraceStream, trace lines to streams and files.
// Licensed under the Apache License, Version 2.0.
//
// Operating-system independent: directories are made through the platform layer, files are
// opened with std::ofstream. A line is built whole in the state's buffer and written with one
// unformatted write, so the caller's stream settings (width, base, locale) never change it.
#include <tavutil/message.h>
#include <tavutil/tracestream.h>

#include "internal/traceline.h"
#include "platform/platform.h"

#include <exception>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

namespace {

/// Makes every missing directory of `path`, a file name with '/' separators, outermost
/// first. Returns false when `path` has no directory part or one of them cannot be made.
///
/// It tries the innermost directory first and climbs while that fails for another reason than
/// existing, then makes the ones below on the way back down: the work of the natural recursive
/// routine, without a stack as deep as the name is long. An empty directory part (a name
/// that starts at the root) counts as existing.
bool MakeDirectories(std::string& path) {
  using tavutil::platform::MakeDirectory;
  using tavutil::platform::MakeDirectoryResult;
  std::vector<std::size_t> cuts;
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (path[i] == '/') {
      cuts.push_back(i);
    }
  }
  // Makes the directory ending before cuts[k], cutting the name there for the call.
  auto make = [&path, &cuts](std::size_t k) {
    if (cuts[k] == 0) {
      return MakeDirectoryResult::exists;
    }
    path[cuts[k]] = '\0';
    const MakeDirectoryResult result = MakeDirectory(path.c_str());
    path[cuts[k]] = '/';
    return result;
  };
  std::size_t present = cuts.size(); // index of the innermost directory that exists
  for (std::size_t k = cuts.size(); k-- > 0;) {
    if (make(k) != MakeDirectoryResult::failed) {
      present = k;
      break;
    }
  }
  if (present == cuts.size()) {
    return false;
  }
  for (std::size_t k = present + 1; k < cuts.size(); ++k) {
    if (make(k) == MakeDirectoryResult::failed) {
      return false;
    }
  }
  return true;
}

/// Opens the trace file `fileName` for writing from its start, making its directories first.
/// Null when the name is null or its directories cannot be made.
std::unique_ptr<std::ostream> OpenTraceFile(const char* fileName) {
  if (fileName == nullptr) {
    return nullptr;
  }
  // Both separators name directories; '/' is the one every system's calls accept.
  std::string name(fileName);
  for (char& c : name) {
    if (c == '\\') {
      c = '/';
    }
  }
  if (name.find('/') != std::string::npos && !MakeDirectories(name)) {
    return nullptr;
  }
  return std::make_unique<std::ofstream>(name, std::ios::out | std::ios::trunc);
}

} // namespace

// ------------------------------------------------------------------- state ----

TTraceStreamBase::TTraceStreamBase() : fStream(nullptr) {}

TTraceStreamBase::TTraceStreamBase(std::ostream& stream) : fStream(&stream) {}

// Nothing here throws once the stream is taken: TTraceStream::NewOwningState relies on it.
TTraceStreamBase::TTraceStreamBase(std::ostream* stream) : fOwned(stream), fStream(stream) {}

TTraceStreamBase::TTraceStreamBase(const char* fileName)
    : fOwned(OpenTraceFile(fileName)), fStream(fOwned.get()) {}

TTraceStreamBase::~TTraceStreamBase() = default;

void TTraceStreamBase::SetStream(std::ostream& stream) {
  if (&stream == fOwned.get()) {
    return; // deleting it would leave the state pointing at freed memory
  }
  fOwned.reset();
  fStream = &stream;
}

void TTraceStreamBase::SetStream(std::ostream* stream) {
  if (stream != fOwned.get()) {
    fOwned.reset(stream);
  }
  fStream = stream;
}

void TTraceStreamBase::Write(unsigned long level, const TTrace::Category& /*category*/,
                             const TMessage& message) {
  // WriteEntry already holds the mutex (it is recursive); a direct call gets it here.
  const TMutexSemaphoreEntry lock(fsMutex, TMutexSemaphore::fsInfinite);
  if (fStream == nullptr) {
    return;
  }
  try {
    tavutil::detail::BuildLine(fLine, *this, level, message);
    fStream->write(fLine.data(), static_cast<std::streamsize>(fLine.size()));
    *fStream << std::endl;
  } catch (const std::exception&) {
    // The line is lost; a stream that threw has its bad bit set, as its owner will see.
  }
}

// ------------------------------------------------------------------ handle ----

TTraceStream::TTraceStream() : TTrace(new TTraceStreamBase) {}

TTraceStream::TTraceStream(const char* fileName) : TTrace(new TTraceStreamBase(fileName)) {}

TTraceStream::TTraceStream(std::ostream& stream) : TTrace(new TTraceStreamBase(stream)) {}

TTraceStream::TTraceStream(std::ostream* stream) : TTrace(NewOwningState(stream)) {}

TTraceStream::~TTraceStream() = default;

TTraceStreamBase* TTraceStream::NewOwningState(std::ostream* stream) {
  std::unique_ptr<std::ostream> guard(stream);
  auto* state = new TTraceStreamBase(stream);
  guard.release(); // the state owns it now
  return state;
}

TTraceStreamBase* TTraceStream::StreamState() const noexcept {
  // A TTraceStream can be given another kind of state through TTrace's assignment.
  return dynamic_cast<TTraceStreamBase*>(QueryPointer().QueryBase());
}

void TTraceStream::SetStream(std::ostream& stream) {
  if (TTraceStreamBase* state = StreamState()) {
    state->SetStream(stream);
  }
}

void TTraceStream::SetStream(std::ostream* stream) {
  if (TTraceStreamBase* state = StreamState()) {
    state->SetStream(stream);
  }
}
