// utility/internal/textbuffer.h: TextBuffer, the buffer that rendered texts and trace lines
// are composed in.
// Licensed under the Apache License, Version 2.0.
//
// Internal to the library; never installed.
#ifndef TAVUTIL_INTERNAL_TEXTBUFFER_H
#define TAVUTIL_INTERNAL_TEXTBUFFER_H

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <limits>
#include <memory>

namespace tavutil::detail {

/// Bytes on the stack while they are few, on the heap beyond, never past a limit: what would
/// go beyond the limit is dropped, and Full() tells a writer to stop. A usual trace line or
/// rendered message never leaves the stack.
class TextBuffer {
public:
  TextBuffer() noexcept = default;
  TextBuffer(const TextBuffer&) = delete;
  TextBuffer& operator=(const TextBuffer&) = delete;

  const char* Data() const noexcept { return fData; }
  char* Data() noexcept { return fData; }
  std::size_t Size() const noexcept { return fSize; }
  /// Whether the limit is reached.
  bool Full() const noexcept { return fSize >= fLimit; }
  /// Lets at most `room` more bytes in from here on.
  void LimitFromHere(std::size_t room) noexcept {
    fLimit = room > std::numeric_limits<std::size_t>::max() - fSize ? room : fSize + room;
  }

  void Append(const char* data, std::size_t size) {
    size = std::min(size, fLimit - std::min(fSize, fLimit));
    if (size != 0) {
      std::memcpy(Room(size), data, size);
      fSize += size;
    }
  }
  void Append(char byte) {
    if (!Full()) {
      *Room(1) = byte;
      ++fSize;
    }
  }
  void Fill(std::size_t count, char byte) {
    count = std::min(count, fLimit - std::min(fSize, fLimit));
    if (count != 0) {
      std::memset(Room(count), byte, count);
      fSize += count;
    }
  }
  /// Where at least `size` more bytes can be written; Commit then counts those written, up to
  /// the limit. Throws std::bad_alloc when the room cannot be had.
  char* Room(std::size_t size) {
    if (size > fCapacity - fSize) {
      Grow(size);
    }
    return fData + fSize;
  }
  void Commit(std::size_t size) noexcept {
    fSize += std::min(size, fLimit - std::min(fSize, fLimit));
  }
  /// Lets bytes in without a limit again.
  void RemoveLimit() noexcept { fLimit = std::numeric_limits<std::size_t>::max(); }
  /// Drops everything from `size` on.
  void Truncate(std::size_t size) noexcept { fSize = std::min(fSize, size); }

private:
  void Grow(std::size_t size) {
    const std::size_t capacity = std::max(fSize + size, 2 * fCapacity);
    std::unique_ptr<char[]> grown(new char[capacity]);
    std::memcpy(grown.get(), fData, fSize);
    fHeap = std::move(grown);
    fData = fHeap.get();
    fCapacity = capacity;
  }

  char fLocal[512];
  std::unique_ptr<char[]> fHeap;
  char* fData = fLocal;
  std::size_t fSize = 0;
  std::size_t fCapacity = sizeof fLocal;
  std::size_t fLimit = std::numeric_limits<std::size_t>::max();
};

} // namespace tavutil::detail

#endif // TAVUTIL_INTERNAL_TEXTBUFFER_H
