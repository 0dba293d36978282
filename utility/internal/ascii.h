// utility/internal/ascii.h: byte-wise, C-locale case handling for NUL-terminated text.
// Licensed under the Apache License, Version 2.0.
//
// Internal to the library; never installed. These stand in for the runtime library's
// case-insensitive comparisons and case conversions, independent of the process locale.
#ifndef TAVUTIL_INTERNAL_ASCII_H
#define TAVUTIL_INTERNAL_ASCII_H

#include <cstddef>

namespace tavutil::detail {

/// The lower-case form of an ASCII letter; any other byte as it is.
constexpr unsigned char AsciiLower(unsigned char byte) noexcept {
  return (byte >= 'A' && byte <= 'Z') ? static_cast<unsigned char>(byte - 'A' + 'a') : byte;
}

/// The upper-case form of an ASCII letter; any other byte as it is.
constexpr unsigned char AsciiUpper(unsigned char byte) noexcept {
  return (byte >= 'a' && byte <= 'z') ? static_cast<unsigned char>(byte - 'a' + 'A') : byte;
}

/// Compares at most `count` bytes without regard to case; <0, 0 or >0 like strncmp.
inline int StrNICmp(const char* left, const char* right, std::size_t count) noexcept {
  for (std::size_t i = 0; i < count; ++i) {
    const int leftByte = AsciiLower(static_cast<unsigned char>(left[i]));
    const int rightByte = AsciiLower(static_cast<unsigned char>(right[i]));
    if (leftByte != rightByte || leftByte == 0) {
      return leftByte - rightByte;
    }
  }
  return 0;
}

/// Compares two NUL-terminated texts without regard to case; <0, 0 or >0 like strcmp.
inline int StrICmp(const char* left, const char* right) noexcept {
  return StrNICmp(left, right, static_cast<std::size_t>(-1));
}

/// Lower-cases a NUL-terminated text in place.
inline void StrLwr(char* text) noexcept {
  for (; *text != '\0'; ++text) {
    *text = static_cast<char>(AsciiLower(static_cast<unsigned char>(*text)));
  }
}

/// Upper-cases a NUL-terminated text in place.
inline void StrUpr(char* text) noexcept {
  for (; *text != '\0'; ++text) {
    *text = static_cast<char>(AsciiUpper(static_cast<unsigned char>(*text)));
  }
}

} // namespace tavutil::detail

#endif // TAVUTIL_INTERNAL_ASCII_H
