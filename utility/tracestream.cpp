// utility/tracestream.cpp: TTraceStreamBase and TTraceStream, trace lines to streams and files.
// Licensed under the Apache License, Version 2.0.
//
// Operating-system independent: directories are made and files written through the platform
// layer. A line is built whole in the state's buffer and written with one unformatted write,
// so the caller's stream settings (width, base, locale) never change it.
#include <tavutil/message.h>
#include <tavutil/tracestream.h>

#include "internal/scopedlock.h"
#include "internal/tracefile.h"
#include "internal/traceline.h"
#include "platform/platform.h"

#include <cstring>
#include <exception>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

namespace {

/// The buffer of a trace file: the bytes of a line are collected and written at each flush
/// (a trace line ends with one). A write that fails, a write past the file-size limit
/// included, discards what was collected and fails the stream.
class TraceFileBuffer : public std::streambuf {
public:
  /// Writes to `file`, which it closes; null fails every write.
  explicit TraceFileBuffer(tavutil::platform::OutputFile* file) noexcept : fFile(file) {
    setp(fBytes, fBytes + sizeof fBytes);
  }
  ~TraceFileBuffer() override {
    Flush();
    tavutil::platform::CloseOutputFile(fFile);
  }
  TraceFileBuffer(const TraceFileBuffer&) = delete;
  TraceFileBuffer& operator=(const TraceFileBuffer&) = delete;

protected:
  int_type overflow(int_type c) override {
    if (Flush() != 0) {
      return traits_type::eof();
    }
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(c);
      pbump(1);
    }
    return traits_type::not_eof(c);
  }

  std::streamsize xsputn(const char* bytes, std::streamsize count) override {
    if (count <= epptr() - pptr()) {
      std::memcpy(pptr(), bytes, static_cast<std::size_t>(count));
      pbump(static_cast<int>(count));
      return count;
    }
    // Longer than the room left: what is collected goes first, then these bytes directly.
    if (Flush() != 0 || fFile == nullptr ||
        tavutil::platform::WriteOutputFile(*fFile, bytes, static_cast<std::size_t>(count)) != 0) {
      return 0;
    }
    return count;
  }

  int sync() override { return Flush(); }

private:
  /// Writes and empties the collected bytes; 0, or -1 when they could not all be written.
  int Flush() noexcept {
    const auto size = static_cast<std::size_t>(pptr() - pbase());
    setp(fBytes, fBytes + sizeof fBytes);
    if (size == 0) {
      return 0;
    }
    return fFile != nullptr && tavutil::platform::WriteOutputFile(*fFile, fBytes, size) == 0 ? 0
                                                                                             : -1;
  }

  tavutil::platform::OutputFile* fFile;
  char fBytes[4096];
};

/// An output stream on a trace file; in a failed state from the start when it has no file.
class TraceFileStream : public std::ostream {
public:
  explicit TraceFileStream(tavutil::platform::OutputFile* file)
      : std::ostream(nullptr), fBuffer(file) {
    rdbuf(&fBuffer);
    if (file == nullptr) {
      setstate(std::ios::badbit);
    }
  }

private:
  TraceFileBuffer fBuffer;
};

/// Makes every missing directory of `path`, a file name with '/' separators, outermost
/// first. Returns false when `path` has no directory part or one of them cannot be made, and
/// makes nothing at all when `path` is longer than the system accepts.
///
/// It tries the innermost directory first and climbs while that fails for another reason than
/// existing, then makes the ones below on the way back down: the work of the natural recursive
/// routine, without a stack as deep as the name is long. An empty directory part (a name
/// that starts at the root) counts as existing.
bool MakeDirectories(std::string& path) {
  using tavutil::platform::MakeDirectory;
  using tavutil::platform::MakeDirectoryResult;
  if (!tavutil::platform::PathFits(path.c_str())) {
    return false; // the file could not be opened: no directory is made for it
  }
  std::vector<std::size_t> cuts;
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (path[i] == '/') {
      cuts.push_back(i);
    }
  }
  // Makes the directory ending before cuts[cut], cutting the name there for the call.
  auto make = [&path, &cuts](std::size_t cut) {
    if (cuts[cut] == 0) {
      return MakeDirectoryResult::exists;
    }
    path[cuts[cut]] = '\0';
    const MakeDirectoryResult result = MakeDirectory(path.c_str());
    path[cuts[cut]] = '/';
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
/// Null when the name is null or its directories cannot be made; a failed stream when the
/// file cannot be opened or is refused (a symbolic link the rules do not follow is traced).
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
  using tavutil::platform::OutputFile;
  OutputFile* file = nullptr;
  int error = 0;
  const tavutil::platform::NamedFileResult result =
      tavutil::platform::OpenOutputFile(name.c_str(), file, error);
  // Closed here when tracing or making the stream throws; the stream closes it otherwise.
  std::unique_ptr<OutputFile, int (*)(OutputFile*)> guard(file, tavutil::platform::CloseOutputFile);
  tavutil::detail::TraceRefusedFile(result, fileName);
  auto stream = std::make_unique<TraceFileStream>(guard.get());
  static_cast<void>(guard.release()); // the stream owns it now
  return stream;
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

void TTraceStreamBase::SetStream(std::ostream& stream) noexcept {
  if (&stream == fOwned.get()) {
    return; // deleting it would leave the state pointing at freed memory
  }
  fOwned.reset();
  fStream = &stream;
}

void TTraceStreamBase::SetStream(std::ostream* stream) noexcept {
  if (stream != fOwned.get()) {
    fOwned.reset(stream);
  }
  fStream = stream;
}

void TTraceStreamBase::Write(unsigned long level, const TTrace::Category& /*category*/,
                             const TMessage& message) {
  // The trace mutex: held by WriteEntry already, taken here by a direct call.
  const tavutil::detail::OutputLock lock;
  if (fStream == nullptr) {
    return;
  }
  try {
    const bool display = QueryDisplayPrefix() != 0;
    tavutil::detail::TextBuffer line;
    tavutil::detail::ComposeLine(
        line, display ? tavutil::detail::kFullPrefixLength : 1,
        [display, level](char* out) { return tavutil::detail::PutLinePrefix(out, display, level); },
        message);
    fStream->write(line.Data(), static_cast<std::streamsize>(line.Size()));
    fStream->flush();
  } catch (...) { // a store's GetMsg may throw anything, a TException too
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
  static_cast<void>(guard.release()); // the state owns it now
  return state;
}

TTraceStreamBase* TTraceStream::StreamState() const noexcept {
  // A TTraceStream can be given another kind of state through TTrace's assignment.
  return dynamic_cast<TTraceStreamBase*>(QueryPointer().QueryBase());
}

void TTraceStream::SetStream(std::ostream& stream) noexcept {
  if (TTraceStreamBase* state = StreamState()) {
    state->SetStream(stream);
  }
}

void TTraceStream::SetStream(std::ostream* stream) noexcept {
  if (TTraceStreamBase* state = StreamState()) {
    state->SetStream(stream);
  }
}
