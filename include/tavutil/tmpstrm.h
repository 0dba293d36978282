// tavutil/tmpstrm.h: TTempStream, a memory stream that moves to a temporary file on demand.
// Licensed under the Apache License, Version 2.0.
//
// Small streams stay in memory blocks (tavutil/memstream.h); when a policy object says so,
// the data moves to an anonymous temporary file and the stream goes on through the file.
#ifndef TAVUTIL_TMPSTRM_H
#define TAVUTIL_TMPSTRM_H

#include <cstdint>
#include <memory>
#include <tavutil/config.h>
#include <tavutil/memstream.h>
#include <tavutil/trefcnt.h>
#include <tavutil/tstring.h>

class TTempStreamBuf;

/// The policy that decides when a temporary stream moves from memory to a file.
///
/// The stream asks each time it needs another memory block (the first one included), so
/// the move happens at block boundaries only. Held by TReference: create it with `new`.
///
///   class TAfterOneMegabyte : public TTempStreamTest {
///     int UseTempFile(TTempStreamBuf* buffer) override { ... count the blocks ... }
///   };
///   TTempStream stream(1 << 20, "spool", new TAfterOneMegabyte);
class TAVUTIL_API TTempStreamTest : public TRefCounted {
public:
  /// Non-zero when the stream whose buffer is `buffer` is to move to a temporary file now.
  /// The buffer's blocks (QueryFirstBuffer()) have their lengths up to date. Throws what the
  /// implementation throws; the iostream layer turns that into badbit.
  virtual int UseTempFile(TTempStreamBuf* buffer) = 0;

protected:
  /// Count 0. Throws nothing.
  TTempStreamTest() noexcept = default;
  /// Throws nothing.
  ~TTempStreamTest() override;
};

/// A memory stream buffer that moves its data to an anonymous temporary file when its
/// policy says so.
///
/// In memory it behaves exactly as TMemStreamBuf. After the move, one buffer of the
/// allocation size is split into a read half and a write half, and reading and writing share
/// the file's one position, as with a C file open for update: a write lands where the
/// reader has got to, and a read after writes starts where they ended. Positions held by a
/// reader in memory are not carried over (the file position is the writer's), so seek
/// before reading back. The file never has a name, so nothing is left behind when the
/// process ends, however it ends.
///
/// When the file stops taking bytes (a full disk, the process's file-size limit), the write
/// fails (EOF, so the stream sets badbit) and the bytes the stream had taken but the file did
/// not stay in memory: every byte taken before the failure still reads back, and seeks still
/// work. Until those bytes are in the file, every write first tries to put them there and
/// fails when the file still refuses them.
///
/// A failure of the file gives EOF to the iostream layer and is traced at level 4 under
/// TUtilityTraceCategory::MemStream; only the growth in memory throws (see overflow()).
class TAVUTIL_API TTempStreamBuf : public TMemStreamBuf {
public:
  /// Blocks (and the file-mode buffer) of 10000 bytes; `name` (may be null) is kept, not
  /// used to name the file; `test` may be null, and the stream then never leaves memory.
  /// Throws std::bad_alloc when the name cannot be copied.
  TTempStreamBuf(const char* name, TReference<TTempStreamTest> test);
  /// The same with blocks and file-mode buffer of `allocSize` bytes (0: the default).
  /// Throws std::bad_alloc when the name cannot be copied.
  TTempStreamBuf(unsigned long allocSize, const char* name, TReference<TTempStreamTest> test);
  /// Closes the temporary file (which goes with it), releases the policy and frees the blocks.
  /// Bytes still in the write half are not written out. Throws nothing.
  ~TTempStreamBuf() override;
  TTempStreamBuf(const TTempStreamBuf&) = delete;
  TTempStreamBuf& operator=(const TTempStreamBuf&) = delete;

  /// 1 while the data is in memory blocks, 0 once it is in the temporary file.
  /// Throws nothing.
  int IsInMemory() const noexcept { return fInMemory; }
  /// The name given to the constructor (a string without buffer for null). Throws nothing.
  const TString& QueryName() const noexcept { return fName; }

  /// Writes the whole content to `out` and gives the number of bytes written; the file
  /// position is kept. The copy stops when `out` fails or the file cannot be read. Throws
  /// std::ios_base::failure when `out`'s exceptions() select a bit the write sets.
  unsigned long WriteTo(std::ostream& out) override;

protected:
  /// File mode: writes out the write half (or the bytes the file refused before) and drops
  /// unread bytes of the read half (the position goes back to the reader's). 0, or -1 when
  /// the file cannot be written; the bytes it refused are kept. Throws nothing.
  int sync() override;
  /// File mode: sync(), then the one position moves to `offset` (the end when `offset` is
  /// beyond it or negative); bytes the file refused count as content and do not stop the
  /// seek. Gives the position reached; -1 for a direction other than `beg` or when the file
  /// cannot be positioned. Throws nothing.
  pos_type seekoff(off_type offset, std::ios_base::seekdir direction,
                   std::ios_base::openmode mode) override;
  /// File mode: writes out the write half and stores `character`. Gives `character` as an unsigned
  /// byte (0 for EOF), or EOF when the file cannot be written. Throws std::bad_alloc when a memory
  /// block cannot be allocated, and what the policy throws, both in memory mode only.
  int_type overflow(int_type character) override;
  /// File mode: the next byte, reading the read half full from the file first when needed.
  /// EOF at the end of the file or when it cannot be read. Throws nothing.
  int_type underflow() override;

private:
  struct TempFile;

  /// The move: asks the policy; moves when it answers non-zero, else grows in memory. EOF
  /// (traced) when the file cannot be made, written or given its buffer; the data then
  /// stays in memory.
  int extend() override;
  int MoveToFile();
  /// Writes the write half to the file. False when it could not all be written: what the file
  /// did not take stays at the write half's start as stranded bytes, and the put area is left
  /// empty, so that no more bytes are taken until they are placed.
  bool FlushWriteHalf();
  /// Empties the read half, moving the position back over bytes not yet read.
  bool DropReadHalf();
  /// Writes the stranded bytes where they belong and goes back to the one file position (the
  /// reader's). False while the file still refuses them.
  bool PlaceStranded();
  /// Reads up to `count` bytes of the content at `at` into `out`: the file's bytes with the
  /// stranded ones over them. Gives the number read (0 at the end, or when the file fails).
  std::size_t ReadContent(std::uint64_t at, char* out, std::size_t count);
  char* WriteHalf() const noexcept { return fFileBuffer.get() + fFileBufferSize / 2; }
  char* BufferEnd() const noexcept { return fFileBuffer.get() + fFileBufferSize; }

  TReference<TTempStreamTest> fTest;
  int fInMemory;
  TString fName;
  std::unique_ptr<TempFile> fFile;
  std::unique_ptr<char[]> fFileBuffer;
  std::uint32_t fFileBufferSize;
  /// Bytes taken that the file refused, kept at the write half's start, and their position.
  std::size_t fStranded = 0;
  std::uint64_t fStrandedAt = 0;
  /// While bytes are stranded: the position after the read half (the file's own position is
  /// then only a tool).
  std::uint64_t fPosition = 0;
};

/// An iostream over a TTempStreamBuf.
///
///   TTempStream spool(1 << 20, "spool", new TAfterOneMegabyte);
///   spool.write(data, size);          // memory first, then the file
///   spool.seekg(0);
///   spool.rdbuf()->WriteTo(out);
class TAVUTIL_API TTempStream : public TMemStream {
public:
  /// Blocks of 10000 bytes; `test` null: the stream never leaves memory. Throws
  /// std::bad_alloc when the name cannot be copied.
  explicit TTempStream(const char* name = nullptr,
                       TReference<TTempStreamTest> test = TReference<TTempStreamTest>());
  /// Blocks and file-mode buffer of `allocSize` bytes. Throws std::bad_alloc when the name
  /// cannot be copied.
  TTempStream(unsigned long allocSize, const char* name, TReference<TTempStreamTest> test);
  /// Closes the buffer and its file. Throws nothing.
  ~TTempStream() override;

  /// The stream's buffer. Throws nothing.
  TTempStreamBuf* rdbuf() const noexcept { return &fTempBuffer; }

private:
  mutable TTempStreamBuf fTempBuffer;
};

#endif // TAVUTIL_TMPSTRM_H
