// utility/tmpstrm.cpp: TTempStreamTest, TTempStreamBuf and TTempStream.
// Licensed under the Apache License, Version 2.0.
//
// Operating-system independent: the temporary file is the platform's (platform/platform.h).
// In file mode the buffer's lower half is the get area and its upper half the put area; at
// most one of them holds bytes at a time, so the file position always tells where the
// other side goes on. When the file refuses bytes the stream had taken (a full disk, a
// file-size limit), they stay at the start of the upper half as "stranded" bytes with the
// position they belong at; until they are placed the stream keeps its own position, reads
// see the file with the stranded bytes over it, and writes first try to place them.
#include <tavutil/tmpstrm.h>
#include <tavutil/trace.h>

#include "internal/tracepoint.h"
#include "platform/platform.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <ostream>

namespace {

using tavutil::detail::SourceLine;
using Traits = std::streambuf::traits_type;

constexpr char kSource[] = "utility/TMPSTRM";
/// Both trace points are errors (level 4) under the MemStream category.
constexpr unsigned long kTraceLevel = 0x4;
constexpr char kOpened[] = "Opened temp file";
constexpr char kOpenFailed[] = "Unable to open temp file, error=%d(%s)";
constexpr unsigned long kLineOpenFailed = 233;
constexpr unsigned long kLineOpened = 237;
/// The file-mode buffer needs a byte in each half; a half is kept within an int count.
constexpr std::uint32_t kSmallestFileBuffer = 2;
constexpr std::uint32_t kLargestFileBuffer = std::uint32_t{1} << 30;

/// Writes a trace entry; a buffer never throws, so an entry that cannot be built is dropped.
template <class... Arguments>
void Trace(unsigned long line, const char* text, const Arguments&... arguments) noexcept {
  tavutil::detail::TracePointNoThrow(kTraceLevel, TUtilityTraceCategory::MemStream,
                                     SourceLine{kSource, line}, text, arguments...);
}

} // namespace

/// The temporary file, closed when this goes.
struct TTempStreamBuf::TempFile {
  explicit TempFile(tavutil::platform::TempFileHandle* file) noexcept : handle(file) {}
  ~TempFile() { tavutil::platform::CloseTempFile(handle); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  tavutil::platform::TempFileHandle* handle;
};

// -------------------------------------------------------------- TTempStreamTest ----

TTempStreamTest::~TTempStreamTest() = default;

// --------------------------------------------------------------- TTempStreamBuf ----

TTempStreamBuf::TTempStreamBuf(const char* name, TReference<TTempStreamTest> test)
    : TTempStreamBuf(kDefaultAllocSize, name, std::move(test)) {}

TTempStreamBuf::TTempStreamBuf(unsigned long allocSize, const char* name,
                               TReference<TTempStreamTest> test)
    : TMemStreamBuf(allocSize), fTest(std::move(test)), fInMemory(1), fName(name),
      fFileBufferSize(std::clamp(static_cast<std::uint32_t>(QueryAllocSize()), kSmallestFileBuffer,
                                 kLargestFileBuffer)) {}

TTempStreamBuf::~TTempStreamBuf() = default;

int TTempStreamBuf::extend() {
  if (!fInMemory) {
    return 0; // the file grows by itself
  }
  TMemStreamBuf::sync(); // the policy sees every block's length
  if (fTest.IsNull() || fTest->UseTempFile(this) == 0) {
    return TMemStreamBuf::extend();
  }
  return MoveToFile();
}

int TTempStreamBuf::MoveToFile() {
  int error = 0;
  std::unique_ptr<TempFile> file;
  if (tavutil::platform::TempFileHandle* handle = tavutil::platform::OpenTempFile(error)) {
    file.reset(new (std::nothrow) TempFile(handle));
    if (file == nullptr) {
      tavutil::platform::CloseTempFile(handle);
      error = tavutil::platform::kErrorNoMemory;
    }
  }
  if (file == nullptr) {
    char text[256];
    Trace(kLineOpenFailed, kOpenFailed, static_cast<long>(error),
          tavutil::platform::ErrorText(error, text, sizeof text));
    return Traits::eof();
  }
  Trace(kLineOpened, kOpened);

  // The data goes to the file in chain order; the writer's place is noted on the way.
  std::uint64_t total = 0;
  std::uint64_t writer = 0;
  bool writerFound = false;
  for (const TMemStreamBuffer* block = QueryFirstBuffer(); block != nullptr;
       block = block->QueryNext()) {
    if (pbase() != nullptr && block->QueryStart() == pbase()) {
      writer = total + static_cast<std::uint64_t>(pptr() - pbase());
      writerFound = true;
    }
    const std::size_t length = block->QueryLength();
    if (tavutil::platform::WriteTempFile(*file->handle, block->QueryStart(), length, error) !=
        length) {
      return Traits::eof();
    }
    total += length;
  }
  if (!writerFound) {
    writer = total;
  }
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[fFileBufferSize]);
  if (buffer == nullptr ||
      tavutil::platform::SeekTempFile(*file->handle, writer) != static_cast<std::int64_t>(writer)) {
    return Traits::eof();
  }

  fFile = std::move(file);
  fFileBuffer = std::move(buffer);
  fInMemory = 0;
  DeleteBuffer();
  setg(fFileBuffer.get(), fFileBuffer.get(), fFileBuffer.get());
  setp(WriteHalf(), BufferEnd());
  return 0;
}

bool TTempStreamBuf::FlushWriteHalf() {
  const auto pending = static_cast<std::size_t>(pptr() - pbase());
  tavutil::platform::TempFileHandle& file = *fFile->handle;
  int error = 0;
  const std::size_t written =
      pending == 0 ? 0 : tavutil::platform::WriteTempFile(file, pbase(), pending, error);
  if (written == pending) {
    setp(WriteHalf(), BufferEnd());
    return true;
  }
  // The file refused the rest: it stays, neither lost nor repeated, and the position it
  // belongs at is where the write stopped.
  std::memmove(WriteHalf(), pbase() + written, pending - written);
  fStranded = pending - written;
  fStrandedAt = static_cast<std::uint64_t>(tavutil::platform::TellTempFile(file));
  fPosition = fStrandedAt + fStranded;
  setg(fFileBuffer.get(), fFileBuffer.get(), fFileBuffer.get());
  setp(WriteHalf(), WriteHalf());
  return false;
}

bool TTempStreamBuf::DropReadHalf() {
  const auto unread = static_cast<std::int64_t>(egptr() - gptr());
  setg(fFileBuffer.get(), fFileBuffer.get(), fFileBuffer.get());
  if (unread == 0) {
    return true;
  }
  if (fStranded != 0) {
    fPosition -= static_cast<std::uint64_t>(unread);
    return true;
  }
  const std::int64_t position = tavutil::platform::TellTempFile(*fFile->handle);
  return position >= unread &&
         tavutil::platform::SeekTempFile(
             *fFile->handle, static_cast<std::uint64_t>(position - unread)) == position - unread;
}

bool TTempStreamBuf::PlaceStranded() {
  if (fStranded == 0) {
    return true;
  }
  tavutil::platform::TempFileHandle& file = *fFile->handle;
  // The stranded bytes start within the file or at its end: the file never shrinks.
  if (tavutil::platform::SeekTempFile(file, fStrandedAt) !=
      static_cast<std::int64_t>(fStrandedAt)) {
    return false;
  }
  int error = 0;
  const std::size_t written = tavutil::platform::WriteTempFile(file, WriteHalf(), fStranded, error);
  std::memmove(WriteHalf(), WriteHalf() + written, fStranded - written);
  fStranded -= written;
  fStrandedAt += written;
  if (fStranded != 0) {
    return false;
  }
  // Back to the one file position, the reader's; the file now holds the whole content.
  const std::uint64_t reader = fPosition - static_cast<std::uint64_t>(egptr() - gptr());
  setg(fFileBuffer.get(), fFileBuffer.get(), fFileBuffer.get());
  setp(WriteHalf(), BufferEnd());
  return tavutil::platform::SeekTempFile(file, reader) == static_cast<std::int64_t>(reader);
}

std::size_t TTempStreamBuf::ReadContent(std::uint64_t at, char* out, std::size_t count) {
  tavutil::platform::TempFileHandle& file = *fFile->handle;
  const std::int64_t fileEnd = tavutil::platform::SeekTempFile(file, UINT64_MAX);
  if (fileEnd < 0) {
    return 0;
  }
  const std::uint64_t end = std::max(static_cast<std::uint64_t>(fileEnd), fStrandedAt + fStranded);
  if (at >= end) {
    return 0;
  }
  count = static_cast<std::size_t>(std::min<std::uint64_t>(count, end - at));
  if (at < static_cast<std::uint64_t>(fileEnd)) {
    const auto fromFile = static_cast<std::size_t>(std::min<std::uint64_t>(count, fileEnd - at));
    int error = 0;
    const std::size_t got =
        tavutil::platform::SeekTempFile(file, at) == static_cast<std::int64_t>(at)
            ? tavutil::platform::ReadTempFile(file, out, fromFile, error)
            : 0;
    if (got < fromFile) {
      count = got; // the file failed: what it gave, and no stranded byte past it
    }
  }
  // The stranded bytes lie over the file, past its end too.
  const std::uint64_t low = std::max(at, fStrandedAt);
  const std::uint64_t high = std::min(at + count, fStrandedAt + fStranded);
  if (low < high) {
    std::memcpy(out + (low - at), WriteHalf() + (low - fStrandedAt),
                static_cast<std::size_t>(high - low));
  }
  return count;
}

int TTempStreamBuf::sync() {
  if (fInMemory) {
    return TMemStreamBuf::sync();
  }
  if (fStranded != 0) {
    return PlaceStranded() ? 0 : -1;
  }
  const bool flushed = FlushWriteHalf();
  const bool dropped = DropReadHalf();
  return flushed && dropped ? 0 : -1;
}

TTempStreamBuf::int_type TTempStreamBuf::overflow(int_type character) {
  if (fInMemory) {
    return TMemStreamBuf::overflow(character);
  }
  // A write lands where the reader has got to, after the bytes the file refused before.
  if (!PlaceStranded() || !DropReadHalf() || !FlushWriteHalf()) {
    return Traits::eof();
  }
  if (Traits::eq_int_type(character, Traits::eof())) {
    return 0;
  }
  *pptr() = Traits::to_char_type(character);
  pbump(1);
  return Traits::to_int_type(Traits::to_char_type(character));
}

TTempStreamBuf::int_type TTempStreamBuf::underflow() {
  if (fInMemory) {
    return TMemStreamBuf::underflow();
  }
  if (gptr() < egptr()) {
    return Traits::to_int_type(*gptr());
  }
  char* start = fFileBuffer.get();
  // A read starts where the writes ended; writes the file refuses leave stranded bytes, which
  // are read from memory.
  if (fStranded != 0 || !FlushWriteHalf()) {
    const std::size_t got = ReadContent(fPosition, start, fFileBufferSize / 2);
    setg(start, start, start + got);
    fPosition += got;
    return got == 0 ? Traits::eof() : Traits::to_int_type(*gptr());
  }
  int error = 0;
  const std::size_t got =
      tavutil::platform::ReadTempFile(*fFile->handle, start, fFileBufferSize / 2, error);
  setg(start, start, start + got);
  if (got == 0) {
    setp(WriteHalf(), BufferEnd());
    return Traits::eof();
  }
  // While the read half holds bytes, a write must come through overflow() to move the
  // file position back to the reader's.
  setp(WriteHalf(), WriteHalf());
  return Traits::to_int_type(*gptr());
}

TTempStreamBuf::pos_type TTempStreamBuf::seekoff(off_type offset, std::ios_base::seekdir direction,
                                                 std::ios_base::openmode mode) {
  if (fInMemory) {
    return TMemStreamBuf::seekoff(offset, direction, mode);
  }
  // A sync that strands bytes is no reason to refuse the seek: the position is kept here then.
  if ((sync() != 0 && fStranded == 0) || direction != std::ios_base::beg) {
    return pos_type(off_type(-1));
  }
  // A negative offset, taken as unsigned, lies beyond the end.
  if (fStranded != 0) {
    DropReadHalf();
    const std::int64_t fileEnd = tavutil::platform::SeekTempFile(*fFile->handle, UINT64_MAX);
    if (fileEnd < 0) {
      return pos_type(off_type(-1));
    }
    const std::uint64_t end =
        std::max(static_cast<std::uint64_t>(fileEnd), fStrandedAt + fStranded);
    fPosition = std::min(static_cast<std::uint64_t>(offset), end);
    return pos_type(off_type(fPosition));
  }
  const std::int64_t reached =
      tavutil::platform::SeekTempFile(*fFile->handle, static_cast<std::uint64_t>(offset));
  return pos_type(off_type(reached));
}

unsigned long TTempStreamBuf::WriteTo(std::ostream& out) {
  if (fInMemory) {
    return TMemStreamBuf::WriteTo(out);
  }
  if (sync() != 0 && fStranded == 0) {
    return 0;
  }
  if (fStranded != 0) {
    // Through the read half: the write half holds the stranded bytes. The position is the
    // stream's own meanwhile, so the file's may move.
    DropReadHalf();
    unsigned long written = 0;
    for (;;) {
      const std::size_t got = ReadContent(written, fFileBuffer.get(), fFileBufferSize / 2);
      if (got == 0 || !out.write(fFileBuffer.get(), static_cast<std::streamsize>(got))) {
        return written;
      }
      written += static_cast<unsigned long>(got);
    }
  }
  tavutil::platform::TempFileHandle& file = *fFile->handle;
  const std::int64_t position = tavutil::platform::TellTempFile(file);
  if (position < 0 || tavutil::platform::SeekTempFile(file, 0) != 0) {
    return 0;
  }
  // The whole buffer serves as the copy's piece: both halves are empty after sync().
  unsigned long written = 0;
  int error = 0;
  for (;;) {
    const std::size_t got =
        tavutil::platform::ReadTempFile(file, fFileBuffer.get(), fFileBufferSize, error);
    if (got == 0 || !out.write(fFileBuffer.get(), static_cast<std::streamsize>(got))) {
      break;
    }
    written += static_cast<unsigned long>(got);
  }
  tavutil::platform::SeekTempFile(file, static_cast<std::uint64_t>(position));
  return written;
}

// ------------------------------------------------------------------ TTempStream ----

TTempStream::TTempStream(const char* name, TReference<TTempStreamTest> test)
    : TTempStream(TMemStreamBuf::kDefaultAllocSize, name, std::move(test)) {}

TTempStream::TTempStream(unsigned long allocSize, const char* name,
                         TReference<TTempStreamTest> test)
    : fTempBuffer(allocSize, name, std::move(test)) {
  std::ios::rdbuf(&fTempBuffer);
}

TTempStream::~TTempStream() = default;
