// tools/tavrc/evaluator.cpp: the integer expressions of a catalogue.
// Licensed under the Apache License, Version 2.0.
#include "evaluator.h"

#include <map>
#include <string>
#include <utility>

namespace tavutil::tavrc {

namespace {

constexpr unsigned kMaxNesting = 256; ///< parentheses and unary operators in one expression

/// The binding strength of a binary operator; 0 for any other token.
int Precedence(const Token& token) {
  if (token.kind != Kind::punctuator) {
    return 0;
  }
  static const std::map<std::string, int> kLevels = {
      {"||", 1}, {"&&", 2}, {"|", 3}, {"^", 4},  {"&", 5},  {"==", 6},
      {"!=", 6}, {"<", 7},  {">", 7}, {"<=", 7}, {">=", 7}, {"<<", 8},
      {">>", 8}, {"+", 9},  {"-", 9}, {"*", 10}, {"/", 10}, {"%", 10}};
  const auto level = kLevels.find(token.text);
  return level != kLevels.end() ? level->second : 0;
}

} // namespace

VectorStream::VectorStream(std::vector<Token> tokens, const Token& end)
    : fTokens(std::move(tokens)), fEnd(end) {
  fEnd.kind = Kind::end;
}

std::optional<std::int64_t> Evaluator::Evaluate(TokenStream& in, Names names) {
  unsigned depth = 0;
  return Binary(in, names, 1, depth);
}

std::optional<std::int64_t> Evaluator::Binary(TokenStream& in, Names names, int minimum,
                                              unsigned& depth) {
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
std::optional<std::int64_t> Evaluator::Apply(const Token& op, std::int64_t left,
                                             std::int64_t right) {
  const auto uleft = static_cast<std::uint64_t>(left);
  const auto uright = static_cast<std::uint64_t>(right);
  const std::string& name = op.text;
  if (name == "/" || name == "%") {
    if (right == 0) {
      fReporter.Error(op, "division by zero");
      return std::nullopt;
    }
    if (right == -1) { // INT64_MIN / -1 overflows: negate without it
      return name == "/" ? static_cast<std::int64_t>(0 - uleft) : 0;
    }
    return name == "/" ? left / right : left % right;
  }
  if (name == "+" || name == "-" || name == "*") {
    return static_cast<std::int64_t>(name == "+"   ? uleft + uright
                                     : name == "-" ? uleft - uright
                                                   : uleft * uright);
  }
  if (name == "<<" || name == ">>") {
    return static_cast<std::int64_t>(name == "<<" ? uleft << (uright & 63)
                                                  : uleft >> (uright & 63));
  }
  if (name == "|" || name == "^" || name == "&") {
    return static_cast<std::int64_t>(name == "|"   ? uleft | uright
                                     : name == "^" ? uleft ^ uright
                                                   : uleft & uright);
  }
  if (name == "||" || name == "&&") {
    return name == "||" ? (left != 0 || right != 0) : (left != 0 && right != 0);
  }
  if (name == "==" || name == "!=") {
    return name == "==" ? left == right : left != right;
  }
  return name == "<"    ? left < right
         : name == ">"  ? left > right
         : name == "<=" ? left <= right
                        : left >= right;
}

std::optional<std::int64_t> Evaluator::Unary(TokenStream& in, Names names, unsigned& depth) {
  if (++depth > kMaxNesting) {
    fReporter.Error(in.Peek(), "expression nested too deeply");
    return std::nullopt;
  }
  const Token token = in.Take();
  std::optional<std::int64_t> value;
  if (token.kind == Kind::number) {
    value = static_cast<std::int64_t>(token.value);
  } else if (token.kind == Kind::identifier) {
    if (names == Names::strict) {
      fReporter.Error(token, "unknown name " + token.text);
    } else {
      value = 0;
    }
  } else if (IsPunctuator(token, "(")) {
    value = Binary(in, names, 1, depth);
    if (value && !IsPunctuator(in.Peek(), ")")) {
      fReporter.Error(in.Peek(), "expected ')' but found " + Describe(in.Peek()));
      value.reset();
    } else if (value) {
      in.Take();
    }
  } else if (IsPunctuator(token, "-") || IsPunctuator(token, "+") || IsPunctuator(token, "~") ||
             IsPunctuator(token, "!")) {
    value = Unary(in, names, depth);
    if (value) {
      const auto bits = static_cast<std::uint64_t>(*value);
      value = token.text == "-"   ? static_cast<std::int64_t>(0 - bits)
              : token.text == "~" ? static_cast<std::int64_t>(~bits)
              : token.text == "!" ? (*value == 0)
                                  : *value;
    }
  } else {
    fReporter.Error(token, "expected a number but found " + Describe(token));
  }
  --depth;
  return value;
}

} // namespace tavutil::tavrc
