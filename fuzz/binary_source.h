// fuzz/binary_source.h: the stream that the binary-form fuzz targets read from.
// Licensed under the Apache License, Version 2.0.
//
// The first input byte sets up the stream: bit 0 network order, bit 1 a memory stream (blocks
// of 1 to 32 bytes, from bits 2 to 6) rather than a string stream. The other bytes are what
// the stream holds.
#ifndef TAVUTIL_FUZZ_BINARY_SOURCE_H
#define TAVUTIL_FUZZ_BINARY_SOURCE_H

#include <tavutil/binstream.h>
#include <tavutil/exception.h>
#include <tavutil/memstream.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

inline void Check(bool condition) {
  if (!condition) {
    std::abort();
  }
}

/// The bytes after the set-up byte (there must be one), in the stream it chooses, under a
/// binary stream.
class BinarySource {
public:
  BinarySource(const std::uint8_t* data, std::size_t size)
      : fNetwork(data[0] & 1), fMemory(1 + ((data[0] >> 2) & 31)),
        fStream((data[0] & 2) != 0 ? static_cast<std::iostream&>(fMemory) : fString, fNetwork) {
    const char* bytes = reinterpret_cast<const char*>(data) + 1;
    if ((data[0] & 2) != 0) {
      fMemory.write(bytes, static_cast<std::streamsize>(size - 1));
      Check(fMemory.good());
    } else {
      fString.str(std::string(bytes, size - 1));
    }
  }
  TiBinaryStream& In() { return fStream; }
  int IsNetwork() const { return fNetwork; }

private:
  int fNetwork;
  TMemStream fMemory;
  std::stringstream fString;
  TBinaryStream fStream;
};

/// The binary form of anything with WriteToBinaryStream, in the given order.
template <class T> std::string BinaryForm(const T& value, int network) {
  std::ostringstream bytes;
  ToBinaryStream out(bytes, network);
  value.WriteToBinaryStream(out);
  Check(out.good());
  return bytes.str();
}

/// Reads values of type T from the input one after another, each into a value made by
/// `fresh()`, until the stream fails or `limit` values were read. A library error from the
/// read (an unknown tag) is passed to `refused(value)`, every value read to `read(value)`.
/// A value read whole must write a form that reads back to the same form.
template <class T, class Fresh, class Refused, class Read>
void ReadEach(const std::uint8_t* data, std::size_t size, int limit, Fresh fresh, Refused refused,
              Read read) {
  if (size == 0) {
    return;
  }
  BinarySource source(data, size);
  TiBinaryStream& in = source.In();
  for (int i = 0; i < limit && !in.fail(); ++i) {
    T value = fresh();
    try {
      value.ReadFromBinaryStream(in);
    } catch (const TInvalidRequest&) {
      refused(value);
      continue;
    }
    read(value);
    if (!in.fail()) {
      const std::string form = BinaryForm(value, source.IsNetwork());
      std::istringstream bytes(form);
      TiBinaryStream again(bytes, source.IsNetwork());
      T back;
      back.ReadFromBinaryStream(again);
      Check(again.good() && bytes.peek() == EOF);
      Check(BinaryForm(back, source.IsNetwork()) == form);
    }
  }
}

#endif // TAVUTIL_FUZZ_BINARY_SOURCE_H
