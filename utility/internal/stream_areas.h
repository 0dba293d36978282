// utility/internal/stream_areas.h: the get and put areas of the library's own stream buffers.
// Licensed under the Apache License, Version 2.0.
//
// Internal to the library; never installed. The binary streams copy a number's bytes straight
// into or out of these areas instead of going through ostream::write or istream::read.
#ifndef TAVUTIL_INTERNAL_STREAM_AREAS_H
#define TAVUTIL_INTERNAL_STREAM_AREAS_H

#include <tavutil/memstream.h>
#include <tavutil/tmpstrm.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <streambuf>
#include <typeinfo>

namespace tavutil::detail {

/// Reaches the areas of the memory and temporary-file stream buffers (a friend of
/// TMemStreamBuf). Bytes stored into the put area's room and advanced over, or taken from the
/// get area and advanced over, are exactly what `sputc` and `sbumpc` do without calling the
/// buffer: those buffers keep their areas for that contract, in memory and file mode alike.
class StreamAreas {
public:
  /// `buffer` when it is exactly a TMemStreamBuf or a TTempStreamBuf (neither overrides
  /// xsputn or xsgetn, so ostream::write and istream::read copy through the same areas), else
  /// null (a null buffer included). A type derived further by a caller is not taken: its
  /// buffer may do more than copy. Throws nothing.
  static TMemStreamBuf* Of(std::streambuf* buffer) noexcept {
    if (buffer == nullptr) {
      return nullptr;
    }
    // The type_info objects are compared by address: these classes have key functions, so
    // each has one, in this library; another copy could only make this test miss.
    const std::type_info* type = &typeid(*buffer);
    return type == &typeid(TMemStreamBuf) || type == &typeid(TTempStreamBuf)
               ? static_cast<TMemStreamBuf*>(buffer)
               : nullptr;
  }

  /// Room in the put area, at most INT_MAX bytes (the most one Put() advances).
  static std::size_t PutRoom(const TMemStreamBuf& buffer) noexcept {
    return Bounded(buffer.epptr() - buffer.pptr());
  }
  static char* PutNext(const TMemStreamBuf& buffer) noexcept { return buffer.pptr(); }
  /// Advances the put pointer over `count` bytes stored at PutNext(), within PutRoom().
  static void Put(TMemStreamBuf& buffer, std::size_t count) noexcept {
    buffer.pbump(static_cast<int>(count));
  }

  /// Bytes in the get area, at most INT_MAX.
  static std::size_t GetAvailable(const TMemStreamBuf& buffer) noexcept {
    return Bounded(buffer.egptr() - buffer.gptr());
  }
  static const char* GetNext(const TMemStreamBuf& buffer) noexcept { return buffer.gptr(); }
  /// Advances the get pointer over `count` bytes taken from GetNext(), within GetAvailable().
  static void Take(TMemStreamBuf& buffer, std::size_t count) noexcept {
    buffer.gbump(static_cast<int>(count));
  }

private:
  static std::size_t Bounded(std::ptrdiff_t bytes) noexcept {
    return static_cast<std::size_t>(std::min<std::ptrdiff_t>(bytes, INT_MAX));
  }
};

} // namespace tavutil::detail

#endif // TAVUTIL_INTERNAL_STREAM_AREAS_H
