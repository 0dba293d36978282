// tools/tavrc/preprocessor.h: the catalogue preprocessor: #define, #include, conditionals and
// the expansion of object-like macros.
// Licensed under the Apache License, Version 2.0.
//
// It hands out the tokens of the catalogue and of the files it includes, with directives
// obeyed and macros expanded. Every bound is explicit (include depth and count, expansion
// depth, tokens and bytes), so hostile input ends in diagnostics. Internal to tavrc.
#ifndef TAVUTIL_TOOLS_TAVRC_PREPROCESSOR_H
#define TAVUTIL_TOOLS_TAVRC_PREPROCESSOR_H

#include "catalogue.h"
#include "evaluator.h"
#include "lexer.h"

#include <cstddef>
#include <deque>
#include <map>
#include <string>
#include <vector>

namespace tavutil::tavrc {

/// The token stream of a whole catalogue, includes and macros resolved.
class Preprocessor : public TokenStream {
public:
  /// Reads into `out` (its files), reports to `reporter`, finds includes with `includes`.
  Preprocessor(Catalogue& out, Reporter& reporter, const IncludeReader& includes);

  /// Defines the object-like macro `name` as the tokens of `value` (a -D on the command line).
  void Define(const std::string& name, const std::string& value);
  /// Starts reading the file `path`, whose #include is `from` (a default token for the
  /// catalogue itself). A file that is no valid UTF-8 is reported and not read.
  void Open(const std::string& path, std::string text, bool directivesOnly, const Token& from);

  const Token& Peek() override;
  Token Take() override;

private:
  /// One macro being expanded: its name and the tokens still to hand out.
  struct Frame {
    std::string name;
    std::vector<Token> tokens;
    std::size_t at = 0;
  };

  const std::string* Name(const std::string& path);
  bool ValidUtf8(const std::string& text, const std::string* name);

  Token Lex();
  void Directive(Source& source);
  void ConditionalDirective(Source& source, const std::string& name, const Token& at);
  bool Defined(Source& source, const Token& at, bool ifdef);
  bool Condition(Source& source, const Token& at);
  bool ResolveDefined(std::vector<Token>& raw, const Token& at, std::vector<Token>& resolved);
  void DefineDirective(Source& source, const Token& at);
  void Include(Source& source, const Token& at);

  Token Next();
  bool Expand(const Token& token, std::vector<Frame>& frames);
  bool ExpandAll(const std::vector<Token>& in, std::vector<Token>& out);

  Catalogue& fOut;
  Reporter& fReporter;
  Lexer fLexer;
  Evaluator fEvaluator;
  const IncludeReader& fIncludes;
  std::deque<std::string> fNames; ///< file names; tokens point at them
  const std::string* fMain = nullptr;
  std::vector<Source> fSources;
  std::map<std::string, std::vector<Token>> fMacros; ///< each name's replacement tokens
  std::vector<Frame> fFrames;
  Token fLookahead;
  bool fPeeked = false;
  std::size_t fExpanded = 0;
  std::size_t fExpandedBytes = 0;
};

} // namespace tavutil::tavrc

#endif // TAVUTIL_TOOLS_TAVRC_PREPROCESSOR_H
