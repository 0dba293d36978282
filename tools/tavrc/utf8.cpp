// tools/tavrc/utf8.cpp: the UTF-8 decoder and UTF-16 encoder of the catalogue reader.
// Licensed under the Apache License, Version 2.0.
#include "utf8.h"

namespace tavutil::tavrc {

bool DecodeUtf8(const std::string& text, std::size_t& pos, char32_t& code) noexcept {
  const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(text[at]); };
  const unsigned char lead = byte(pos);
  std::size_t extra = 0;
  char32_t minimum = 0;
  if (lead < 0x80) {
    code = lead;
    ++pos;
    return true;
  }
  if (lead >= 0xC2 && lead <= 0xDF) {
    extra = 1, minimum = 0x80, code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    extra = 2, minimum = 0x800, code = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    extra = 3, minimum = 0x10000, code = lead & 0x07;
  } else {
    ++pos;
    return false;
  }
  if (text.size() - pos <= extra) {
    ++pos;
    return false;
  }
  for (std::size_t i = 1; i <= extra; ++i) {
    if ((byte(pos + i) & 0xC0) != 0x80) {
      ++pos;
      return false;
    }
    code = (code << 6) | (byte(pos + i) & 0x3F);
  }
  if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
    ++pos;
    return false;
  }
  pos += extra + 1;
  return true;
}

void AppendUtf16(std::u16string& out, char32_t code) {
  if (code < 0x10000) {
    out.push_back(static_cast<char16_t>(code));
  } else {
    code -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
  }
}

} // namespace tavutil::tavrc
