// tests/helpers/test_text.h: a string's bytes or UTF-16 units, a file's or stream's bytes, as the
// suites compare them, and patterned bytes to write.
// Licensed under the Apache License, Version 2.0.
#ifndef TAVUTIL_TESTS_HELPERS_TEST_TEXT_H
#define TAVUTIL_TESTS_HELPERS_TEST_TEXT_H

#include <tavutil/tstring.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <istream>
#include <iterator>
#include <sstream>
#include <string>

/// The bytes of a TString, embedded NULs included; "<none>" when it has no buffer.
inline std::string Bytes(const TString& s) {
  const char* text = s;
  return text != nullptr ? std::string(text, s.length()) : std::string("<none>");
}

/// The UTF-16 units of a Unicode TString.
inline std::u16string Units(const TString& s) {
  EXPECT_TRUE(s.IsUnicode());
  const char* bytes = s;
  std::u16string units(s.length() / 2, u'\0');
  if (bytes != nullptr) {
    std::char_traits<char>::copy(reinterpret_cast<char*>(units.data()), bytes, units.size() * 2);
  }
  return units;
}

/// What `in` holds from its position to its end.
inline std::string StreamContents(std::istream& in) {
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

/// The bytes of the file at `path`; "" when it cannot be read.
inline std::string FileContents(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return StreamContents(in);
}

/// What a memory or temporary stream's buffer copies out (WriteTo), and the count it gives.
template <class Stream> std::string Copied(Stream& stream, unsigned long* count = nullptr) {
  std::ostringstream out;
  const unsigned long written = stream.rdbuf()->WriteTo(out);
  if (count != nullptr) {
    *count = written;
  }
  return out.str();
}

/// `n` bytes of a pattern without a short period, from its byte `first` on.
inline std::string Pattern(std::size_t n, std::size_t first = 0) {
  std::string bytes(n, '\0');
  for (std::size_t i = 0; i < n; ++i) {
    bytes[i] = static_cast<char>(((first + i) * 7 + (first + i) / 251) & 0xFF);
  }
  return bytes;
}

#endif // TAVUTIL_TESTS_HELPERS_TEST_TEXT_H
