// tools/tavrc/lexer.h: the tokens of a catalogue, the lexer that makes them, and the reporter
// every stage of the catalogue reader gives its diagnostics to.
// Licensed under the Apache License, Version 2.0.
//
// The lexer reads one file at a time (a Source): comments, strings with their escapes,
// numbers and punctuators, never crossing a newline, so that the preprocessor sees the
// directives at line starts. Internal to tavrc.
#ifndef TAVUTIL_TOOLS_TAVRC_LEXER_H
#define TAVUTIL_TOOLS_TAVRC_LEXER_H

#include "catalogue.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tavutil::tavrc {

/// What a token is.
enum class Kind { identifier, number, string, punctuator, end };

/// One token, with the file and line it was read at (or, from a macro, used at).
struct Token {
  Kind kind = Kind::end;
  std::string text;        ///< identifier name, punctuator, or the number as written
  std::uint64_t value = 0; ///< number value
  std::u16string string;   ///< string contents
  const std::string* file = nullptr;
  unsigned line = 0;
};

/// Whether `ch` may start an identifier.
bool IsIdentifierStart(char ch) noexcept;
/// Whether `ch` may continue an identifier.
bool IsIdentifierChar(char ch) noexcept;
/// Whether `token` is the punctuator `text`.
bool IsPunctuator(const Token& token, const char* text) noexcept;
/// Whether `token` is the keyword `word` (upper case); keywords of resource scripts are
/// case-insensitive.
bool IsKeyword(const Token& token, const char* word) noexcept;
/// Whether two tokens were read on the same line of the same file.
bool SameLine(const Token& first, const Token& second) noexcept;
/// A token for a message: "name X", "number 12", "a string", "','", "the end of the file".
std::string Describe(const Token& token);

/// Collects the diagnostics of one catalogue and stops reading after too many errors.
class Reporter {
public:
  /// Reports into `diagnostics`.
  explicit Reporter(std::vector<Diagnostic>& diagnostics) : fDiagnostics(diagnostics) {}

  /// Reports an error at the place of `at`; nothing once reading has stopped.
  void Error(const Token& at, std::string text);
  /// Reports a warning at the place of `at`; nothing once reading has stopped.
  void Warning(const Token& at, std::string text);
  /// Reports an error after which reading stops.
  void Fatal(const Token& at, std::string text);
  /// Whether reading has stopped (after 50 errors, or a fatal one).
  bool Stopped() const noexcept;
  /// The errors counted so far.
  unsigned Errors() const noexcept { return fErrors; }

private:
  void Report(const Token& at, bool error, std::string text);

  std::vector<Diagnostic>& fDiagnostics;
  unsigned fErrors = 0;
};

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

/// Turns the text of a Source into tokens, reporting what it cannot read.
class Lexer {
public:
  /// A lexer that reports to `reporter`.
  explicit Lexer(Reporter& reporter) : fReporter(reporter) {}

  /// An end token at the current place of `source`.
  static Token At(const Source& source);
  /// The identifier characters at the position of `source`, which moves past them.
  static std::string TakeName(Source& source);

  /// Skips blanks and comments; stops at a newline when `stopAtNewline`. Comments that span
  /// lines count their lines.
  void SkipBlanks(Source& source, bool stopAtNewline);
  /// Skips the rest of a line that is not read (a skipped group or a header's code): comments
  /// and quoted text are passed over so that neither hides or fakes a directive.
  void SkipLine(Source& source);
  /// One token from `source`, not crossing a newline (the end token at a newline or the end).
  /// A stray character is reported and passed over.
  Token LexToken(Source& source);
  /// The tokens from the current position to the end of the line (the newline is left).
  std::vector<Token> LineTokens(Source& source);

private:
  Token LexOne(Source& source);
  void LexPunctuator(Source& source, Token& token);
  void LexNumber(Source& source, Token& token);
  void LexString(Source& source, Token& token);
  void LexEscape(Source& source, Token& token);

  Reporter& fReporter;
};

} // namespace tavutil::tavrc

#endif // TAVUTIL_TOOLS_TAVRC_LEXER_H
