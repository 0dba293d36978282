// utility/internal/ascii.h: byte-wise, C-locale case handling for NUL-terminated text.
// Licensed under the Apache License, Version 2.0.
//
// Internal to the library; never installed. These stand in for the runtime library's
// case-insensitive comparisons and case conversions, independent of the process locale.
#ifndef TAVUTIL_INTERNAL_ASCII_H
#define TAVUTIL_INTERNAL_ASCII_H

#include <cstddef>

namespace tavutil::detail {

constexpr unsigned char AsciiLower(unsigned char c) noexcept {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

constexpr unsigned char AsciiUpper(unsigned char c) noexcept {
  return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}

/// Compares at most `n` bytes without regard to case; <0, 0 or >0 like strncmp.
inline int StrNICmp(const char* a, const char* b, std::size_t n) noexcept {
  for (std::size_t i = 0; i < n; ++i) {
    const int ca = AsciiLower(static_cast<unsigned char>(a[i]));
    const int cb = AsciiLower(static_cast<unsigned char>(b[i]));
    if (ca != cb || ca == 0) {
      return ca - cb;
    }
  }
  return 0;
}

/// Compares two NUL-terminated texts without regard to case; <0, 0 or >0 like strcmp.
inline int StrICmp(const char* a, const char* b) noexcept {
  return StrNICmp(a, b, static_cast<std::size_t>(-1));
}

/// Lower-cases a NUL-terminated text in place.
inline void StrLwr(char* s) noexcept {
  for (; *s != '\0'; ++s) {
    *s = static_cast<char>(AsciiLower(static_cast<unsigned char>(*s)));
  }
}

/// Upper-cases a NUL-terminated text in place.
inline void StrUpr(char* s) noexcept {
  for (; *s != '\0'; ++s) {
    *s = static_cast<char>(AsciiUpper(static_cast<unsigned char>(*s)));
  }
}

} // namespace tavutil::detail

#endif // TAVUTIL_INTERNAL_ASCII_H
