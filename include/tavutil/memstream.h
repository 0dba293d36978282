// tavutil/memstream.h: TMemStream, an iostream over a growing chain of memory blocks.
// Licensed under the Apache License, Version 2.0.
//
// The stream can be read while it is written, repositioned to absolute offsets and copied to
// another ostream in one call. The temporary-file stream (tavutil/tmpstrm.h) builds on it.
#ifndef TAVUTIL_MEMSTREAM_H
#define TAVUTIL_MEMSTREAM_H

#include <cstdint>
#include <istream>
#include <memory>
#include <streambuf>
#include <tavutil/config.h>

namespace tavutil::detail {
class StreamAreas;
}

/// One block of a memory stream's chain: fixed storage, the bytes of data in it, and the
/// block that follows (owned: a block destroys every block after it, one by one).
class TAVUTIL_API TMemStreamBuffer {
public:
  /// A block of `maxLength` bytes (at most 2^32 - 1), length 0, no next block. Throws
  /// std::bad_alloc when the storage cannot be allocated.
  explicit TMemStreamBuffer(unsigned long maxLength);
  /// Frees the storage and every following block (without recursion, however long the chain).
  /// Throws nothing.
  ~TMemStreamBuffer();
  TMemStreamBuffer(const TMemStreamBuffer&) = delete;
  TMemStreamBuffer& operator=(const TMemStreamBuffer&) = delete;

  /// The capacity in bytes. Throws nothing.
  unsigned long QueryMaxLength() const noexcept { return fMaxLength; }
  /// The number of data bytes. Throws nothing.
  unsigned long QueryLength() const noexcept { return fLength; }
  /// The first byte of the storage. Throws nothing.
  char* QueryStart() const noexcept { return fStart.get(); }
  /// The block that follows, or null at the end of the chain. Throws nothing.
  TMemStreamBuffer* QueryNext() const noexcept { return fNext.get(); }
  /// Sets the number of data bytes; a length beyond the capacity is taken as the capacity.
  /// Throws nothing.
  void SetLength(unsigned long length) noexcept;
  /// Destroys the blocks that followed this one and links `next` (taking ownership; null
  /// ends the chain here). `next` must not be one of the blocks that followed; linking the
  /// block already linked does nothing. Throws nothing.
  void SetNext(TMemStreamBuffer* next) noexcept;

private:
  std::uint32_t fMaxLength;
  std::uint32_t fLength;
  std::unique_ptr<char[]> fStart;
  std::unique_ptr<TMemStreamBuffer> fNext;
};

/// A streambuf whose data lives in a chain of fixed-size blocks that grows as it is written.
///
/// Blocks never move, so the data is never copied while it grows. Reading and writing keep
/// separate positions: a stream that was written and not repositioned reads from the start,
/// and a reader that catches up with the writer gets EOF until more is written. Only absolute
/// positions exist: seeks relative to the current position or the end give EOF, so tellg()
/// and tellp() give -1. Only the growth of the chain can fail, with std::bad_alloc, which the
/// iostream layer turns into badbit.
class TAVUTIL_API TMemStreamBuf : public std::streambuf {
public:
  /// The allocation size of every block: 10000 bytes.
  static constexpr unsigned long kDefaultAllocSize = 10000;

  /// No block yet; blocks of 10000 bytes. Throws nothing.
  TMemStreamBuf() noexcept : TMemStreamBuf(kDefaultAllocSize) {}
  /// No block yet; blocks of `allocSize` bytes (0 means the default; at most 2^32 - 1).
  /// Throws nothing.
  explicit TMemStreamBuf(unsigned long allocSize) noexcept;
  /// Destroys the chain. Throws nothing.
  ~TMemStreamBuf() override;
  TMemStreamBuf(const TMemStreamBuf&) = delete;
  TMemStreamBuf& operator=(const TMemStreamBuf&) = delete;

  /// The first block, for walking the data; null before anything was written. Throws nothing.
  TMemStreamBuffer* QueryFirstBuffer() const noexcept { return fFirst.get(); }
  /// Writes the whole content to `out`, one unformatted write per block, and gives the number
  /// of bytes written. When `out` fails, the copy stops and the count covers the blocks
  /// written before the failure. Throws std::ios_base::failure when `out`'s exceptions()
  /// select a bit the write sets.
  virtual unsigned long WriteTo(std::ostream& out);

protected:
  /// The size of each new block. Throws nothing.
  unsigned long QueryAllocSize() const noexcept { return fAllocSize; }
  /// Destroys the whole chain and forgets both areas; the buffer holds no data afterwards.
  /// Throws nothing.
  void DeleteBuffer() noexcept;

  /// Records the length of the last block when the writer is in it. Always 0. Throws nothing.
  int sync() override;
  /// Absolute positioning only (`beg`): the get area, the put area or both move to `offset`,
  /// clamped to the end of the data. Gives the position reached, 0 when there is no block
  /// yet, and -1 for a negative offset or any other direction. Throws nothing.
  pos_type seekoff(off_type offset, std::ios_base::seekdir direction,
                   std::ios_base::openmode mode) override;
  /// seekoff(position, beg, mode). Throws nothing.
  pos_type seekpos(pos_type position, std::ios_base::openmode mode) override;
  /// Moves the writer to the next block (a new one at the end), then stores `character`. Gives 0,
  /// or EOF when extend() fails. Throws std::bad_alloc when a block cannot be allocated.
  int_type overflow(int_type character) override;
  /// The next byte: further in the get block when the writer added to it, else from the
  /// next block. EOF when the reader has caught up with the writer. Throws nothing.
  int_type underflow() override;
  /// Makes the first block when there is none; gives extend()'s result, else 0. Throws
  /// std::bad_alloc when the block cannot be allocated.
  virtual int doallocate();
  /// The growth step: the writer goes on in the block after its own (after a backward seek),
  /// or in a new block of the allocation size linked at the end. Gives 0, or EOF when the
  /// writer cannot go on. Throws std::bad_alloc when a block cannot be allocated.
  virtual int extend();

private:
  /// The binary streams copy numbers straight into and out of the areas.
  friend class tavutil::detail::StreamAreas;

  void SetGetArea(TMemStreamBuffer* block, std::uint32_t position) noexcept;
  void SetPutArea(TMemStreamBuffer* block, std::uint32_t position) noexcept;

  std::uint32_t fAllocSize;
  std::unique_ptr<TMemStreamBuffer> fFirst;
  TMemStreamBuffer* fLast;
  TMemStreamBuffer* fGetBlock;
  TMemStreamBuffer* fPutBlock;
};

/// An iostream whose data lives in memory blocks (a TMemStreamBuf).
///
///   TMemStream memory;
///   memory << "hello";
///   std::string word;
///   memory >> word;                  // "hello": reading starts at the beginning
///   memory.rdbuf()->WriteTo(file);   // copies every byte written
class TAVUTIL_API TMemStream : public std::iostream {
public:
  /// Blocks of 10000 bytes. Throws nothing.
  TMemStream() noexcept;
  /// Blocks of `allocSize` bytes (0 means the default). Throws nothing.
  explicit TMemStream(unsigned long allocSize) noexcept;
  /// Destroys the buffer and its blocks. Throws nothing.
  ~TMemStream() override;

  /// The stream's memory buffer (a derived stream's own buffer), or null when the stream was
  /// given a buffer of another kind. Throws nothing.
  TMemStreamBuf* rdbuf() const noexcept;

private:
  TMemStreamBuf fBuffer;
};

#endif // TAVUTIL_MEMSTREAM_H
