// tools/tavrc/lexer.cpp: the catalogue lexer and the diagnostics reporter.
// Licensed under the Apache License, Version 2.0.
#include "lexer.h"

#include "internal/unicode.h"

#include <cstdio>
#include <utility>

namespace tavutil::tavrc {

namespace {

constexpr unsigned kMaxErrors = 50;

int DigitValue(char ch) {
  if (ch >= '0' && ch <= '9') {
    return ch - '0';
  }
  if (ch >= 'a' && ch <= 'f') {
    return ch - 'a' + 10;
  }
  if (ch >= 'A' && ch <= 'F') {
    return ch - 'A' + 10;
  }
  return -1;
}

/// A character for a message: itself when printable ASCII, else its code in hex.
std::string Shown(char ch) {
  if (ch > ' ' && ch < 0x7F) {
    return std::string("'") + ch + "'";
  }
  char code[8];
  std::snprintf(code, sizeof code, "0x%02X", static_cast<unsigned char>(ch));
  return code;
}

} // namespace

// ------------------------------------------------------------------ tokens ----

bool IsIdentifierStart(char ch) noexcept {
  return (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') || ch == '_';
}

bool IsIdentifierChar(char ch) noexcept {
  return IsIdentifierStart(ch) || (ch >= '0' && ch <= '9');
}

bool IsPunctuator(const Token& token, const char* text) noexcept {
  return token.kind == Kind::punctuator && token.text == text;
}

bool IsKeyword(const Token& token, const char* word) noexcept {
  if (token.kind != Kind::identifier) {
    return false;
  }
  std::size_t i = 0;
  for (; i < token.text.size() && word[i] != '\0'; ++i) {
    char ch = token.text[i];
    if (ch >= 'a' && ch <= 'z') {
      ch = static_cast<char>(ch - 'a' + 'A');
    }
    if (ch != word[i]) {
      return false;
    }
  }
  return i == token.text.size() && word[i] == '\0';
}

bool SameLine(const Token& first, const Token& second) noexcept {
  return first.file == second.file && first.line == second.line;
}

std::string Describe(const Token& token) {
  switch (token.kind) {
  case Kind::identifier:
    return "name " + token.text;
  case Kind::number:
    return "number " + token.text;
  case Kind::string:
    return "a string";
  case Kind::punctuator:
    return "'" + token.text + "'";
  case Kind::end:
    break;
  }
  return "the end of the file";
}

// ---------------------------------------------------------------- reporter ----

void Reporter::Error(const Token& at, std::string text) {
  Report(at, true, std::move(text));
}

void Reporter::Warning(const Token& at, std::string text) {
  Report(at, false, std::move(text));
}

void Reporter::Fatal(const Token& at, std::string text) {
  Error(at, std::move(text));
  fErrors = kMaxErrors;
}

bool Reporter::Stopped() const noexcept {
  return fErrors >= kMaxErrors;
}

void Reporter::Report(const Token& at, bool error, std::string text) {
  if (Stopped()) {
    return;
  }
  fDiagnostics.push_back(
      Diagnostic{at.file != nullptr ? *at.file : std::string(), at.line, error, std::move(text)});
  if (error && ++fErrors == kMaxErrors) {
    fDiagnostics.push_back(
        Diagnostic{fDiagnostics.back().file, at.line, true, "too many errors; stopping"});
  }
}

// ------------------------------------------------------------------- lexer ----

Token Lexer::At(const Source& source) {
  Token token;
  token.file = source.path;
  token.line = source.line;
  return token;
}

std::string Lexer::TakeName(Source& source) {
  std::string name;
  while (IsIdentifierChar(source.Peek())) {
    name.push_back(source.text[source.pos++]);
  }
  return name;
}

void Lexer::SkipBlanks(Source& source, bool stopAtNewline) {
  while (!source.AtEnd()) {
    const char next = source.Peek();
    if (next == '\n') {
      if (stopAtNewline) {
        return;
      }
      ++source.line, ++source.pos;
      source.atLineStart = true;
    } else if (next == ' ' || next == '\t' || next == '\r' || next == '\f' || next == '\v') {
      ++source.pos;
    } else if (next == '/' && source.Peek(1) == '/') {
      while (!source.AtEnd() && source.Peek() != '\n') {
        ++source.pos;
      }
    } else if (next == '/' && source.Peek(1) == '*') {
      const Token start = At(source);
      source.pos += 2;
      while (!source.AtEnd() && !(source.Peek() == '*' && source.Peek(1) == '/')) {
        source.line += source.Peek() == '\n' ? 1 : 0;
        ++source.pos;
      }
      if (source.AtEnd()) {
        fReporter.Error(start, "unterminated comment");
        return;
      }
      source.pos += 2;
    } else {
      return;
    }
  }
}

void Lexer::SkipLine(Source& source) {
  while (!source.AtEnd() && source.Peek() != '\n') {
    const char next = source.Peek();
    if (next == '/' && (source.Peek(1) == '/' || source.Peek(1) == '*')) {
      const std::size_t before = source.pos;
      SkipBlanks(source, true);
      if (source.pos == before) {
        ++source.pos;
      }
    } else if (next == '"' || next == '\'') {
      ++source.pos;
      while (!source.AtEnd() && source.Peek() != '\n' && source.Peek() != next) {
        source.pos += source.Peek() == '\\' && source.Peek(1) != '\n' ? 2 : 1;
      }
      if (source.Peek() == next) {
        ++source.pos;
      }
    } else {
      ++source.pos;
    }
  }
}

Token Lexer::LexToken(Source& source) {
  for (;;) {
    Token token = LexOne(source);
    if (token.kind != Kind::punctuator || !token.text.empty()) {
      return token;
    }
  }
}

std::vector<Token> Lexer::LineTokens(Source& source) {
  std::vector<Token> tokens;
  for (Token token = LexToken(source); token.kind != Kind::end; token = LexToken(source)) {
    tokens.push_back(std::move(token));
  }
  return tokens;
}

/// LexToken's step: a punctuator token with an empty text stands for a stray character.
Token Lexer::LexOne(Source& source) {
  SkipBlanks(source, true);
  Token token = At(source);
  if (source.AtEnd() || source.Peek() == '\n') {
    return token;
  }
  const char first = source.Peek();
  if (first == 'L' && source.Peek(1) == '"') {
    ++source.pos;
    LexString(source, token);
  } else if (IsIdentifierStart(first)) {
    token.kind = Kind::identifier;
    token.text = TakeName(source);
  } else if (first >= '0' && first <= '9') {
    LexNumber(source, token);
  } else if (first == '"') {
    LexString(source, token);
  } else {
    LexPunctuator(source, token);
  }
  return token;
}

/// A one- or two-character punctuator; a character that is none is reported, passed over and
/// given as a punctuator with an empty text.
void Lexer::LexPunctuator(Source& source, Token& token) {
  static const char* const kTwo[] = {"||", "&&", "==", "!=", "<=", ">=", "<<", ">>"};
  static const char kOne[] = ",{}()+-*/%|&^~!<>";
  const char first = source.Peek();
  token.kind = Kind::punctuator;
  for (const char* two : kTwo) {
    if (first == two[0] && source.Peek(1) == two[1]) {
      token.text = two;
      source.pos += 2;
      return;
    }
  }
  ++source.pos;
  if (std::string(kOne).find(first) == std::string::npos) {
    fReporter.Error(token, "unexpected character " + Shown(first));
    return;
  }
  token.text = std::string(1, first);
}

void Lexer::LexNumber(Source& source, Token& token) {
  token.kind = Kind::number;
  token.text = TakeName(source);
  std::string digits = token.text;
  while (!digits.empty() && (digits.back() == 'u' || digits.back() == 'U' || digits.back() == 'l' ||
                             digits.back() == 'L')) {
    digits.pop_back();
  }
  unsigned base = 10;
  std::size_t first = 0;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    base = 16, first = 2;
  } else if (digits.size() > 1 && digits[0] == '0') {
    base = 8, first = 1;
  }
  bool ok = first < digits.size() || base == 10;
  std::uint64_t value = 0;
  for (std::size_t i = first; ok && i < digits.size(); ++i) {
    const int digit = DigitValue(digits[i]);
    ok = digit >= 0 && static_cast<unsigned>(digit) < base;
    if (ok && value > (UINT64_MAX - static_cast<unsigned>(digit)) / base) {
      fReporter.Error(token, "number " + token.text + " is too large");
      return;
    }
    value = value * base + (ok ? static_cast<unsigned>(digit) : 0);
  }
  if (!ok || digits.empty()) {
    fReporter.Error(token, "bad number " + token.text);
  }
  token.value = value;
}

/// A string literal: `""` stands for one quote; the usual backslash escapes; `\x` takes up
/// to four hex digits and `\` up to three octal ones, each giving one UTF-16 unit.
void Lexer::LexString(Source& source, Token& token) {
  token.kind = Kind::string;
  ++source.pos; // the opening quote
  for (;;) {
    if (source.AtEnd() || source.Peek() == '\n') {
      fReporter.Error(token, "unterminated string");
      return;
    }
    const char next = source.Peek();
    if (next == '"') {
      ++source.pos;
      if (source.Peek() != '"') {
        return;
      }
      ++source.pos;
      token.string.push_back(u'"');
    } else if (next == '\\') {
      LexEscape(source, token);
    } else {
      char32_t code = 0;
      // The file is valid UTF-8.
      tavutil::detail::DecodeUtf8(source.text.data(), source.text.size(), source.pos, code);
      tavutil::detail::AppendUtf16(token.string, code);
    }
  }
}

void Lexer::LexEscape(Source& source, Token& token) {
  ++source.pos; // the backslash
  const char next = source.Peek();
  static const char kFrom[] = "abfnrtv\\'\"?";
  static const char16_t kTo[] = u"\a\b\f\n\r\t\v\\'\"?";
  static_assert(sizeof kFrom == sizeof kTo / sizeof kTo[0], "one replacement per escape");
  if (next != '\0' && next != '\n' && std::string(kFrom).find(next) != std::string::npos) {
    token.string.push_back(kTo[std::string(kFrom).find(next)]);
    ++source.pos;
    return;
  }
  unsigned base = 8; // up to three octal digits
  unsigned limit = 3;
  if (next == 'x' || next == 'X') { // up to four hex digits
    base = 16;
    limit = 4;
    ++source.pos;
  } else if (next < '0' || next > '7') {
    fReporter.Error(At(source),
                    std::string("unknown escape sequence \\") + (next == '\n' ? "" : Shown(next)));
    return;
  }
  unsigned value = 0;
  unsigned count = 0;
  for (int digit = DigitValue(source.Peek());
       count < limit && digit >= 0 && static_cast<unsigned>(digit) < base;
       digit = DigitValue(source.Peek())) {
    value = value * base + static_cast<unsigned>(digit);
    ++count, ++source.pos;
  }
  if (count == 0) {
    fReporter.Error(At(source), "\\x without hex digits");
    return;
  }
  token.string.push_back(static_cast<char16_t>(value));
}

} // namespace tavutil::tavrc
