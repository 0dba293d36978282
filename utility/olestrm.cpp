// utility/olestrm.cpp: TOleStreamBuf and the three iostreams over COM IStream objects.
// Licensed under the Apache License, Version 2.0.
//
// Operating-system independent: the IStream is whatever object the caller hands over.
#include <tavutil/olestrm.h>
#include <tavutil/tagvar.h>
#include <tavutil/trace.h>

#include "internal/tracepoint.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

using tavutil::detail::SourceLine;
using Traits = std::streambuf::traits_type;

constexpr char kSource[] = "utility/OLESTRM";
/// Every trace point is an error (level 4) under the OleStream category.
constexpr unsigned long kTraceLevel = 0x4;
constexpr char kWriteFailed[] = // fixed: "writing from" is the system's wording
    "Error writing from IStream interface, fStream=x%p, rc=%d";
constexpr char kReadFailed[] = // fixed: the lower-case "error" is the system's
    "error reading from IStream interface, fStream=x%p, rc=%d";
constexpr unsigned long kLineWrite = 198;
constexpr unsigned long kLineWriteByte = 234;
constexpr unsigned long kLineReadByte = 277; // fixed: a quoted line, not this file's
constexpr unsigned long kLineRead = 317;     // fixed: a quoted line, not this file's
/// The largest buffer; keeps every count within an int and a ULONG.
constexpr std::uint32_t kLargestBuffer = std::uint32_t{1} << 30;

/// Traces a failed Read or Write with the stream and its result. A buffer never throws, so
/// an entry that cannot be built is dropped.
void TraceFailure(unsigned long line, const char* text, IStream* stream, HRESULT result) noexcept {
  tavutil::detail::TracePointNoThrow(kTraceLevel, TUtilityTraceCategory::OleStream,
                                     SourceLine{kSource, line}, text, TagVarVoidPtr(stream),
                                     static_cast<long>(result));
}

} // namespace

// ---------------------------------------------------------------- TOleStreamBuf ----

TOleStreamBuf::TOleStreamBuf(IStream* stream, Type type) noexcept
    : TOleStreamBuf(kDefaultBufferSize, stream, type) {}

TOleStreamBuf::TOleStreamBuf(unsigned long bufferSize, IStream* stream, Type type) noexcept
    : TOleStreamBuf(bufferSize, type) {
  Init(stream);
}

TOleStreamBuf::TOleStreamBuf(Type type) noexcept : TOleStreamBuf(kDefaultBufferSize, type) {}

TOleStreamBuf::TOleStreamBuf(unsigned long bufferSize, Type type) noexcept
    : fStream(nullptr), fType(type),
      fBufferSize(static_cast<std::uint32_t>(std::min<unsigned long>(bufferSize, kLargestBuffer))),
      fOneByte(0), fBytesWritten(0),
      fUnbuffered(fBufferSize == 0 || (type == readWrite && fBufferSize < 2)) {}

TOleStreamBuf::~TOleStreamBuf() {
  Close();
}

void TOleStreamBuf::Init(IStream* stream) noexcept {
  if (stream == fStream) {
    return;
  }
  Close();
  fStream = stream;
  if (fStream != nullptr) {
    fStream->AddRef();
  }
  fBytesWritten = 0;
}

void TOleStreamBuf::Close() noexcept {
  if (fStream != nullptr) {
    IStream* stream = fStream;
    fStream = nullptr;
    stream->Release();
  }
}

unsigned long TOleStreamBuf::QueryBytesWritten() const noexcept {
  return fBytesWritten + static_cast<unsigned long>(pptr() - pbase());
}

bool TOleStreamBuf::Usable() const noexcept {
  return fStream != nullptr && (fType == readOnly || fType == writeOnly || fType == readWrite);
}

std::uint32_t TOleStreamBuf::GetRoom() const noexcept {
  switch (fType) {
  case readOnly:
    return fBufferSize;
  case readWrite:
    return fBufferSize / 2;
  default:
    return 0;
  }
}

int TOleStreamBuf::doallocate() {
  if (!Usable() || fUnbuffered) {
    return Traits::eof();
  }
  fBuffer.reset(new (std::nothrow) char[fBufferSize]);
  if (fBuffer == nullptr) {
    return Traits::eof();
  }
  char* start = fBuffer.get();
  char* end = start + fBufferSize;
  setg(start, start, start);
  if (fType == readOnly) {
    setp(end, end);
  } else {
    setp(start + GetRoom(), end);
  }
  return 0;
}

std::streambuf* TOleStreamBuf::setbuf(char* buffer, std::streamsize size) {
  if (buffer != nullptr || size != 0 || fBuffer != nullptr) {
    return nullptr;
  }
  fUnbuffered = true;
  return this;
}

bool TOleStreamBuf::WritePutArea() {
  const auto pending = static_cast<ULONG>(pptr() - pbase());
  ULONG written = 0;
  const HRESULT result = fStream->Write(pbase(), pending, &written);
  written = std::min(written, pending); // a count beyond the request is not believed
  fBytesWritten += written;
  // Keep what the stream did not take, so that a retry neither loses nor repeats bytes.
  std::memmove(pbase(), pbase() + written, pending - written);
  char* base = pbase();
  char* end = epptr();
  setp(base, end);
  pbump(static_cast<int>(pending - written));
  if (FAILED(result)) {
    TraceFailure(kLineWrite, kWriteFailed, fStream, result);
    return false;
  }
  return written == pending;
}

TOleStreamBuf::int_type TOleStreamBuf::overflow(int_type character) {
  if (!Usable()) {
    return Traits::eof();
  }
  if (fUnbuffered) {
    if (Traits::eq_int_type(character, Traits::eof())) {
      return 0;
    }
    const char byte = Traits::to_char_type(character);
    ULONG written = 0;
    const HRESULT result = fStream->Write(&byte, 1, &written);
    fBytesWritten += std::min<ULONG>(written, 1);
    if (FAILED(result)) {
      TraceFailure(kLineWriteByte, kWriteFailed, fStream, result);
      return Traits::eof();
    }
    return written == 1 ? 0 : Traits::eof(); // fixed: 0, not the byte, when unbuffered
  }
  if (fBuffer == nullptr) {
    if (Traits::eq_int_type(doallocate(), Traits::eof())) {
      return Traits::eof();
    }
  } else if (pptr() > pbase() && !WritePutArea()) {
    return Traits::eof();
  }
  if (Traits::eq_int_type(character, Traits::eof())) {
    return 0;
  }
  if (pptr() == epptr()) {
    return Traits::eof(); // no put area: a readOnly buffer
  }
  *pptr() = Traits::to_char_type(character);
  pbump(1);
  return Traits::to_int_type(Traits::to_char_type(character));
}

TOleStreamBuf::int_type TOleStreamBuf::underflow() {
  if (gptr() < egptr()) {
    return Traits::to_int_type(*gptr());
  }
  if (!Usable()) {
    return Traits::eof();
  }
  if (fUnbuffered) {
    ULONG got = 0;
    const HRESULT result = fStream->Read(&fOneByte, 1, &got);
    if (FAILED(result)) {
      TraceFailure(kLineReadByte, kReadFailed, fStream, result);
      return Traits::eof();
    }
    if (got != 1) {
      return Traits::eof();
    }
    setg(&fOneByte, &fOneByte, &fOneByte + 1);
    return Traits::to_int_type(fOneByte);
  }
  if (fBuffer == nullptr && Traits::eq_int_type(doallocate(), Traits::eof())) {
    return Traits::eof();
  }
  const std::uint32_t room = GetRoom();
  if (room == 0) {
    return Traits::eof(); // no get area: a writeOnly buffer
  }
  char* start = fBuffer.get();
  ULONG got = 0;
  const HRESULT result = fStream->Read(start, room, &got);
  if (FAILED(result)) {
    TraceFailure(kLineRead, kReadFailed, fStream, result);
    return Traits::eof();
  }
  got = std::min<ULONG>(got, room); // a count beyond the request is not believed
  if (got == 0) {
    return Traits::eof();
  }
  setg(start, start, start + got);
  return Traits::to_int_type(*gptr());
}

int TOleStreamBuf::sync() {
  if (fBuffer != nullptr && pptr() > pbase()) {
    return Traits::eq_int_type(overflow(Traits::eof()), Traits::eof()) ? -1 : 0;
  }
  return 0;
}

TOleStreamBuf::pos_type TOleStreamBuf::seekoff(off_type /*offset*/,
                                               std::ios_base::seekdir /*direction*/,
                                               std::ios_base::openmode /*mode*/) {
  return pos_type(off_type(-1));
}

// ------------------------------------------------------------------- the streams ----

TiOleStream::TiOleStream(IStream* stream) noexcept
    : TiOleStream(TOleStreamBuf::kDefaultBufferSize, stream) {}

TiOleStream::TiOleStream(unsigned long bufferSize, IStream* stream) noexcept
    : std::istream(nullptr), fBuffer(bufferSize, stream, TOleStreamBuf::readOnly) {
  std::ios::rdbuf(&fBuffer);
}

TiOleStream::~TiOleStream() = default;

ToOleStream::ToOleStream(IStream* stream) noexcept
    : ToOleStream(TOleStreamBuf::kDefaultBufferSize, stream) {}

ToOleStream::ToOleStream(unsigned long bufferSize, IStream* stream) noexcept
    : std::ostream(nullptr), fBuffer(bufferSize, stream, TOleStreamBuf::writeOnly) {
  std::ios::rdbuf(&fBuffer);
}

ToOleStream::~ToOleStream() = default;

TOleStream::TOleStream(IStream* stream) noexcept
    : TOleStream(TOleStreamBuf::kDefaultBufferSize, stream) {}

TOleStream::TOleStream(unsigned long bufferSize, IStream* stream) noexcept
    : std::iostream(nullptr), fBuffer(bufferSize, stream, TOleStreamBuf::readWrite) {
  std::ios::rdbuf(&fBuffer);
}

TOleStream::~TOleStream() = default;
