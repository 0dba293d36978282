// tests/tagvar_arith_test.cpp: TagVar operators, driven by tables of type pairs and values.
// Licensed under the Apache License, Version 2.0.
#include <tavutil/tagvar.h>

#include "library_error.h"
#include "tagvar_describe.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr unsigned kAllOnes = 0xFFFFFFFFu;
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInfinity = std::numeric_limits<double>::infinity();

// The twelve kinds of value the tables range over, one letter each: nil, endOfArgs, integer,
// unsignedInteger, real, string, wideString, date, time, datetime (X), voidptr, unknown tag.
constexpr char kLetters[] = "NEIURSWDTXV?";
constexpr int kKinds = 12;

int gTarget = 0;

/// Representative values of each kind, in the order of kLetters (made in place: an unknown tag
/// cannot be copied).
TagVar (*const kMake[kKinds])() = {
    [] { return TagVar(); },
    [] { return TagVar(TagVar::endOfArgs); },
    [] { return TagVar(6); },
    [] { return TagVar(3u); },
    [] { return TagVar(1.5); },
    [] { return TagVar("ab"); },
    [] { return TagVar(TAVUTIL_WTEXT("cd")); },
    [] { return TagVar(TDate()); },
    [] { return TagVar(TTime()); },
    [] { return TagVar(TDateTime(100, 0)); },
    [] { return TagVar(TagVarVoidPtr(&gTarget)); },
    [] { return TagVar(static_cast<TagVar::Type>(11)); },
};

std::string Letter(const TagVar& v) {
  const auto tag = static_cast<unsigned>(v.QueryType());
  return std::string(1, tag < 11 ? kLetters[tag] : '?');
}

/// The lines of "unknown type", "not implemented" and "type mismatch" of one operator.
struct Lines {
  unsigned long unknown, notImplemented, mismatch;
};

// Result tables. Rows: left kind; columns: right kind, both in the order of kLetters. A cell is
// a result letter (a tag, or 0/1 for the integer results of comparisons), or m / n / u for
// "type mismatch" / "not implemented" / "unknown type", after which the left value must be
// unchanged.
using Table = const char* const[kKinds];
// clang-format off
Table kAdd = {"mmmmmmmmmmmm", "mmmmmmmmmmmm",
              "mmIIRmmnnnmu", "mmIURmmmmmmu", "mmRRRmmmmmmu",
              "mmmmmSSmmmmu", "mmmmmWWmmmmu",
              "nnnnnnnnnnnn", "nnnnnnnnnnnn", "nnnnnnnnnnnn",
              "mmmmmmmmmmmm", "uuuuuuuuuuuu"};
Table kSubtract = {"mmmmmmmmmmmm", "mmmmmmmmmmmm",
                   "mmIIRmmmmmmu", "mmIURmmmmmmu", "mmRRRmmmmmmu",
                   "mmmmmmmmmmmm", "mmmmmmmmmmmm",
                   "nnnnnnnnnnnn", "nnnnnnnnnnnn", "nnnnnnnnnnnn",
                   "mmmmmmmmmmmm", "uuuuuuuuuuuu"};
Table kMultiplyDivide = {"mmmmmmmmmmmm", "mmmmmmmmmmmm",
                   "mmIIRmmmmmmu", "mmIURmmmmmmu", "mmRRRmmmmmmu",
                   "mmmmmmmmmmmm", "mmmmmmmmmmmm",
                   "mmmmmmmmmmmm", "mmmmmmmmmmmm", "mmmmmmmmmmmm",
                   "mmmmmmmmmmmm", "uuuuuuuuuuuu"};
Table kRemainder = {"mmmmmmmmmmmm", "mmmmmmmmmmmm",
                    "mmIImmmmmmmu", "mmIUmmmmmmmu", "mmmmmmmmmmmm",
                    "mmmmmmmmmmmm", "mmmmmmmmmmmm",
                    "mmmmmmmmmmmm", "mmmmmmmmmmmm", "mmmmmmmmmmmm",
                    "mmmmmmmmmmmm", "uuuuuuuuuuuu"};
Table kBitwise = {"mmmmmmmmmmmm", "mmmmmmmmmmmm",
                  "mmIImmmmmmmu", "mmUUmmmmmmmu", "mmmmmmmmmmmm",
                  "mmmmmSSmmmmu", "mmmmmWWmmmmu",
                  "mmmmmmmmmmmm", "mmmmmmmmmmmm", "mmmmmmmmmmmm",
                  "mmmmmmmmmmmm", "uuuuuuuuuuuu"};
Table kShift = {"mmmmmmmmmmmm", "mmmmmmmmmmmm",
                "mmIIImmmmmmu", "mmUUUmmmmmmu", "mmIIImmmmmmu",
                "mmmmmmmmmmmm", "mmmmmmmmmmmm",
                "mmmmmmmmmmmm", "mmmmmmmmmmmm", "mmmmmmmmmmmm",
                "mmmmmmmmmmmm", "uuuuuuuuuuuu"};
// Results with the representative values: 6, 3u, 1.5, "ab", u"cd", datetime 100.
Table kEqual = {"1mmmmmmmmmmu", "m1mmmmmmmmmu",
                "mm100mmmmmmu", "mm010mmmmmmu", "mm001mmmmmmu",
                "mmmmm10mmmmu", "mmmmm01mmmmu",
                "nnnnnnnnnnnn", "nnnnnnnnnnnn", "mmmmmmmmm1mu",
                "mmmmmmmmmmmm", "uuuuuuuuuuuu"};
Table kLess = {"0mmmmmmmmmmu", "m0mmmmmmmmmu",
               "mm000mmmmmmu", "mm100mmmmmmu", "mm110mmmmmmu",
               "mmmmm01mmmmu", "mmmmm00mmmmu",
               "nnnnnnnnnnnn", "nnnnnnnnnnnn", "mmmmmmmmm0mu",
               "mmmmmmmmmmmm", "uuuuuuuuuuuu"};
Table kLogical = {"mmmmmmmmmmmm", "mmmmmmmmmmmm",
                  "mm111mmmmmmu", "mm111mmmmmmu", "mm111mmmmmmu",
                  "mmmmmmmmmmmm", "mmmmmmmmmmmm",
                  "mmmmmmmmmmmm", "mmmmmmmmmmmm", "mmmmmmmmmmmm",
                  "mmmmmmmmmmmm", "uuuuuuuuuuuu"};
// clang-format on

/// An operator applied to a left value (changed in place) and a right value, with its lines
/// and result table. Compound assignments give the left value afterwards, the others their
/// result as an integer.
struct Operator {
  const char* name;
  std::function<TagVar(TagVar&, const TagVar&)> apply;
  Lines lines;
  const char* const* table;
};

const std::vector<Operator>& Operators() {
  static const std::vector<Operator> operators = {
      {"+=", [](TagVar& l, const TagVar& r) { return l += r; }, {240, 251, 258}, kAdd},
      {"-=", [](TagVar& l, const TagVar& r) { return l -= r; }, {318, 329, 336}, kSubtract},
      {"*=", [](TagVar& l, const TagVar& r) { return l *= r; }, {396, 0, 414}, kMultiplyDivide},
      {"/=", [](TagVar& l, const TagVar& r) { return l /= r; }, {474, 0, 492}, kMultiplyDivide},
      {"%=", [](TagVar& l, const TagVar& r) { return l %= r; }, {552, 0, 570}, kRemainder},
      {"|=", [](TagVar& l, const TagVar& r) { return l |= r; }, {630, 0, 648}, kBitwise},
      {"&=", [](TagVar& l, const TagVar& r) { return l &= r; }, {708, 0, 726}, kBitwise},
      {"^=", [](TagVar& l, const TagVar& r) { return l ^= r; }, {786, 0, 804}, kBitwise},
      {"<<=", [](TagVar& l, const TagVar& r) { return l <<= r; }, {864, 0, 882}, kShift},
      {">>=", [](TagVar& l, const TagVar& r) { return l >>= r; }, {942, 0, 960}, kShift},
      {"==",
       [](TagVar& l, const TagVar& r) { return TagVar(l.IsEqual(r)); },
       {1020, 1031, 1038},
       kEqual},
      {"<",
       [](TagVar& l, const TagVar& r) { return TagVar(l.IsLessThan(r)); },
       {1098, 1109, 1116},
       kLess},
      {"&&",
       [](TagVar& l, const TagVar& r) { return TagVar(l.LogicalAnd(r)); },
       {1176, 0, 1194},
       kLogical},
      {"||",
       [](TagVar& l, const TagVar& r) { return TagVar(l.LogicalOr(r)); },
       {1254, 0, 1272},
       kLogical},
  };
  return operators;
}

const Operator& Find(const std::string& name) {
  for (const Operator& op : Operators()) {
    if (name == op.name) {
      return op;
    }
  }
  throw std::logic_error("no operator " + name);
}

/// Checks one cell of `op`'s table (see Table).
void ExpectCell(const Operator& op, int left, int right, char expected) {
  SCOPED_TRACE(std::string(1, kLetters[left]) + " " + op.name + " " + kLetters[right]);
  TagVar l = kMake[left]();
  const TagVar r = kMake[right]();
  const std::string before = Describe(l);
  const auto error = [&](const char* text, unsigned long id, int recoverable, unsigned long line) {
    ExpectRaises([&] { op.apply(l, r); },
                 {"TInvalidRequest", text, id, recoverable, "utility/TAGVAR", line});
    EXPECT_EQ(Describe(l), before);
  };
  switch (expected) {
  case 'm':
    error("type mismatch", 2, 1, op.lines.mismatch);
    break;
  case 'n':
    error("not implemented", 1, 0, op.lines.notImplemented);
    break;
  case 'u':
    error("unknown type", 3, 0, op.lines.unknown);
    break;
  case '0':
  case '1':
    EXPECT_EQ(Describe(op.apply(l, r)), Describe(TagVar(expected - '0')));
    break;
  default:
    EXPECT_EQ(Letter(op.apply(l, r)), std::string(1, expected));
    break;
  }
}

TEST(TagVarOperators, EveryTypePairGivesItsTableResultOrError) {
  for (const Operator& op : Operators()) {
    for (int left = 0; left < kKinds; ++left) {
      for (int right = 0; right < kKinds; ++right) {
        ExpectCell(op, left, right, op.table[left][right]);
      }
    }
  }
}

/// One computation: left, operator, right, and the expected result (see Operator).
struct Case {
  TagVar left;
  const char* op;
  TagVar right;
  TagVar expected;
};

void ExpectCases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    TagVar left = c.left;
    SCOPED_TRACE(Describe(c.left) + " " + c.op + " " + Describe(c.right));
    EXPECT_EQ(Describe(Find(c.op).apply(left, c.right)), Describe(c.expected));
  }
}

TEST(TagVarOperators, IntegerArithmeticWrapsAndMixesTagsByTheTable) {
  ExpectCases({
      {5, "+=", 2.5, 7.5},
      {5u, "+=", -1, 4},
      {kMax, "+=", 1, kMin},
      {kAllOnes, "+=", 1u, 0u},
      {1.0, "+=", kAllOnes, 4294967296.0}, // an unsigned integer reads as unsigned
      {kAllOnes, "+=", 0.5, 4294967295.5},
      {-1, "+=", 0.5, -0.5},
      {kMin, "-=", 1, kMax},
      {0u, "-=", 1u, kAllOnes},
      {3u, "-=", 5, -2},
      {2.5, "-=", 1, 1.5},
      {65536, "*=", 65536, 0},
      {0x10000, "*=", 0x8000, kMin},
      {-3, "*=", 4u, -12},
      {kAllOnes, "*=", kAllOnes, 1u},
      {1.5, "*=", 2, 3.0},
  });
}

TEST(TagVarOperators, DivisionAndRemainderAreDefinedForEveryDivisor) {
  ExpectCases({
      {-7, "/=", 2, -3},
      {7u, "/=", 2, 3},           // unsigned division, tagged integer
      {-7, "/=", 2u, 2147483644}, // unsigned division, the left tag stays
      {kAllOnes, "/=", 2u, 2147483647u},
      {kAllOnes, "/=", -1, 1}, // -1 read unsigned on both sides
      {kMin, "/=", -1, kMin},
      {5, "/=", 0, 0},
      {5u, "/=", 0u, 0u},
      {5, "/=", 0u, 0},
      {7, "/=", 2.0, 3.5},
      {1.0, "/=", 0, kInfinity},
      {-1, "/=", 0.0, -kInfinity},
      {-7, "%=", 2, -1},
      {7, "%=", -2, 1},
      {kMin, "%=", -1, 0},
      {5, "%=", 0, 5},
      {-5, "%=", 0, -5},
      {9u, "%=", 0u, 9u},
      {-7, "%=", 2u, 1},
      {7u, "%=", 2, 1},
      {7u, "%=", 2u, 1u},
  });
  TagVar nan(0.0);
  nan /= TagVar(0.0);
  EXPECT_TRUE(std::isnan(static_cast<double>(nan)));
}

TEST(TagVarOperators, BitwiseAndShiftsTakeCountsModulo32) {
  ExpectCases({
      {0xF0, "|=", 0x0F, 0xFF},
      {-1, "&=", 0xFFu, 255},
      {5u, "^=", -1, 4294967290u},
      {7.9, "<<=", 1, 14},
      {1, "<<=", 31, kMin},
      {1, "<<=", 32, 1},
      {1, "<<=", 33, 2},
      {1, "<<=", -1, kMin},
      {0x40000000, "<<=", 2u, 0},
      {1u, "<<=", 31, 0x80000000u},
      {-8, ">>=", 1, -4},
      {-1, ">>=", 31, -1},
      {kMin, ">>=", 33, -1073741824},
      {0x80000000u, ">>=", 31, 1u},
      {0x80000000u, ">>=", 1.9, 0x40000000u},
      {-7.5, ">>=", 1, -4},
      {3, "<<=", kNaN, 3},
      {1, "<<=", 1e20, kMin}, // the count saturates to 2^31 - 1, which is 31 modulo 32
  });
}

TEST(TagVarOperators, RealsOutsideTheIntegerRangeSaturate) {
  ExpectCases({
      {1e20, ">>=", 0, kMax},
      {-1e20, ">>=", 0, kMin},
      {2147483647.9, ">>=", 0, kMax},
      {-2147483648.9, ">>=", 0, kMin},
      {kInfinity, ">>=", 0, kMax},
      {kNaN, ">>=", 0, 0},
      {kNaN, "&&", 1, 0},
      {1e300, "&&", -1, 1},
      {0.9, "&&", 1, 0}, // a real counts by its truncated value
      {0.9, "||", 0, 0},
      {-0.5, "||", 2u, 1},
  });
}

TEST(TagVarOperators, ComparisonsOrderByKind) {
  const TagVar nullString(TagVar::string);
  const TagVar noBuffer(static_cast<const char*>(nullptr)); // a string without buffer
  ExpectCases({
      {-1, "==", kAllOnes, 1},
      {kAllOnes, "<", 0, 1}, // unsigned against integer compares signed
      {-1, "<", 0u, 1},
      {0u, "<", kAllOnes, 1}, // two unsigned integers compare unsigned
      {kAllOnes, "==", 4294967295.0, 1},
      {-1, "==", 4294967295.0, 0},
      {-1, "<", 0.5, 1},
      {kNaN, "==", kNaN, 0},
      {nullString, "==", nullString, 1},
      {nullString, "<", nullString, 0},
      {nullString, "<", noBuffer, 1},
      {noBuffer, "<", nullString, 0},
      {nullString, "==", noBuffer, 0},
      {noBuffer, "==", noBuffer, 1},
      {"a", "<", "b", 1},
      {"b", "<", "a", 0},
      {"a", "==", TAVUTIL_WTEXT("a"), 0},
      {TagVar(TagVar::datetime), "==", TagVar(TagVar::datetime), 1},
      {TagVar(TagVar::datetime), "<", TDateTime(kMin, 0), 1},
      {TDateTime(kMin, 0), "<", TagVar(TagVar::datetime), 0},
      {TDateTime(5, 0), "==", TDateTime(5, 100), 1}, // zones are ignored
      {TDateTime(-1, 0), "<", TDateTime(0, 0), 1},
  });
}

TEST(TagVarOperators, StringsConcatenateAndCombineBytewise) {
  const TagVar nullString(TagVar::string);
  ExpectCases({
      {"ab", "+=", "cd", "abcd"},
      {"ab", "+=", nullString, "ab"},
      {nullString, "+=", "cd", "cd"},
      {nullString, "+=", nullString, nullString},
      {"AB", "|=", "  ", "ab"},
      {"ab", "&=", "__", "AB"},
      {"ab", "^=", "  ", "AB"},
      {nullString, "^=", "xy", "xy"},
      {"xy", "&=", nullString, "xy"},
  });
  TagVar wide(TAVUTIL_WTEXT("w"));
  wide += TagVar("!");
  EXPECT_TRUE(wide.IsWideString()); // the left tag stays

  TString text("shared"); // a null left takes a share of the right's buffer
  TagVar left(TagVar::string);
  left += TagVar(text);
  EXPECT_EQ(static_cast<char*>(*left.QueryString()), static_cast<char*>(text));

  TagVar self("ab");
  self += self;
  EXPECT_EQ(Describe(self), "5:abab");
}

/// A unary operator over every kind: a result letter per kind as in the matrices.
struct Unary {
  const char* name;
  std::function<TagVar(TagVar&)> apply;
  Lines lines;
  const char* row;
};

TEST(TagVarOperators, UnaryOperatorsByType) {
  const Unary unaries[] = {
      {"!", [](TagVar& v) { return TagVar(!v); }, {1332, 0, 1350}, "mm00000mmmmu"},
      {"~", [](TagVar& v) { return ~v; }, {1410, 0, 1428}, "mmIUmmmmmmmu"},
      {"-", [](TagVar& v) { return -v; }, {1488, 0, 1506}, "mmImRmmmmmmu"},
      {"+", [](TagVar& v) { return +v; }, {1566, 0, 1584}, "mmIURmmmmmmu"},
      {"++x", [](TagVar& v) { return ++v; }, {1644, 1655, 1662}, "mmIURmmnnXmu"},
      {"--x", [](TagVar& v) { return --v; }, {1722, 1733, 1740}, "mmIURmmnnXmu"},
      {"x++", [](TagVar& v) { return v++; }, {1800, 1811, 1818}, "mmIURmmnnXmu"},
      {"x--", [](TagVar& v) { return v--; }, {1878, 1889, 1896}, "mmIURmmnnXmu"},
  };
  for (const Unary& u : unaries) {
    const Operator asBinary{u.name, [&u](TagVar& l, const TagVar&) { return u.apply(l); }, u.lines,
                            nullptr};
    for (int kind = 0; kind < kKinds; ++kind) {
      ExpectCell(asBinary, kind, 0, u.row[kind]);
    }
  }
}

TEST(TagVarOperators, UnaryOperatorValues) {
  const auto expect = [](TagVar value, const std::function<TagVar(TagVar&)>& apply,
                         const TagVar& result, const TagVar& after) {
    SCOPED_TRACE(Describe(value));
    EXPECT_EQ(Describe(apply(value)), Describe(result));
    EXPECT_EQ(Describe(value), Describe(after));
  };
  const auto negate = [](TagVar& v) { return -v; };
  const auto complement = [](TagVar& v) { return ~v; };
  const auto logicalNot = [](TagVar& v) { return TagVar(!v); };
  const auto increment = [](TagVar& v) { return ++v; };
  const auto decrement = [](TagVar& v) { return --v; };
  const auto postIncrement = [](TagVar& v) { return v++; };
  const auto postDecrement = [](TagVar& v) { return v--; };

  expect(kMin, negate, kMin, kMin);
  expect(-2.5, negate, 2.5, -2.5);
  expect(0, complement, -1, 0);
  expect(0u, complement, kAllOnes, 0u);
  expect(0.5, logicalNot, 1, 0.5);
  expect(kNaN, logicalNot, 1, kNaN);
  expect(0u, logicalNot, 1, 0u);
  expect(-3, logicalNot, 0, -3);
  expect("", logicalNot, 0, ""); // an empty string is not false
  expect(TagVar(TagVar::string), logicalNot, 1, TagVar(TagVar::string));
  expect(kMax, increment, kMin, kMin);
  expect(kAllOnes, increment, 0u, 0u);
  expect(1.5, increment, 2.5, 2.5);
  expect(TDateTime(kMax, 7), increment, TDateTime(kMin, 7), TDateTime(kMin, 7));
  expect(0u, decrement, kAllOnes, kAllOnes);
  expect(TDateTime(0, 0), decrement, TDateTime(-1, 0), TDateTime(-1, 0));
  expect(TagVar(TagVar::datetime), decrement, TagVar(TagVar::datetime), TagVar(TagVar::datetime));
  expect(kMin, postDecrement, kMin, kMax);
  expect(TDateTime(9, 0), postIncrement, TDateTime(9, 0), TDateTime(10, 0));
}

} // namespace
