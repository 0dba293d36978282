// utility/internal/unicode.cpp: UTF-8 and UTF-16 conversions, one code point or a whole text.
// Licensed under the Apache License, Version 2.0.
//
// Operating-system independent.
#include "internal/unicode.h"

#include "internal/textbuffer.h"

#include <cstdint>
#include <cstring>

namespace tavutil::detail {

namespace {

constexpr char32_t kHighSurrogateFirst = 0xD800;
constexpr char32_t kHighSurrogateLast = 0xDBFF;
constexpr char32_t kLowSurrogateFirst = 0xDC00;
constexpr char32_t kLowSurrogateLast = 0xDFFF;
constexpr char32_t kFirstSupplementary = 0x10000;
constexpr char32_t kLastCodePoint = 0x10FFFF;

/// The UTF-16 unit at `index` of `bytes`, read without assuming alignment.
char16_t UnitAt(const char* bytes, std::size_t index) noexcept {
  char16_t unit = 0;
  std::memcpy(&unit, bytes + 2 * index, sizeof unit);
  return unit;
}

/// What a UTF-8 lead byte announces: the continuation bytes that follow, the least code
/// point the sequence may encode (shorter forms are overlong), and the lead's payload bits.
struct Utf8Lead {
  std::size_t extra;
  char32_t minimum;
  char32_t bits;
};

/// The sequence a lead byte from 0x80 up starts; `extra` 0 for a byte that starts none.
Utf8Lead ReadLead(unsigned char lead) noexcept {
  if (lead >= 0xC2 && lead <= 0xDF) {
    return {1, 0x80, lead & 0x1Fu};
  }
  if (lead >= 0xE0 && lead <= 0xEF) {
    return {2, 0x800, lead & 0x0Fu};
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    return {3, kFirstSupplementary, lead & 0x07u};
  }
  return {0, 0, 0};
}

} // namespace

bool DecodeUtf8(const char* text, std::size_t size, std::size_t& pos, char32_t& code) noexcept {
  const auto byteAt = [text](std::size_t index) { return static_cast<unsigned char>(text[index]); };
  const unsigned char lead = byteAt(pos);
  if (lead < 0x80) {
    code = lead;
    ++pos;
    return true;
  }
  const Utf8Lead sequence = ReadLead(lead);
  if (sequence.extra == 0 || size - pos <= sequence.extra) {
    ++pos;
    return false;
  }
  char32_t value = sequence.bits;
  for (std::size_t offset = 1; offset <= sequence.extra; ++offset) {
    const unsigned char next = byteAt(pos + offset);
    if ((next & 0xC0) != 0x80) {
      ++pos;
      return false;
    }
    value = (value << 6) | (next & 0x3Fu);
  }
  if (value < sequence.minimum || value > kLastCodePoint ||
      (value >= kHighSurrogateFirst && value <= kLowSurrogateLast)) {
    ++pos;
    return false;
  }
  code = value;
  pos += sequence.extra + 1;
  return true;
}

char32_t DecodeUtf16(const char* bytes, std::size_t units, std::size_t& index) noexcept {
  const char32_t unit = UnitAt(bytes, index++);
  if (unit < kHighSurrogateFirst || unit > kLowSurrogateLast) {
    return unit;
  }
  if (unit > kHighSurrogateLast || index >= units) {
    return kReplacementCharacter;
  }
  const char32_t low = UnitAt(bytes, index);
  if (low < kLowSurrogateFirst || low > kLowSurrogateLast) {
    return kReplacementCharacter;
  }
  ++index;
  return kFirstSupplementary + ((unit - kHighSurrogateFirst) << 10) + (low - kLowSurrogateFirst);
}

std::size_t EncodeUtf8(char32_t code, char* out) noexcept {
  if (code < 0x80) {
    out[0] = static_cast<char>(code);
    return 1;
  }
  if (code < 0x800) {
    out[0] = static_cast<char>(0xC0 | (code >> 6));
    out[1] = static_cast<char>(0x80 | (code & 0x3F));
    return 2;
  }
  if (code < kFirstSupplementary) {
    out[0] = static_cast<char>(0xE0 | (code >> 12));
    out[1] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (code & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (code >> 18));
  out[1] = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (code & 0x3F));
  return 4;
}

std::size_t EncodeUtf16(char32_t code, char16_t* out) noexcept {
  if (code < kFirstSupplementary) {
    out[0] = static_cast<char16_t>(code);
    return 1;
  }
  const char32_t offset = code - kFirstSupplementary;
  out[0] = static_cast<char16_t>(kHighSurrogateFirst + (offset >> 10));
  out[1] = static_cast<char16_t>(kLowSurrogateFirst + (offset & 0x3FF));
  return 2;
}

void AppendUtf8(TextBuffer& out, const char* bytes, std::size_t size) {
  const std::size_t units = size / 2;
  for (std::size_t index = 0; index < units;) {
    const char32_t code = DecodeUtf16(bytes, units, index);
    out.Commit(EncodeUtf8(code, out.Room(kMaxUtf8Bytes)));
  }
}

} // namespace tavutil::detail
