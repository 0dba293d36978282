// tools/tavrc/catalogue.cpp: reads message catalogues and generates their string tables.
// Licensed under the Apache License, Version 2.0.
//
// Three layers: a lexer over one file at a time (comments, strings with their escapes, numbers,
// punctuators, and the directives at line starts), a preprocessor (#define, #include,
// conditionals, expansion of object-like macros) and the grammar of STRINGTABLE blocks.
// Every bound is explicit (errors, include depth, expansion depth and size, expression
// nesting), so any input, however hostile, ends in diagnostics rather than in a crash or an
// endless loop.
#include "catalogue.h"

#include "platform/stringtable.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <deque>
#include <map>
#include <optional>
#include <set>

namespace tavutil::tavrc {

bool Catalogue::Succeeded() const {
  return std::none_of(diagnostics.begin(), diagnostics.end(),
                      [](const Diagnostic& d) { return d.error; });
}

namespace {

constexpr unsigned kMaxErrors = 50;
constexpr unsigned kMaxIncludeDepth = 16;
constexpr unsigned kMaxExpansionDepth = 64;
constexpr unsigned kMaxFiles = 256;           ///< files read, the catalogue included
constexpr std::size_t kMaxExpanded = 1000000; ///< tokens that macro expansion may produce
constexpr unsigned kMaxNesting = 256;         ///< parentheses and unary operators in one expression

// ------------------------------------------------------------------ UTF-8 ----

/// Decodes one UTF-8 sequence at `pos` into `code` and moves past it. Returns false, moving
/// past one byte, for a sequence that is not valid UTF-8 (overlong forms and surrogates too).
bool DecodeUtf8(const std::string& text, std::size_t& pos, char32_t& code) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
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

// ----------------------------------------------------------------- tokens ----

enum class Kind { identifier, number, string, punctuator, end };

struct Token {
  Kind kind = Kind::end;
  std::string text;        ///< identifier name, punctuator, or the number as written
  std::uint64_t value = 0; ///< number value
  std::u16string string;   ///< string contents
  const std::string* file = nullptr;
  unsigned line = 0;
};

bool IsIdentifierStart(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}
bool IsIdentifierChar(char c) {
  return IsIdentifierStart(c) || (c >= '0' && c <= '9');
}
bool IsPunctuator(const Token& t, const char* text) {
  return t.kind == Kind::punctuator && t.text == text;
}
/// Keywords of resource scripts are case-insensitive.
bool IsKeyword(const Token& t, const char* word) {
  if (t.kind != Kind::identifier) {
    return false;
  }
  std::size_t i = 0;
  for (; i < t.text.size() && word[i] != '\0'; ++i) {
    char c = t.text[i];
    if (c >= 'a' && c <= 'z') {
      c = static_cast<char>(c - 'a' + 'A');
    }
    if (c != word[i]) {
      return false;
    }
  }
  return i == t.text.size() && word[i] == '\0';
}
bool SameLine(const Token& a, const Token& b) {
  return a.file == b.file && a.line == b.line;
}
int DigitValue(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}
/// A token for a message: "name X", "number 12", "a string", "','", "the end of the file".
std::string Describe(const Token& t) {
  switch (t.kind) {
  case Kind::identifier:
    return "name " + t.text;
  case Kind::number:
    return "number " + t.text;
  case Kind::string:
    return "a string";
  case Kind::punctuator:
    return "'" + t.text + "'";
  case Kind::end:
    break;
  }
  return "the end of the file";
}

/// A character for a message: itself when printable ASCII, else its code in hex.
std::string Shown(char c) {
  if (c > ' ' && c < 0x7F) {
    return std::string("'") + c + "'";
  }
  char code[8];
  std::snprintf(code, sizeof code, "0x%02X", static_cast<unsigned char>(c));
  return code;
}

// ---------------------------------------------------------------- sources ----

/// One open #if group.
struct Conditional {
  unsigned line;
  bool active; ///< this group's lines are read
  bool taken;  ///< some group of this #if has been active
  bool sawElse;
  bool enclosing; ///< the lines around the #if are read
};

/// One file being read.
struct Source {
  const std::string* path;
  std::string text;
  std::size_t pos = 0;
  unsigned line = 1;
  bool atLineStart = true;
  bool directivesOnly; ///< a header: only its directives count
  std::vector<Conditional> conditionals;

  bool AtEnd() const { return pos >= text.size(); }
  char Peek(std::size_t ahead = 0) const {
    return pos + ahead < text.size() ? text[pos + ahead] : '\0';
  }
  bool Skipping() const { return !conditionals.empty() && !conditionals.back().active; }
};

/// A name that #define gave a value.
struct Macro {
  std::vector<Token> tokens;
};

/// Something expressions read tokens from.
class TokenStream {
public:
  virtual ~TokenStream() = default;
  virtual const Token& Peek() = 0;
  virtual Token Take() = 0;
};

/// The tokens of one directive line, already expanded.
class VectorStream : public TokenStream {
public:
  VectorStream(std::vector<Token> tokens, const Token& end) : fTokens(std::move(tokens)) {
    fEnd = end;
    fEnd.kind = Kind::end;
  }
  const Token& Peek() override { return fAt < fTokens.size() ? fTokens[fAt] : fEnd; }
  Token Take() override { return fAt < fTokens.size() ? fTokens[fAt++] : fEnd; }
  bool AtEnd() const { return fAt >= fTokens.size(); }

private:
  std::vector<Token> fTokens;
  std::size_t fAt = 0;
  Token fEnd;
};

/// How an expression treats a name that no #define gave a value.
enum class Names { strict, zero };

// ----------------------------------------------------------------- reader ----

/// The lexer and preprocessor: hands out the tokens of the catalogue and of the files it
/// includes, with directives obeyed and macros expanded.
class Reader : public TokenStream {
public:
  Reader(Catalogue& out, const IncludeReader& includes) : fOut(out), fIncludes(includes) {}

  void Define(const std::string& name, const std::string& value) {
    static const std::string kCommandLine = "<command line>";
    Source source{&kCommandLine, value, 0, 1, false, false, {}};
    Macro macro;
    for (Token t = LexToken(source); t.kind != Kind::end; t = LexToken(source)) {
      macro.tokens.push_back(std::move(t));
    }
    fMacros[name] = std::move(macro);
  }

  /// Starts reading the file `path`, whose #include is `from` (a default token for the
  /// catalogue itself).
  void Open(const std::string& path, std::string text, bool directivesOnly, const Token& from) {
    fOut.files.push_back(path);
    const std::string* name = Name(path);
    if (fMain == nullptr) {
      fMain = name;
    }
    if (!ValidUtf8(text, name)) {
      return;
    }
    if (fSources.size() >= kMaxIncludeDepth) {
      Error(from, "#include nested more than 16 deep");
      return;
    }
    if (fOut.files.size() > kMaxFiles) {
      Fatal(from, "more than 256 files included");
      return;
    }
    std::size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0; // a byte order mark
    fSources.push_back(Source{name, std::move(text), start, 1, true, directivesOnly, {}});
  }

  const Token& Peek() override {
    if (!fPeeked) {
      fLookahead = Next();
      fPeeked = true;
    }
    return fLookahead;
  }
  Token Take() override {
    Peek();
    fPeeked = false;
    return std::move(fLookahead);
  }

  void Error(const Token& at, std::string text) { Report(at, true, std::move(text)); }
  void Warning(const Token& at, std::string text) { Report(at, false, std::move(text)); }
  bool Stopped() const { return fErrors >= kMaxErrors; }
  /// Reports an error after which reading stops.
  void Fatal(const Token& at, std::string text) {
    Error(at, std::move(text));
    fErrors = kMaxErrors;
  }

  /// Evaluates an expression; nullopt after an error (already reported).
  std::optional<std::int64_t> Evaluate(TokenStream& in, Names names) {
    unsigned depth = 0;
    return Binary(in, names, 1, depth);
  }

private:
  // -------------------------------------------------------------- diagnostics

  void Report(const Token& at, bool error, std::string text) {
    if (Stopped()) {
      return;
    }
    fOut.diagnostics.push_back(
        Diagnostic{at.file != nullptr ? *at.file : std::string(), at.line, error, std::move(text)});
    if (error && ++fErrors == kMaxErrors) {
      fOut.diagnostics.push_back(
          Diagnostic{fOut.diagnostics.back().file, at.line, true, "too many errors; stopping"});
    }
  }
  static Token At(const Source& source) {
    Token t;
    t.file = source.path;
    t.line = source.line;
    return t;
  }
  const std::string* Name(const std::string& path) {
    fNames.push_back(path);
    return &fNames.back();
  }

  bool ValidUtf8(const std::string& text, const std::string* name) {
    for (std::size_t pos = 0; pos < text.size();) {
      char32_t code = 0;
      const std::size_t start = pos;
      if (!DecodeUtf8(text, pos, code)) {
        Token at;
        at.file = name;
        const auto end = text.begin() + static_cast<std::ptrdiff_t>(start);
        at.line = 1 + static_cast<unsigned>(std::count(text.begin(), end, '\n'));
        Error(at, "invalid UTF-8");
        return false;
      }
    }
    return true;
  }

  // ------------------------------------------------------------------- lexer

  /// Skips blanks and comments; stops at a newline when `stopAtNewline`. Comments that span
  /// lines count their lines.
  void SkipBlanks(Source& s, bool stopAtNewline) {
    while (!s.AtEnd()) {
      const char c = s.Peek();
      if (c == '\n') {
        if (stopAtNewline) {
          return;
        }
        ++s.line, ++s.pos;
        s.atLineStart = true;
      } else if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v') {
        ++s.pos;
      } else if (c == '/' && s.Peek(1) == '/') {
        while (!s.AtEnd() && s.Peek() != '\n') {
          ++s.pos;
        }
      } else if (c == '/' && s.Peek(1) == '*') {
        const Token start = At(s);
        s.pos += 2;
        while (!s.AtEnd() && !(s.Peek() == '*' && s.Peek(1) == '/')) {
          s.line += s.Peek() == '\n' ? 1 : 0;
          ++s.pos;
        }
        if (s.AtEnd()) {
          Error(start, "unterminated comment");
          return;
        }
        s.pos += 2;
      } else {
        return;
      }
    }
  }

  /// Skips the rest of a line that is not read (a skipped group or a header's code): comments
  /// and quoted text are passed over so that neither hides or fakes a directive.
  void SkipLine(Source& s) {
    while (!s.AtEnd() && s.Peek() != '\n') {
      const char c = s.Peek();
      if (c == '/' && (s.Peek(1) == '/' || s.Peek(1) == '*')) {
        const std::size_t before = s.pos;
        SkipBlanks(s, true);
        if (s.pos == before) {
          ++s.pos;
        }
      } else if (c == '"' || c == '\'') {
        ++s.pos;
        while (!s.AtEnd() && s.Peek() != '\n' && s.Peek() != c) {
          s.pos += s.Peek() == '\\' && s.Peek(1) != '\n' ? 2 : 1;
        }
        if (s.Peek() == c) {
          ++s.pos;
        }
      } else {
        ++s.pos;
      }
    }
  }

  /// One token from `s`, not crossing a newline (the end token at a newline or the end).
  /// A stray character is reported and passed over.
  Token LexToken(Source& s) {
    for (;;) {
      Token t = LexOne(s);
      if (t.kind != Kind::punctuator || !t.text.empty()) {
        return t;
      }
    }
  }

  /// LexToken's step: a punctuator token with an empty text stands for a stray character.
  Token LexOne(Source& s) {
    SkipBlanks(s, true);
    Token t = At(s);
    if (s.AtEnd() || s.Peek() == '\n') {
      return t;
    }
    const char c = s.Peek();
    if (c == 'L' && s.Peek(1) == '"') {
      ++s.pos;
      LexString(s, t);
    } else if (IsIdentifierStart(c)) {
      t.kind = Kind::identifier;
      while (IsIdentifierChar(s.Peek())) {
        t.text.push_back(s.text[s.pos++]);
      }
    } else if (c >= '0' && c <= '9') {
      LexNumber(s, t);
    } else if (c == '"') {
      LexString(s, t);
    } else {
      static const char* const kTwo[] = {"||", "&&", "==", "!=", "<=", ">=", "<<", ">>"};
      static const char kOne[] = ",{}()+-*/%|&^~!<>";
      t.kind = Kind::punctuator;
      for (const char* two : kTwo) {
        if (c == two[0] && s.Peek(1) == two[1]) {
          t.text = two;
          s.pos += 2;
          return t;
        }
      }
      ++s.pos;
      if (std::string(kOne).find(c) == std::string::npos) {
        Error(t, "unexpected character " + Shown(c));
        return t;
      }
      t.text = std::string(1, c);
    }
    return t;
  }

  void LexNumber(Source& s, Token& t) {
    t.kind = Kind::number;
    while (IsIdentifierChar(s.Peek())) {
      t.text.push_back(s.text[s.pos++]);
    }
    std::string digits = t.text;
    while (!digits.empty() && (digits.back() == 'u' || digits.back() == 'U' ||
                               digits.back() == 'l' || digits.back() == 'L')) {
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
        Error(t, "number " + t.text + " is too large");
        return;
      }
      value = value * base + (ok ? static_cast<unsigned>(digit) : 0);
    }
    if (!ok || digits.empty()) {
      Error(t, "bad number " + t.text);
    }
    t.value = value;
  }

  /// A string literal: `""` stands for one quote; the usual backslash escapes; `\x` takes up
  /// to four hex digits and `\` up to three octal ones, each giving one UTF-16 unit.
  void LexString(Source& s, Token& t) {
    t.kind = Kind::string;
    ++s.pos; // the opening quote
    for (;;) {
      if (s.AtEnd() || s.Peek() == '\n') {
        Error(t, "unterminated string");
        return;
      }
      const char c = s.Peek();
      if (c == '"') {
        ++s.pos;
        if (s.Peek() != '"') {
          return;
        }
        ++s.pos;
        t.string.push_back(u'"');
      } else if (c == '\\') {
        LexEscape(s, t);
      } else {
        char32_t code = 0;
        DecodeUtf8(s.text, s.pos, code); // the file is valid UTF-8
        AppendUtf16(t.string, code);
      }
    }
  }

  void LexEscape(Source& s, Token& t) {
    ++s.pos; // the backslash
    const char c = s.Peek();
    static const char kFrom[] = "abfnrtv\\'\"?";
    static const char16_t kTo[] = u"\a\b\f\n\r\t\v\\'\"?";
    if (c != '\0' && c != '\n' && std::string(kFrom).find(c) != std::string::npos) {
      t.string.push_back(kTo[std::string(kFrom).find(c)]);
      ++s.pos;
      return;
    }
    unsigned base = 8; // up to three octal digits
    unsigned limit = 3;
    if (c == 'x' || c == 'X') { // up to four hex digits
      base = 16;
      limit = 4;
      ++s.pos;
    } else if (c < '0' || c > '7') {
      Error(At(s), std::string("unknown escape sequence \\") + (c == '\n' ? "" : Shown(c)));
      return;
    }
    unsigned value = 0;
    unsigned count = 0;
    for (int digit = DigitValue(s.Peek());
         count < limit && digit >= 0 && static_cast<unsigned>(digit) < base;
         digit = DigitValue(s.Peek())) {
      value = value * base + static_cast<unsigned>(digit);
      ++count, ++s.pos;
    }
    if (count == 0) {
      Error(At(s), "\\x without hex digits");
      return;
    }
    t.string.push_back(static_cast<char16_t>(value));
  }

  // ------------------------------------------------------------ preprocessor

  /// The tokens from the current position to the end of the line (the newline is left).
  std::vector<Token> LineTokens(Source& s) {
    std::vector<Token> tokens;
    for (Token t = LexToken(s); t.kind != Kind::end; t = LexToken(s)) {
      tokens.push_back(std::move(t));
    }
    return tokens;
  }

  /// Next raw token of the current file, directives obeyed; the end token when every file
  /// is read.
  Token Lex() {
    while (!fSources.empty() && !Stopped()) {
      Source& s = fSources.back();
      SkipBlanks(s, false);
      if (s.AtEnd()) {
        for (const Conditional& open : s.conditionals) {
          Token at = At(s);
          at.line = open.line;
          Error(at, "#if without #endif");
        }
        fSources.pop_back();
        continue;
      }
      if (s.atLineStart && s.Peek() == '#') {
        ++s.pos;
        Directive(s);
        continue; // the directive may have opened an include: fSources may have grown
      }
      s.atLineStart = false;
      if (s.Skipping() || s.directivesOnly) {
        SkipLine(s);
        continue;
      }
      Token t = LexToken(s);
      if (t.kind != Kind::end) {
        return t;
      }
    }
    Token end;
    end.file = fMain;
    return end;
  }

  void Directive(Source& s) {
    SkipBlanks(s, true);
    const Token at = At(s);
    std::string name;
    while (IsIdentifierChar(s.Peek())) {
      name.push_back(s.text[s.pos++]);
    }
    const bool skipping = s.Skipping();
    if (name == "if" || name == "ifdef" || name == "ifndef") {
      bool value = false;
      if (!skipping) {
        value = name == "if" ? Condition(s, at) : Defined(s, at, name == "ifdef");
      }
      s.conditionals.push_back(Conditional{at.line, !skipping && value, value, false, !skipping});
    } else if (name == "elif" || name == "else") {
      if (s.conditionals.empty() || s.conditionals.back().sawElse) {
        Error(at, "#" + name + (s.conditionals.empty() ? " without #if" : " after #else"));
      } else {
        Conditional& open = s.conditionals.back();
        bool value = !open.taken && open.enclosing;
        if (value && name == "elif") {
          value = Condition(s, at);
        }
        open.sawElse = name == "else";
        open.active = value;
        open.taken = open.taken || value;
      }
    } else if (name == "endif") {
      if (s.conditionals.empty()) {
        Error(at, "#endif without #if");
      } else {
        s.conditionals.pop_back();
      }
    } else if (skipping || name == "pragma" || name == "line" || name.empty()) {
      // Nothing to do: a skipped group, or what does not change the strings.
    } else if (name == "define") {
      Define(s, at);
    } else if (name == "undef") {
      std::vector<Token> tokens = LineTokens(s);
      if (tokens.size() != 1 || tokens[0].kind != Kind::identifier) {
        Error(at, "#undef needs one name");
      } else {
        fMacros.erase(tokens[0].text);
      }
    } else if (name == "include") {
      Include(s, at);
      return;
    } else if (name == "error") {
      std::size_t end = s.text.find('\n', s.pos);
      end = end == std::string::npos ? s.text.size() : end;
      Error(at, "#error" + s.text.substr(s.pos, end - s.pos));
    } else {
      Error(at, "unknown directive #" + name);
    }
    SkipLine(s);
  }

  bool Defined(Source& s, const Token& at, bool ifdef) {
    std::vector<Token> tokens = LineTokens(s);
    if (tokens.size() != 1 || tokens[0].kind != Kind::identifier) {
      Error(at, std::string(ifdef ? "#ifdef" : "#ifndef") + " needs one name");
      return false;
    }
    return (fMacros.count(tokens[0].text) != 0) == ifdef;
  }

  /// Evaluates the rest of an #if or #elif line: `defined` first, then the macros.
  bool Condition(Source& s, const Token& at) {
    std::vector<Token> raw = LineTokens(s);
    std::vector<Token> resolved;
    for (std::size_t i = 0; i < raw.size(); ++i) {
      if (raw[i].kind != Kind::identifier || raw[i].text != "defined") {
        resolved.push_back(std::move(raw[i]));
        continue;
      }
      const bool parenthesised = i + 1 < raw.size() && IsPunctuator(raw[i + 1], "(");
      const std::size_t nameAt = i + (parenthesised ? 2 : 1);
      if (nameAt >= raw.size() || raw[nameAt].kind != Kind::identifier ||
          (parenthesised && (nameAt + 1 >= raw.size() || !IsPunctuator(raw[nameAt + 1], ")")))) {
        Error(at, "defined needs a name");
        return false;
      }
      Token value = raw[i];
      value.kind = Kind::number;
      value.value = fMacros.count(raw[nameAt].text);
      resolved.push_back(std::move(value));
      i = nameAt + (parenthesised ? 1 : 0);
    }
    std::vector<Token> expanded;
    if (!ExpandAll(resolved, expanded)) {
      return false;
    }
    VectorStream in(std::move(expanded), at);
    if (in.AtEnd()) {
      Error(at, "#if needs an expression");
      return false;
    }
    const std::optional<std::int64_t> value = Evaluate(in, Names::zero);
    if (value && !in.AtEnd()) {
      Error(in.Peek(), "unexpected " + Describe(in.Peek()) + " in #if");
      return false;
    }
    return value.value_or(0) != 0;
  }

  void Define(Source& s, const Token& at) {
    SkipBlanks(s, true);
    std::string name;
    while (IsIdentifierChar(s.Peek())) {
      name.push_back(s.text[s.pos++]);
    }
    if (name.empty() || !IsIdentifierStart(name[0])) {
      Error(at, "#define needs a name");
      return;
    }
    if (s.Peek() == '(') {
      return; // a function-like macro: it gives no id, so it is not kept
    }
    Macro macro;
    macro.tokens = LineTokens(s);
    fMacros[name] = std::move(macro);
  }

  void Include(Source& s, const Token& at) {
    SkipBlanks(s, true);
    const char open = s.Peek();
    const char close = open == '<' ? '>' : '"';
    std::size_t end = std::string::npos;
    if (open == '"' || open == '<') {
      end = s.text.find_first_of(std::string(1, close) + "\n", s.pos + 1);
    }
    if (end == std::string::npos || s.text[end] != close) {
      Error(at, "#include needs a \"file\" or <file>");
      SkipLine(s);
      return;
    }
    const std::string name = s.text.substr(s.pos + 1, end - s.pos - 1);
    s.pos = end + 1;
    SkipLine(s);
    std::string path;
    std::string contents;
    bool found = false;
    try {
      found = fIncludes && fIncludes(name, *s.path, path, contents);
    } catch (const IncludeError& e) {
      Error(at, "cannot read include file " + name + ": " + e.what());
      return;
    }
    if (!found) {
      Error(at, "cannot open include file " + name);
      return;
    }
    // As resource compilers do, a C or C++ header contributes its directives only.
    const std::size_t dot = path.find_last_of('.');
    const std::string extension = dot == std::string::npos ? "" : path.substr(dot);
    static const std::set<std::string> kHeaders = {".h", ".hh", ".hpp", ".hxx", ".c", ".cpp"};
    Open(path, std::move(contents), kHeaders.count(extension) != 0, at);
  }

  // --------------------------------------------------------------- expansion

  /// The next token with macros expanded: a name defined by #define is replaced by its
  /// tokens (reported at the place of use), except inside its own expansion.
  Token Next() {
    for (;;) {
      Token t;
      if (!fFrames.empty()) {
        Frame& frame = fFrames.back();
        if (frame.at == frame.tokens.size()) {
          fFrames.pop_back();
          continue;
        }
        t = frame.tokens[frame.at++];
      } else {
        t = Lex();
      }
      if (!Expand(t, fFrames)) {
        return t;
      }
    }
  }

  struct Frame {
    std::string name;
    std::vector<Token> tokens;
    std::size_t at = 0;
  };

  /// Pushes the expansion of `t` when it names a macro not being expanded; false otherwise.
  bool Expand(const Token& t, std::vector<Frame>& frames) {
    if (t.kind != Kind::identifier) {
      return false;
    }
    const auto macro = fMacros.find(t.text);
    if (macro == fMacros.end() || std::any_of(frames.begin(), frames.end(),
                                              [&](const Frame& f) { return f.name == t.text; })) {
      return false;
    }
    if (frames.size() >= kMaxExpansionDepth) {
      Error(t, "macros nested more than 64 deep in " + t.text);
      return false;
    }
    fExpanded += macro->second.tokens.size();
    if (fExpanded > kMaxExpanded) { // chains like A0 -> A1 A1 -> A2 A2 A2 A2 grow exponentially
      Fatal(t, "macro expansion gives more than a million tokens");
      return false;
    }
    // A few tokens may be long strings: the text they copy is bounded as well.
    for (const Token& token : macro->second.tokens) {
      fExpandedBytes += token.text.size() + token.string.size() * sizeof(char16_t);
    }
    if (fExpandedBytes > kMaxExpandedBytes) {
      Fatal(t, "macro expansion gives more than 32 MiB");
      return false;
    }
    Frame frame{t.text, macro->second.tokens, 0};
    for (Token& token : frame.tokens) {
      token.file = t.file;
      token.line = t.line;
    }
    frames.push_back(std::move(frame));
    return true;
  }

  bool ExpandAll(const std::vector<Token>& in, std::vector<Token>& out) {
    std::vector<Frame> frames{Frame{std::string(), in, 0}};
    while (!frames.empty()) {
      Frame& frame = frames.back();
      if (frame.at == frame.tokens.size()) {
        frames.pop_back();
        continue;
      }
      Token t = frame.tokens[frame.at++];
      const std::size_t errors = fErrors;
      if (!Expand(t, frames)) {
        if (fErrors != errors) {
          return false;
        }
        out.push_back(std::move(t));
      }
    }
    return true;
  }

  // ------------------------------------------------------------- expressions

  static int Precedence(const Token& t) {
    if (t.kind != Kind::punctuator) {
      return 0;
    }
    static const std::map<std::string, int> kLevels = {
        {"||", 1}, {"&&", 2}, {"|", 3}, {"^", 4},  {"&", 5},  {"==", 6},
        {"!=", 6}, {"<", 7},  {">", 7}, {"<=", 7}, {">=", 7}, {"<<", 8},
        {">>", 8}, {"+", 9},  {"-", 9}, {"*", 10}, {"/", 10}, {"%", 10}};
    const auto level = kLevels.find(t.text);
    return level != kLevels.end() ? level->second : 0;
  }

  std::optional<std::int64_t> Binary(TokenStream& in, Names names, int minimum, unsigned& depth) {
    std::optional<std::int64_t> left = Unary(in, names, depth);
    while (left) {
      const int level = Precedence(in.Peek());
      if (level < minimum) {
        break;
      }
      const Token op = in.Take();
      const std::optional<std::int64_t> right = Binary(in, names, level + 1, depth);
      if (!right) {
        return std::nullopt;
      }
      left = Apply(op, *left, *right);
    }
    return left;
  }

  /// One binary operation, in 64-bit two's complement (no overflow is undefined).
  std::optional<std::int64_t> Apply(const Token& op, std::int64_t a, std::int64_t b) {
    const auto ua = static_cast<std::uint64_t>(a);
    const auto ub = static_cast<std::uint64_t>(b);
    const std::string& o = op.text;
    if (o == "/" || o == "%") {
      if (b == 0) {
        Error(op, "division by zero");
        return std::nullopt;
      }
      if (b == -1) { // INT64_MIN / -1 overflows: negate without it
        return o == "/" ? static_cast<std::int64_t>(0 - ua) : 0;
      }
      return o == "/" ? a / b : a % b;
    }
    if (o == "+" || o == "-" || o == "*") {
      return static_cast<std::int64_t>(o == "+" ? ua + ub : o == "-" ? ua - ub : ua * ub);
    }
    if (o == "<<" || o == ">>") {
      return static_cast<std::int64_t>(o == "<<" ? ua << (ub & 63) : ua >> (ub & 63));
    }
    if (o == "|" || o == "^" || o == "&") {
      return static_cast<std::int64_t>(o == "|" ? ua | ub : o == "^" ? ua ^ ub : ua & ub);
    }
    if (o == "||" || o == "&&") {
      return o == "||" ? (a != 0 || b != 0) : (a != 0 && b != 0);
    }
    if (o == "==" || o == "!=") {
      return o == "==" ? a == b : a != b;
    }
    return o == "<" ? a < b : o == ">" ? a > b : o == "<=" ? a <= b : a >= b;
  }

  std::optional<std::int64_t> Unary(TokenStream& in, Names names, unsigned& depth) {
    if (++depth > kMaxNesting) {
      Error(in.Peek(), "expression nested too deeply");
      return std::nullopt;
    }
    const Token t = in.Take();
    std::optional<std::int64_t> value;
    if (t.kind == Kind::number) {
      value = static_cast<std::int64_t>(t.value);
    } else if (t.kind == Kind::identifier) {
      if (names == Names::strict) {
        Error(t, "unknown name " + t.text);
      } else {
        value = 0;
      }
    } else if (IsPunctuator(t, "(")) {
      value = Binary(in, names, 1, depth);
      if (value && !IsPunctuator(in.Peek(), ")")) {
        Error(in.Peek(), "expected ')' but found " + Describe(in.Peek()));
        value.reset();
      } else if (value) {
        in.Take();
      }
    } else if (IsPunctuator(t, "-") || IsPunctuator(t, "+") || IsPunctuator(t, "~") ||
               IsPunctuator(t, "!")) {
      value = Unary(in, names, depth);
      if (value) {
        const auto u = static_cast<std::uint64_t>(*value);
        value = t.text == "-"   ? static_cast<std::int64_t>(0 - u)
                : t.text == "~" ? static_cast<std::int64_t>(~u)
                : t.text == "!" ? (*value == 0)
                                : *value;
      }
    } else {
      Error(t, "expected a number but found " + Describe(t));
    }
    --depth;
    return value;
  }

  Catalogue& fOut;
  const IncludeReader& fIncludes;
  std::deque<std::string> fNames; ///< file names; tokens point at them
  const std::string* fMain = nullptr;
  std::vector<Source> fSources;
  std::map<std::string, Macro> fMacros;
  std::vector<Frame> fFrames;
  Token fLookahead;
  bool fPeeked = false;
  unsigned fErrors = 0;
  std::size_t fExpanded = 0;
  std::size_t fExpandedBytes = 0;
};

// ---------------------------------------------------------------- grammar ----

/// The grammar of a catalogue: STRINGTABLE blocks and LANGUAGE statements.
class Parser {
public:
  explicit Parser(Reader& in, Catalogue& out) : fIn(in), fOut(out) {}

  void Run() {
    while (fIn.Peek().kind != Kind::end && !fIn.Stopped()) {
      const Token t = fIn.Peek();
      if (IsKeyword(t, "STRINGTABLE")) {
        StringTable();
      } else if (IsKeyword(t, "LANGUAGE")) {
        fIn.Take();
        Options(t, 2);
      } else {
        fIn.Error(t, "expected STRINGTABLE but found " + Describe(t));
        SkipLine(t);
      }
    }
    std::sort(fOut.strings.begin(), fOut.strings.end(),
              [](const StringEntry& a, const StringEntry& b) { return a.id < b.id; });
  }

private:
  /// Skips what is left of the line of `from` (after an error).
  void SkipLine(const Token& from) {
    while (fIn.Peek().kind != Kind::end && SameLine(fIn.Peek(), from)) {
      fIn.Take();
    }
  }

  /// The `count` comma-separated values of LANGUAGE, CHARACTERISTICS or VERSION. They do not
  /// matter here (the language comes from the directory), so unknown names count as 0.
  void Options(const Token& keyword, int count) {
    for (int i = 0; i < count; ++i) {
      if (i > 0) {
        if (!IsPunctuator(fIn.Peek(), ",")) {
          fIn.Error(fIn.Peek(), "expected ',' after " + keyword.text);
          SkipLine(keyword);
          return;
        }
        fIn.Take();
      }
      if (!fIn.Evaluate(fIn, Names::zero)) {
        SkipLine(keyword);
        return;
      }
    }
  }

  void StringTable() {
    const Token table = fIn.Take();
    static const char* const kMemoryFlags[] = {"DISCARDABLE", "MOVEABLE", "FIXED",
                                               "PURE",        "IMPURE",   "PRELOAD",
                                               "LOADONCALL",  "SHARED",   "NONSHARED"};
    for (;;) {
      const Token t = fIn.Peek();
      if (std::any_of(std::begin(kMemoryFlags), std::end(kMemoryFlags),
                      [&](const char* flag) { return IsKeyword(t, flag); })) {
        fIn.Take();
      } else if (IsKeyword(t, "LANGUAGE") || IsKeyword(t, "CHARACTERISTICS") ||
                 IsKeyword(t, "VERSION")) {
        fIn.Take();
        Options(t, IsKeyword(t, "LANGUAGE") ? 2 : 1);
      } else {
        break;
      }
    }
    const Token open = fIn.Take();
    if (!IsKeyword(open, "BEGIN") && !IsPunctuator(open, "{")) {
      fIn.Error(open, "expected BEGIN after STRINGTABLE but found " + Describe(open));
      SkipLine(open);
      return;
    }
    for (;;) {
      const Token t = fIn.Peek();
      if (t.kind == Kind::end || fIn.Stopped()) {
        fIn.Error(table, "STRINGTABLE without END");
        return;
      }
      if (IsKeyword(t, "END") || IsPunctuator(t, "}")) {
        fIn.Take();
        return;
      }
      Entry(t);
    }
  }

  /// `id [,] "text"`.
  void Entry(const Token& first) {
    const std::optional<std::int64_t> id = fIn.Evaluate(fIn, Names::strict);
    if (!id) {
      SkipLine(first);
      return;
    }
    if (IsPunctuator(fIn.Peek(), ",")) {
      fIn.Take();
    }
    if (fIn.Peek().kind != Kind::string) {
      fIn.Error(first, "expected a string after id " + std::to_string(*id) + " but found " +
                           Describe(fIn.Peek()));
      SkipLine(first);
      return;
    }
    const Token text = fIn.Take();
    if (*id < 0 || *id > static_cast<std::int64_t>(kMaxId)) {
      fIn.Error(first, "id " + std::to_string(*id) + " out of range (0 to 65535)");
      return;
    }
    const auto number = static_cast<std::uint32_t>(*id);
    const auto seen = fSeen.find(number);
    if (seen != fSeen.end()) {
      fIn.Error(first, "duplicate id " + std::to_string(number) + " (first at " +
                           seen->second.first + ":" + std::to_string(seen->second.second) + ")");
      return;
    }
    fSeen.emplace(number, std::make_pair(*first.file, first.line));
    if (text.string.empty()) {
      fIn.Warning(first, "id " + std::to_string(number) + " has an empty text, which reads as a " +
                             "missing message");
    } else if (text.string.size() > kMaxReadUnits) {
      fIn.Warning(first, "id " + std::to_string(number) + " has " +
                             std::to_string(text.string.size()) +
                             " UTF-16 units; it reads cut to 256 (255 when a surrogate pair " +
                             "straddles the cut)");
    }
    fOut.strings.push_back(StringEntry{number, text.string, *first.file, first.line});
  }

  Reader& fIn;
  Catalogue& fOut;
  std::map<std::uint32_t, std::pair<std::string, unsigned>> fSeen;
};

/// `value` as a C++ integer literal list: "1, 2, 3" with line breaks every 12 values.
template <class Values> std::string List(const Values& values) {
  std::string out;
  std::size_t n = 0;
  char number[16];
  for (const auto value : values) {
    std::snprintf(number, sizeof number, "0x%X", static_cast<unsigned>(value));
    out += (n == 0 ? "\n    " : n % 12 == 0 ? ",\n    " : ", ");
    out += number;
    ++n;
  }
  return n == 0 ? " 0" : out; // an empty array is not C++: one unused element
}

} // namespace

Catalogue ReadCatalogue(const std::string& path, const std::string& text,
                        const std::vector<std::pair<std::string, std::string>>& defines,
                        const IncludeReader& reader) {
  Catalogue catalogue;
  Reader in(catalogue, reader);
  // Names a catalogue may test to hide what only a Windows resource compiler understands.
  in.Define("RC_INVOKED", "1");
  in.Define("TAVRC", "1");
  for (const auto& [name, value] : defines) {
    in.Define(name, value);
  }
  in.Open(path, text, false, Token{});
  Parser(in, catalogue).Run();
  return catalogue;
}

std::string GenerateTableSource(const std::vector<StringEntry>& strings,
                                const std::string& origin) {
  std::vector<std::uint32_t> ids;
  std::vector<std::uint32_t> offsets{0};
  std::vector<char16_t> units;
  for (const StringEntry& entry : strings) {
    ids.push_back(entry.id);
    units.insert(units.end(), entry.text.begin(), entry.text.end());
    offsets.push_back(static_cast<std::uint32_t>(units.size()));
  }
  char header[64];
  std::snprintf(header, sizeof header, "0x%X, %u, %u", platform::kStringTableMagic,
                platform::kStringTableVersion, static_cast<unsigned>(ids.size()));
  std::string out;
  out += "// Generated by tavrc from " + origin + "; do not edit.\n";
  out += "// The string table of a language resource library.\n";
  out += "#include <cstdint>\n\n";
  out += "#if defined(_WIN32)\n#define TAVRC_EXPORT __declspec(dllexport)\n";
  out += "#else\n#define TAVRC_EXPORT __attribute__((visibility(\"default\")))\n#endif\n\n";
  out += "namespace {\nconst std::uint32_t kIds[] = {" + List(ids) + "};\n";
  out += "const std::uint32_t kOffsets[] = {" + List(offsets) + "};\n";
  out += "const char16_t kUnits[] = {" + List(units) + "};\n} // namespace\n\n";
  out += "extern \"C\" {\n";
  out += "struct TavutilStringTable {\n  std::uint32_t magic;\n  std::uint32_t version;\n";
  out += "  std::uint32_t count;\n  const std::uint32_t* ids;\n  const std::uint32_t* offsets;\n";
  out += "  const char16_t* units;\n};\n";
  out += std::string("TAVRC_EXPORT extern const TavutilStringTable ") +
         platform::kStringTableSymbol + ";\n";
  out += std::string("const TavutilStringTable ") + platform::kStringTableSymbol + " = {" + header +
         ", kIds, kOffsets, kUnits};\n}\n";
  return out;
}

} // namespace tavutil::tavrc
