// tools/tavrc/utf8.h: the UTF-8 decoder and UTF-16 encoder of the catalogue reader.
// Licensed under the Apache License, Version 2.0.
//
// A unit of its own, so that the reader can take another converter by changing these two
// functions only.
#ifndef TAVUTIL_TOOLS_TAVRC_UTF8_H
#define TAVUTIL_TOOLS_TAVRC_UTF8_H

#include <cstddef>
#include <string>

namespace tavutil::tavrc {

/// Decodes one UTF-8 sequence at `pos` of `text` (`pos` < its size) into `code` and moves past
/// it. Returns false, moving past one byte, for a sequence that is not valid UTF-8 (overlong
/// forms and surrogates included). Throws nothing.
bool DecodeUtf8(const std::string& text, std::size_t& pos, char32_t& code) noexcept;

/// Appends the scalar value `code` to `out`: one UTF-16 unit, or a surrogate pair above
/// U+FFFF. Throws std::bad_alloc when `out` cannot grow.
void AppendUtf16(std::u16string& out, char32_t code);

} // namespace tavutil::tavrc

#endif // TAVUTIL_TOOLS_TAVRC_UTF8_H
