// tools/tavrc/preprocessor.cpp: #define, #include, conditionals and macro expansion.
// Licensed under the Apache License, Version 2.0.
#include "preprocessor.h"

#include "internal/unicode.h"

#include <algorithm>
#include <optional>
#include <set>
#include <utility>

namespace tavutil::tavrc {

namespace {

constexpr unsigned kMaxIncludeDepth = 16;
constexpr unsigned kMaxExpansionDepth = 64;
constexpr unsigned kMaxFiles = 256;           ///< files read, the catalogue included
constexpr std::size_t kMaxExpanded = 1000000; ///< tokens that macro expansion may produce

} // namespace

Preprocessor::Preprocessor(Catalogue& out, Reporter& reporter, const IncludeReader& includes)
    : fOut(out), fReporter(reporter), fLexer(reporter), fEvaluator(reporter), fIncludes(includes) {}

void Preprocessor::Define(const std::string& name, const std::string& value) {
  static const std::string kCommandLine = "<command line>";
  Source source{&kCommandLine, value, 0, 1, false, false, {}};
  fMacros[name] = fLexer.LineTokens(source);
}

void Preprocessor::Open(const std::string& path, std::string text, bool directivesOnly,
                        const Token& from) {
  fOut.files.push_back(path);
  const std::string* name = Name(path);
  if (fMain == nullptr) {
    fMain = name;
  }
  if (!ValidUtf8(text, name)) {
    return;
  }
  if (fSources.size() >= kMaxIncludeDepth) {
    fReporter.Error(from, "#include nested more than 16 deep");
    return;
  }
  if (fOut.files.size() > kMaxFiles) {
    fReporter.Fatal(from, "more than 256 files included");
    return;
  }
  std::size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0; // a byte order mark
  fSources.push_back(Source{name, std::move(text), start, 1, true, directivesOnly, {}});
}

const Token& Preprocessor::Peek() {
  if (!fPeeked) {
    fLookahead = Next();
    fPeeked = true;
  }
  return fLookahead;
}

Token Preprocessor::Take() {
  Peek();
  fPeeked = false;
  return std::move(fLookahead);
}

const std::string* Preprocessor::Name(const std::string& path) {
  fNames.push_back(path);
  return &fNames.back();
}

bool Preprocessor::ValidUtf8(const std::string& text, const std::string* name) {
  for (std::size_t pos = 0; pos < text.size();) {
    char32_t code = 0;
    const std::size_t start = pos;
    if (!tavutil::detail::DecodeUtf8(text.data(), text.size(), pos, code)) {
      Token at;
      at.file = name;
      const auto end = text.begin() + static_cast<std::ptrdiff_t>(start);
      at.line = 1 + static_cast<unsigned>(std::count(text.begin(), end, '\n'));
      fReporter.Error(at, "invalid UTF-8");
      return false;
    }
  }
  return true;
}

// -------------------------------------------------------------- directives ----

/// Next raw token of the current file, directives obeyed; the end token when every file
/// is read.
Token Preprocessor::Lex() {
  while (!fSources.empty() && !fReporter.Stopped()) {
    Source& source = fSources.back();
    fLexer.SkipBlanks(source, false);
    if (source.AtEnd()) {
      for (const Conditional& open : source.conditionals) {
        Token at = Lexer::At(source);
        at.line = open.line;
        fReporter.Error(at, "#if without #endif");
      }
      fSources.pop_back();
      continue;
    }
    if (source.atLineStart && source.Peek() == '#') {
      ++source.pos;
      Directive(source);
      continue; // the directive may have opened an include: fSources may have grown
    }
    source.atLineStart = false;
    if (source.Skipping() || source.directivesOnly) {
      fLexer.SkipLine(source);
      continue;
    }
    Token token = fLexer.LexToken(source);
    if (token.kind != Kind::end) {
      return token;
    }
  }
  Token end;
  end.file = fMain;
  return end;
}

/// One directive, its `#` already read; the rest of its line is passed over.
void Preprocessor::Directive(Source& source) {
  fLexer.SkipBlanks(source, true);
  const Token at = Lexer::At(source);
  const std::string name = Lexer::TakeName(source);
  if (name == "if" || name == "ifdef" || name == "ifndef" || name == "elif" || name == "else" ||
      name == "endif") {
    ConditionalDirective(source, name, at);
  } else if (source.Skipping() || name == "pragma" || name == "line" || name.empty()) {
    // Nothing to do: a skipped group, or what does not change the strings.
  } else if (name == "define") {
    DefineDirective(source, at);
  } else if (name == "undef") {
    std::vector<Token> tokens = fLexer.LineTokens(source);
    if (tokens.size() != 1 || tokens[0].kind != Kind::identifier) {
      fReporter.Error(at, "#undef needs one name");
    } else {
      fMacros.erase(tokens[0].text);
    }
  } else if (name == "include") {
    Include(source, at);
    return;
  } else if (name == "error") {
    std::size_t end = source.text.find('\n', source.pos);
    end = end == std::string::npos ? source.text.size() : end;
    fReporter.Error(at, "#error" + source.text.substr(source.pos, end - source.pos));
  } else {
    fReporter.Error(at, "unknown directive #" + name);
  }
  fLexer.SkipLine(source);
}

/// #if, #ifdef, #ifndef, #elif, #else or #endif: opens, switches or closes a group.
void Preprocessor::ConditionalDirective(Source& source, const std::string& name, const Token& at) {
  const bool skipping = source.Skipping();
  if (name == "if" || name == "ifdef" || name == "ifndef") {
    bool value = false;
    if (!skipping) {
      value = name == "if" ? Condition(source, at) : Defined(source, at, name == "ifdef");
    }
    source.conditionals.push_back(
        Conditional{at.line, !skipping && value, value, false, !skipping});
  } else if (name == "elif" || name == "else") {
    if (source.conditionals.empty() || source.conditionals.back().sawElse) {
      fReporter.Error(at,
                      "#" + name + (source.conditionals.empty() ? " without #if" : " after #else"));
      return;
    }
    Conditional& open = source.conditionals.back();
    bool value = !open.taken && open.enclosing;
    if (value && name == "elif") {
      value = Condition(source, at);
    }
    open.sawElse = name == "else";
    open.active = value;
    open.taken = open.taken || value;
  } else if (source.conditionals.empty()) {
    fReporter.Error(at, "#endif without #if");
  } else {
    source.conditionals.pop_back();
  }
}

bool Preprocessor::Defined(Source& source, const Token& at, bool ifdef) {
  std::vector<Token> tokens = fLexer.LineTokens(source);
  if (tokens.size() != 1 || tokens[0].kind != Kind::identifier) {
    fReporter.Error(at, std::string(ifdef ? "#ifdef" : "#ifndef") + " needs one name");
    return false;
  }
  return (fMacros.count(tokens[0].text) != 0) == ifdef;
}

/// Evaluates the rest of an #if or #elif line: `defined` first, then the macros.
bool Preprocessor::Condition(Source& source, const Token& at) {
  std::vector<Token> raw = fLexer.LineTokens(source);
  std::vector<Token> resolved;
  if (!ResolveDefined(raw, at, resolved)) {
    return false;
  }
  std::vector<Token> expanded;
  if (!ExpandAll(resolved, expanded)) {
    return false;
  }
  VectorStream in(std::move(expanded), at);
  if (in.AtEnd()) {
    fReporter.Error(at, "#if needs an expression");
    return false;
  }
  const std::optional<std::int64_t> value = fEvaluator.Evaluate(in, Names::zero);
  if (value && !in.AtEnd()) {
    fReporter.Error(in.Peek(), "unexpected " + Describe(in.Peek()) + " in #if");
    return false;
  }
  return value.value_or(0) != 0;
}

/// Moves the tokens of `raw` to `resolved`, each `defined NAME` or `defined(NAME)` replaced by
/// the number 1 or 0. False, after an error, when a `defined` has no name.
bool Preprocessor::ResolveDefined(std::vector<Token>& raw, const Token& at,
                                  std::vector<Token>& resolved) {
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i].kind != Kind::identifier || raw[i].text != "defined") {
      resolved.push_back(std::move(raw[i]));
      continue;
    }
    const bool parenthesised = i + 1 < raw.size() && IsPunctuator(raw[i + 1], "(");
    const std::size_t nameAt = i + (parenthesised ? 2 : 1);
    if (nameAt >= raw.size() || raw[nameAt].kind != Kind::identifier ||
        (parenthesised && (nameAt + 1 >= raw.size() || !IsPunctuator(raw[nameAt + 1], ")")))) {
      fReporter.Error(at, "defined needs a name");
      return false;
    }
    Token value = raw[i];
    value.kind = Kind::number;
    value.value = fMacros.count(raw[nameAt].text);
    resolved.push_back(std::move(value));
    i = nameAt + (parenthesised ? 1 : 0);
  }
  return true;
}

void Preprocessor::DefineDirective(Source& source, const Token& at) {
  fLexer.SkipBlanks(source, true);
  const std::string name = Lexer::TakeName(source);
  if (name.empty() || !IsIdentifierStart(name[0])) {
    fReporter.Error(at, "#define needs a name");
    return;
  }
  if (source.Peek() == '(') {
    return; // a function-like macro: it gives no id, so it is not kept
  }
  fMacros[name] = fLexer.LineTokens(source);
}

void Preprocessor::Include(Source& source, const Token& at) {
  fLexer.SkipBlanks(source, true);
  const char open = source.Peek();
  const char close = open == '<' ? '>' : '"';
  std::size_t end = std::string::npos;
  if (open == '"' || open == '<') {
    end = source.text.find_first_of(std::string(1, close) + "\n", source.pos + 1);
  }
  if (end == std::string::npos || source.text[end] != close) {
    fReporter.Error(at, "#include needs a \"file\" or <file>");
    fLexer.SkipLine(source);
    return;
  }
  const std::string name = source.text.substr(source.pos + 1, end - source.pos - 1);
  source.pos = end + 1;
  fLexer.SkipLine(source);
  std::string path;
  std::string contents;
  bool found = false;
  try {
    found = fIncludes && fIncludes(name, *source.path, path, contents);
  } catch (const IncludeError& failure) {
    fReporter.Error(at, "cannot read include file " + name + ": " + failure.what());
    return;
  }
  if (!found) {
    fReporter.Error(at, "cannot open include file " + name);
    return;
  }
  // As resource compilers do, a C or C++ header contributes its directives only.
  const std::size_t dot = path.find_last_of('.');
  const std::string extension = dot == std::string::npos ? "" : path.substr(dot);
  static const std::set<std::string> kHeaders = {".h", ".hh", ".hpp", ".hxx", ".c", ".cpp"};
  Open(path, std::move(contents), kHeaders.count(extension) != 0, at);
}

// --------------------------------------------------------------- expansion ----

/// The next token with macros expanded: a name defined by #define is replaced by its
/// tokens (reported at the place of use), except inside its own expansion.
Token Preprocessor::Next() {
  for (;;) {
    Token token;
    if (!fFrames.empty()) {
      Frame& frame = fFrames.back();
      if (frame.at == frame.tokens.size()) {
        fFrames.pop_back();
        continue;
      }
      token = frame.tokens[frame.at++];
    } else {
      token = Lex();
    }
    if (!Expand(token, fFrames)) {
      return token;
    }
  }
}

/// Pushes the expansion of `token` when it names a macro not being expanded; false otherwise.
bool Preprocessor::Expand(const Token& token, std::vector<Frame>& frames) {
  if (token.kind != Kind::identifier) {
    return false;
  }
  const auto macro = fMacros.find(token.text);
  if (macro == fMacros.end() || std::any_of(frames.begin(), frames.end(), [&](const Frame& frame) {
        return frame.name == token.text;
      })) {
    return false;
  }
  if (frames.size() >= kMaxExpansionDepth) {
    fReporter.Error(token, "macros nested more than 64 deep in " + token.text);
    return false;
  }
  fExpanded += macro->second.size();
  if (fExpanded > kMaxExpanded) { // chains like A0 -> A1 A1 -> A2 A2 A2 A2 grow exponentially
    fReporter.Fatal(token, "macro expansion gives more than a million tokens");
    return false;
  }
  // A few tokens may be long strings: the text they copy is bounded as well.
  for (const Token& replacement : macro->second) {
    fExpandedBytes += replacement.text.size() + replacement.string.size() * sizeof(char16_t);
  }
  if (fExpandedBytes > kMaxExpandedBytes) {
    fReporter.Fatal(token, "macro expansion gives more than 32 MiB");
    return false;
  }
  Frame frame{token.text, macro->second, 0};
  for (Token& replacement : frame.tokens) {
    replacement.file = token.file;
    replacement.line = token.line;
  }
  frames.push_back(std::move(frame));
  return true;
}

/// Expands every macro of `in` into `out`; false when the expansion reported an error.
bool Preprocessor::ExpandAll(const std::vector<Token>& in, std::vector<Token>& out) {
  std::vector<Frame> frames{Frame{std::string(), in, 0}};
  while (!frames.empty()) {
    Frame& frame = frames.back();
    if (frame.at == frame.tokens.size()) {
      frames.pop_back();
      continue;
    }
    Token token = frame.tokens[frame.at++];
    const unsigned errors = fReporter.Errors();
    if (!Expand(token, frames)) {
      if (fReporter.Errors() != errors) {
        return false;
      }
      out.push_back(std::move(token));
    }
  }
  return true;
}

} // namespace tavutil::tavrc
