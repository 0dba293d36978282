// utility/memstream.cpp: TMemStreamBuffer, TMemStreamBuf and TMemStream.
// Licensed under the Apache License, Version 2.0.
//
// Operating-system independent. The get and put areas always lie in one block each; every
// block but the last is full, and the last block's length is brought up to date by sync()
// before anything looks at lengths.
#include <tavutil/memstream.h>

#include <algorithm>
#include <climits>
#include <limits>
#include <ostream>

namespace {

using Traits = std::streambuf::traits_type;

/// A size given as `unsigned long`, kept in 32 bits: larger values are taken as the largest.
std::uint32_t Clamp32(unsigned long value) noexcept {
  return static_cast<std::uint32_t>(
      std::min<unsigned long>(value, std::numeric_limits<std::uint32_t>::max()));
}

} // namespace

// ------------------------------------------------------------- TMemStreamBuffer ----

TMemStreamBuffer::TMemStreamBuffer(unsigned long maxLength)
    : fMaxLength(Clamp32(maxLength)), fLength(0), fStart(new char[fMaxLength]) {}

TMemStreamBuffer::~TMemStreamBuffer() {
  SetNext(nullptr);
}

void TMemStreamBuffer::SetLength(unsigned long length) noexcept {
  fLength = std::min(Clamp32(length), fMaxLength);
}

void TMemStreamBuffer::SetNext(TMemStreamBuffer* next) noexcept {
  if (next == fNext.get()) {
    return;
  }
  // Unlink each block before it dies, so a long chain is freed without recursion.
  std::unique_ptr<TMemStreamBuffer> chain = std::move(fNext);
  while (chain != nullptr) {
    chain = std::move(chain->fNext);
  }
  fNext.reset(next);
}

// --------------------------------------------------------------- TMemStreamBuf ----

TMemStreamBuf::TMemStreamBuf(unsigned long allocSize) noexcept
    : fAllocSize(allocSize != 0 ? Clamp32(allocSize) : kDefaultAllocSize), fLast(nullptr),
      fGetBlock(nullptr), fPutBlock(nullptr) {}

TMemStreamBuf::~TMemStreamBuf() = default;

void TMemStreamBuf::DeleteBuffer() noexcept {
  fFirst.reset();
  fLast = nullptr;
  fGetBlock = nullptr;
  fPutBlock = nullptr;
  setg(nullptr, nullptr, nullptr);
  setp(nullptr, nullptr);
}

void TMemStreamBuf::SetGetArea(TMemStreamBuffer* block, std::uint32_t position) noexcept {
  char* start = block->QueryStart();
  setg(start, start + position, start + block->QueryLength());
  fGetBlock = block;
}

void TMemStreamBuf::SetPutArea(TMemStreamBuffer* block, std::uint32_t position) noexcept {
  char* start = block->QueryStart();
  setp(start, start + block->QueryMaxLength());
  // pbump takes an int; a block may be larger.
  while (position > 0) {
    const std::uint32_t step = std::min<std::uint32_t>(position, INT_MAX);
    pbump(static_cast<int>(step));
    position -= step;
  }
  fPutBlock = block;
}

int TMemStreamBuf::sync() {
  if (fPutBlock != nullptr && fPutBlock == fLast) {
    const auto written = static_cast<unsigned long>(pptr() - pbase());
    if (written > fLast->QueryLength()) {
      fLast->SetLength(written);
    }
  }
  return 0;
}

int TMemStreamBuf::extend() {
  if (fFirst != nullptr && fPutBlock != nullptr && fPutBlock->QueryNext() != nullptr) {
    // Repositioned backwards: go on overwriting the block that follows.
    fPutBlock->SetLength(static_cast<unsigned long>(pptr() - pbase()));
    SetPutArea(fPutBlock->QueryNext(), 0);
    return 0;
  }
  auto block = std::make_unique<TMemStreamBuffer>(fAllocSize);
  TMemStreamBuffer* added = block.get();
  if (fFirst != nullptr) {
    fLast->SetLength(static_cast<unsigned long>(pptr() - pbase()));
    fLast->SetNext(block.release());
  } else {
    fFirst = std::move(block);
  }
  fLast = added;
  SetPutArea(added, 0);
  return 0;
}

int TMemStreamBuf::doallocate() {
  return fFirst == nullptr ? extend() : 0;
}

TMemStreamBuf::int_type TMemStreamBuf::overflow(int_type character) {
  if (fFirst != nullptr && pptr() < epptr()) {
    sync();
  } else if (Traits::eq_int_type(extend(), Traits::eof())) {
    return Traits::eof();
  }
  if (Traits::eq_int_type(character, Traits::eof())) {
    return 0;
  }
  // extend() leaves room in the put area (a derived buffer's too); if it did not, fail
  // rather than loop.
  if (pptr() == epptr()) {
    return Traits::eof();
  }
  *pptr() = Traits::to_char_type(character);
  pbump(1);
  return 0; // fixed: 0, not the byte, as the classic buffer answers
}

TMemStreamBuf::int_type TMemStreamBuf::underflow() {
  if (gptr() < egptr()) {
    return Traits::to_int_type(*gptr());
  }
  sync();
  if (fGetBlock != nullptr) {
    char* end = fGetBlock->QueryStart() + fGetBlock->QueryLength();
    if (end > egptr()) {
      // The writer added to the block being read.
      setg(eback(), gptr(), end);
      return Traits::to_int_type(*gptr());
    }
  }
  TMemStreamBuffer* next = fGetBlock != nullptr ? fGetBlock->QueryNext() : fFirst.get();
  if (next == nullptr) {
    return Traits::eof();
  }
  SetGetArea(next, 0);
  return gptr() < egptr() ? Traits::to_int_type(*gptr()) : Traits::eof();
}

TMemStreamBuf::pos_type TMemStreamBuf::seekoff(off_type offset, std::ios_base::seekdir direction,
                                               std::ios_base::openmode mode) {
  sync();
  if (direction != std::ios_base::beg) {
    return pos_type(off_type(-1));
  }
  if (fFirst == nullptr) {
    return pos_type(0);
  }
  if (offset < 0) {
    return pos_type(off_type(-1));
  }
  // An offset on the end of a block's data is the start of the next block; one at or
  // beyond the end of the data is the end of the last block.
  auto rest = static_cast<std::uint64_t>(offset);
  std::uint64_t before = 0;
  TMemStreamBuffer* block = fFirst.get();
  while (rest >= block->QueryLength() && block->QueryNext() != nullptr) {
    rest -= block->QueryLength();
    before += block->QueryLength();
    block = block->QueryNext();
  }
  const auto position =
      static_cast<std::uint32_t>(std::min<std::uint64_t>(rest, block->QueryLength()));
  if ((mode & std::ios_base::in) != 0) {
    SetGetArea(block, position);
  }
  if ((mode & std::ios_base::out) != 0) {
    SetPutArea(block, position);
  }
  return pos_type(static_cast<off_type>(before + position));
}

TMemStreamBuf::pos_type TMemStreamBuf::seekpos(pos_type position, std::ios_base::openmode mode) {
  return seekoff(off_type(position), std::ios_base::beg, mode);
}

unsigned long TMemStreamBuf::WriteTo(std::ostream& out) {
  sync();
  unsigned long written = 0;
  for (const TMemStreamBuffer* block = fFirst.get(); block != nullptr; block = block->QueryNext()) {
    if (block->QueryLength() == 0) {
      continue;
    }
    if (!out.write(block->QueryStart(), static_cast<std::streamsize>(block->QueryLength()))) {
      break;
    }
    written += block->QueryLength();
  }
  return written;
}

// ------------------------------------------------------------------ TMemStream ----

TMemStream::TMemStream() noexcept : TMemStream(TMemStreamBuf::kDefaultAllocSize) {}

TMemStream::TMemStream(unsigned long allocSize) noexcept
    : std::iostream(nullptr), fBuffer(allocSize) {
  std::ios::rdbuf(&fBuffer);
}

TMemStream::~TMemStream() = default;

TMemStreamBuf* TMemStream::rdbuf() const noexcept {
  return dynamic_cast<TMemStreamBuf*>(std::ios::rdbuf());
}
