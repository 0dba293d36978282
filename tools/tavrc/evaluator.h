// tools/tavrc/evaluator.h: the integer expressions of a catalogue (#if conditions, string ids,
// LANGUAGE values) and the token streams they are read from.
// Licensed under the Apache License, Version 2.0.
//
// C's operators on 64-bit two's complement values, nothing undefined; internal to tavrc.
#ifndef TAVUTIL_TOOLS_TAVRC_EVALUATOR_H
#define TAVUTIL_TOOLS_TAVRC_EVALUATOR_H

#include "lexer.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace tavutil::tavrc {

/// Something expressions read tokens from.
class TokenStream {
public:
  virtual ~TokenStream() = default;
  /// The next token, left in the stream.
  virtual const Token& Peek() = 0;
  /// The next token, taken from the stream.
  virtual Token Take() = 0;
};

/// The tokens of one directive line, already expanded.
class VectorStream : public TokenStream {
public:
  /// Gives `tokens`, then end tokens at the place of `end`.
  VectorStream(std::vector<Token> tokens, const Token& end);
  const Token& Peek() override { return fAt < fTokens.size() ? fTokens[fAt] : fEnd; }
  Token Take() override { return fAt < fTokens.size() ? fTokens[fAt++] : fEnd; }
  /// Whether every token has been taken.
  bool AtEnd() const { return fAt >= fTokens.size(); }

private:
  std::vector<Token> fTokens;
  std::size_t fAt = 0;
  Token fEnd;
};

/// How an expression treats a name that no #define gave a value.
enum class Names { strict, zero };

/// Evaluates expressions by precedence climbing, nested at most 256 deep.
class Evaluator {
public:
  /// An evaluator that reports to `reporter`.
  explicit Evaluator(Reporter& reporter) : fReporter(reporter) {}

  /// Evaluates one expression from `in`, leaving what follows it; nullopt after an error
  /// (already reported).
  std::optional<std::int64_t> Evaluate(TokenStream& in, Names names);

private:
  std::optional<std::int64_t> Binary(TokenStream& in, Names names, int minimum, unsigned& depth);
  std::optional<std::int64_t> Apply(const Token& op, std::int64_t left, std::int64_t right);
  std::optional<std::int64_t> Unary(TokenStream& in, Names names, unsigned& depth);

  Reporter& fReporter;
};

} // namespace tavutil::tavrc

#endif // TAVUTIL_TOOLS_TAVRC_EVALUATOR_H
