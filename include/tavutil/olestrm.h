// tavutil/olestrm.h: iostreams over COM IStream objects.
// Licensed under the Apache License, Version 2.0.
//
// TOleStreamBuf buffers the bytes between iostream code and an IStream (tavutil/comstream.h);
// TiOleStream, ToOleStream and TOleStream read, write or do both from the IStream's current
// position onward. There is no repositioning.
#ifndef TAVUTIL_OLESTRM_H
#define TAVUTIL_OLESTRM_H

#include <cstdint>
#include <istream>
#include <memory>
#include <streambuf>
#include <tavutil/comstream.h>
#include <tavutil/config.h>

/// A buffering streambuf over one IStream, which it holds one reference to.
///
/// The buffer of the given size (10240 bytes by default) is allocated at the first transfer:
/// all get area for `readOnly`, all put area for `writeOnly`, a lower read half and an upper
/// write half for `readWrite`. A size of 0 (or 1 for `readWrite`), or pubsetbuf(nullptr, 0)
/// before the first transfer, makes it unbuffered: one byte per Read or Write. A failed Read
/// or Write gives EOF to the iostream layer and is traced at level 4 under
/// TUtilityTraceCategory::OleStream; any result that is not a failure code (S_FALSE
/// included) counts as success. Neither this buffer nor the streams write out their put area
/// when destroyed: flush a stream you wrote to before you destroy it.
///
///   ToOleStream out(comStream);
///   out << "report\n";
///   out.flush();                       // one Write of 7 bytes
class TAVUTIL_API TOleStreamBuf : public std::streambuf {
public:
  /// How the buffer is used. Any other value leaves it unusable: no Read or Write is made
  /// and every transfer fails.
  enum Type : int { readOnly = 0, writeOnly = 1, readWrite = 2 };
  /// The default buffer size in bytes.
  static constexpr unsigned long kDefaultBufferSize = 10240;

  /// Holds `stream` (AddRef; null leaves the buffer without a stream, and every transfer
  /// fails) with the default size. Throws nothing.
  TOleStreamBuf(IStream* stream, Type type) noexcept;
  /// The same with a buffer of `bufferSize` bytes (at most 2^30). Throws nothing.
  TOleStreamBuf(unsigned long bufferSize, IStream* stream, Type type) noexcept;
  /// Releases the stream; the put area is not written out. Throws nothing.
  ~TOleStreamBuf() override;
  TOleStreamBuf(const TOleStreamBuf&) = delete;
  TOleStreamBuf& operator=(const TOleStreamBuf&) = delete;

  /// The bytes Write reported written (a failing Write's count included) plus the bytes
  /// waiting in the put area. Throws nothing.
  unsigned long QueryBytesWritten() const noexcept;

protected:
  /// No stream yet (see Init), with the default size or `bufferSize` bytes. Throws nothing.
  ///@{
  explicit TOleStreamBuf(Type type) noexcept;
  TOleStreamBuf(unsigned long bufferSize, Type type) noexcept;
  ///@}
  /// Holds `stream` instead of the current one (releasing that) and counts from 0 again;
  /// does nothing when it is the stream already held. Throws nothing.
  void Init(IStream* stream) noexcept;
  /// Releases the stream and holds none. Throws nothing.
  void Close() noexcept;

  /// Writes out the put area when it holds bytes: 0, or -1 when the Write fails. Bytes read
  /// ahead stay in the get area. Throws nothing.
  int sync() override;
  /// There is no repositioning: always -1, so seekg, seekp, tellg and tellp fail.
  /// Throws nothing.
  pos_type seekoff(off_type offset, std::ios_base::seekdir direction,
                   std::ios_base::openmode mode) override;
  /// Writes out the put area (or, unbuffered, the byte) and stores `character`. Gives `character`
  /// as an unsigned byte (0 for EOF; 0 unbuffered), or EOF when the Write fails or writes less,
  /// when the buffer has no put area (`readOnly`) or is unusable. Bytes a short Write did
  /// not take stay in the put area. Throws nothing.
  int_type overflow(int_type character) override;
  /// The next byte, reading the get area full first when needed. EOF at the end of the
  /// stream, when Read fails, or when the buffer has no get area (`writeOnly`).
  /// Throws nothing.
  int_type underflow() override;
  /// (nullptr, 0) before the first transfer makes the buffer unbuffered and gives this; any
  /// other request is refused and gives null. Throws nothing.
  std::streambuf* setbuf(char* buffer, std::streamsize size) override;
  /// Allocates the buffer and sets the areas by the type. 0, or EOF when it cannot be
  /// allocated or the type is unusable. Throws nothing.
  virtual int doallocate();

private:
  bool Usable() const noexcept;
  /// Bytes of the buffer that reads may fill: all, the lower half or none, by the type.
  std::uint32_t GetRoom() const noexcept;
  /// Writes out the put area; what a short Write left stays at its start. False on failure.
  bool WritePutArea();

  IStream* fStream;
  Type fType;
  std::uint32_t fBufferSize;
  char fOneByte;
  unsigned long fBytesWritten;
  bool fUnbuffered;
  std::unique_ptr<char[]> fBuffer;
};

/// An istream over an IStream, reading from its current position (a readOnly buffer).
class TAVUTIL_API TiOleStream : public std::istream {
public:
  /// Reads `stream` through a buffer of the default size or of `bufferSize` bytes.
  /// Throws nothing.
  ///@{
  explicit TiOleStream(IStream* stream) noexcept;
  TiOleStream(unsigned long bufferSize, IStream* stream) noexcept;
  ///@}
  /// Releases the stream. Throws nothing.
  ~TiOleStream() override;
  /// The stream's buffer. Throws nothing.
  TOleStreamBuf* rdbuf() const noexcept { return &fBuffer; }

private:
  mutable TOleStreamBuf fBuffer;
};

/// An ostream over an IStream, writing at its current position (a writeOnly buffer).
class TAVUTIL_API ToOleStream : public std::ostream {
public:
  /// Writes to `stream` through a buffer of the default size or of `bufferSize` bytes.
  /// Throws nothing.
  ///@{
  explicit ToOleStream(IStream* stream) noexcept;
  ToOleStream(unsigned long bufferSize, IStream* stream) noexcept;
  ///@}
  /// Releases the stream without flushing: flush first. Throws nothing.
  ~ToOleStream() override;
  /// The stream's buffer. Throws nothing.
  TOleStreamBuf* rdbuf() const noexcept { return &fBuffer; }
  /// The bytes written, as TOleStreamBuf::QueryBytesWritten counts them. Throws nothing.
  unsigned long QueryBytesWritten() const noexcept { return fBuffer.QueryBytesWritten(); }

private:
  mutable TOleStreamBuf fBuffer;
};

/// An iostream over an IStream (a readWrite buffer: half for reading, half for writing).
class TAVUTIL_API TOleStream : public std::iostream {
public:
  /// Reads and writes `stream` through a buffer of the default size or of `bufferSize` bytes.
  /// Throws nothing.
  ///@{
  explicit TOleStream(IStream* stream) noexcept;
  TOleStream(unsigned long bufferSize, IStream* stream) noexcept;
  ///@}
  /// Releases the stream without flushing: flush first. Throws nothing.
  ~TOleStream() override;
  /// The stream's buffer. Throws nothing.
  TOleStreamBuf* rdbuf() const noexcept { return &fBuffer; }
  /// The bytes written, as TOleStreamBuf::QueryBytesWritten counts them. Throws nothing.
  unsigned long QueryBytesWritten() const noexcept { return fBuffer.QueryBytesWritten(); }

private:
  mutable TOleStreamBuf fBuffer;
};

#endif // TAVUTIL_OLESTRM_H
