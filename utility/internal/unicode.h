// utility/internal/unicode.h: UTF-8 and UTF-16 conversions, one code point or a whole text.
// Licensed under the Apache License, Version 2.0.
//
// Internal to the library; never installed. Self-contained (standard headers only, no
// library types but TextBuffer), so that the catalogue compiler can build the same unit.
#ifndef TAVUTIL_INTERNAL_UNICODE_H
#define TAVUTIL_INTERNAL_UNICODE_H

#include <cstddef>
#include <string>

namespace tavutil::detail {

class TextBuffer;

/// The most bytes one code point takes in UTF-8.
inline constexpr std::size_t kMaxUtf8Bytes = 4;
/// What an unpaired surrogate decodes as.
inline constexpr char32_t kReplacementCharacter = 0xFFFD;

/// Decodes one UTF-8 sequence of `text` (`size` bytes) at `pos` into `code` and moves past
/// it. Returns false, moving past one byte, for a sequence that is not valid UTF-8 (overlong
/// forms, surrogates and values above U+10FFFF included). `pos` must be below `size`.
/// Throws nothing.
bool DecodeUtf8(const char* text, std::size_t size, std::size_t& pos, char32_t& code) noexcept;

/// Decodes the code point of UTF-16 text (`units` units in host order at `bytes`, which need
/// not be aligned) at unit `index` and moves past it; an unpaired surrogate gives
/// kReplacementCharacter. `index` must be below `units`. Throws nothing.
char32_t DecodeUtf16(const char* bytes, std::size_t units, std::size_t& index) noexcept;

/// Writes the UTF-8 form of `code` (at most U+10FFFF) at `out`, which has room for
/// kMaxUtf8Bytes; returns the number of bytes written. Throws nothing.
std::size_t EncodeUtf8(char32_t code, char* out) noexcept;

/// Writes the UTF-16 form of `code` (at most U+10FFFF) at `out`, which has room for two
/// units: one unit, or a surrogate pair; returns the number of units written. Throws nothing.
std::size_t EncodeUtf16(char32_t code, char16_t* out) noexcept;

/// Appends the UTF-16 form of `code` (at most U+10FFFF) to `out`. Throws std::bad_alloc when
/// `out` cannot grow.
inline void AppendUtf16(std::u16string& out, char32_t code) {
  char16_t units[2];
  out.append(units, EncodeUtf16(code, units));
}

/// Appends the UTF-8 form of UTF-16 text (units in host order; `size` bytes, an odd last
/// byte dropped) to `out`; an unpaired surrogate becomes U+FFFD. Throws std::bad_alloc when
/// `out` cannot grow.
void AppendUtf8(TextBuffer& out, const char* bytes, std::size_t size);

} // namespace tavutil::detail

#endif // TAVUTIL_INTERNAL_UNICODE_H
