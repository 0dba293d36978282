// utility/tmpstrm.cpp: TTempStreamTest, TTempStreamBuf and TTempStream.
// Licensed under the Apache License, Version 2.0.
//
// Operating-system independent: the temporary file is the platform's (platform/platform.h).
// In file mode the buffer's lower half is the get area and its upper half the put area; at
// most one of them holds bytes at a time, so the file position always tells where the
// other side goes on.
#include <tavutil/tmpstrm.h>
#include <tavutil/trace.h>

#include "internal/tracepoint.h"
#include "platform/platform.h"

#include <algorithm>
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
  if (pending == 0) {
    return true;
  }
  int error = 0;
  const std::size_t written =
      tavutil::platform::WriteTempFile(*fFile->handle, pbase(), pending, error);
  // Keep what did not reach the file, so that a retry neither loses nor repeats bytes.
  std::memmove(pbase(), pbase() + written, pending - written);
  char* base = pbase();
  char* end = epptr();
  setp(base, end);
  pbump(static_cast<int>(pending - written));
  return written == pending;
}

bool TTempStreamBuf::DropReadHalf() {
  const auto unread = static_cast<std::int64_t>(egptr() - gptr());
  setg(fFileBuffer.get(), fFileBuffer.get(), fFileBuffer.get());
  if (unread == 0) {
    return true;
  }
  const std::int64_t position = tavutil::platform::TellTempFile(*fFile->handle);
  return position >= unread &&
         tavutil::platform::SeekTempFile(
             *fFile->handle, static_cast<std::uint64_t>(position - unread)) == position - unread;
}

int TTempStreamBuf::sync() {
  if (fInMemory) {
    return TMemStreamBuf::sync();
  }
  const bool flushed = FlushWriteHalf();
  const bool dropped = DropReadHalf();
  if (pptr() == pbase()) {
    setp(WriteHalf(), BufferEnd());
  }
  return flushed && dropped ? 0 : -1;
}

TTempStreamBuf::int_type TTempStreamBuf::overflow(int_type c) {
  if (fInMemory) {
    return TMemStreamBuf::overflow(c);
  }
  // A write lands where the reader has got to.
  if (!DropReadHalf() || !FlushWriteHalf()) {
    return Traits::eof();
  }
  setp(WriteHalf(), BufferEnd());
  if (Traits::eq_int_type(c, Traits::eof())) {
    return 0;
  }
  *pptr() = Traits::to_char_type(c);
  pbump(1);
  return Traits::to_int_type(Traits::to_char_type(c));
}

TTempStreamBuf::int_type TTempStreamBuf::underflow() {
  if (fInMemory) {
    return TMemStreamBuf::underflow();
  }
  if (gptr() < egptr()) {
    return Traits::to_int_type(*gptr());
  }
  // A read starts where the writes ended.
  if (!FlushWriteHalf()) {
    return Traits::eof();
  }
  int error = 0;
  char* start = fFileBuffer.get();
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
  if (sync() != 0 || direction != std::ios_base::beg) {
    return pos_type(off_type(-1));
  }
  // A negative offset, taken as unsigned, lies beyond the end.
  const std::int64_t reached =
      tavutil::platform::SeekTempFile(*fFile->handle, static_cast<std::uint64_t>(offset));
  return pos_type(off_type(reached));
}

unsigned long TTempStreamBuf::WriteTo(std::ostream& out) {
  if (fInMemory) {
    return TMemStreamBuf::WriteTo(out);
  }
  if (sync() != 0) {
    return 0;
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
