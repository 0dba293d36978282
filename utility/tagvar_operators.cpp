// utility/tagvar_operators.cpp: the TagVar operators: arithmetic, bitwise, shifts,
// comparisons, logical operators and increments, with the lines their errors quote.
// Licensed under the Apache License, Version 2.0.
//
// Operating-system independent. Each operator first decides by a small classification of the
// two tags whether the pair computes or which error it raises, then computes. Integer
// arithmetic is done on the unsigned 32-bit patterns, so it wraps without ever overflowing a
// signed type, and every conversion of a real to an integer is range-checked.
#include <tavutil/datetime.h>
#include <tavutil/tagvar.h>
#include <tavutil/tstring.h>

#include "internal/tagvarerror.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <limits>

enum class TagVar::Operation : unsigned char {
  add,
  subtract,
  multiply,
  divide,
  remainder,
  bitOr,
  bitAnd,
  bitXor,
  shiftLeft,
  shiftRight,
  equal,
  less,
  logicalAnd,
  logicalOr,
  logicalNot,
  complement,
  negate,
  plus,
  preIncrement,
  preDecrement,
  postIncrement,
  postDecrement
};

namespace {

// The helpers that depend on the operator take TagVar::Operation, which only TagVar may name,
// as a deduced template parameter.

/// The lines an operator's errors quote, in the order of TagVar::Operation; 0 where the
/// operator never raises that error.
struct OperatorLines {
  unsigned long unknown;
  unsigned long notImplemented;
  unsigned long mismatch;
};

// fixed: lines quoted beyond this file's length
constexpr OperatorLines kOperatorLines[] = {
    {240, 251, 258},    // +=
    {318, 329, 336},    // -=
    {396, 0, 414},      // *=
    {474, 0, 492},      // /=
    {552, 0, 570},      // %=
    {630, 0, 648},      // |=
    {708, 0, 726},      // &=
    {786, 0, 804},      // ^=
    {864, 0, 882},      // <<=
    {942, 0, 960},      // >>=
    {1020, 1031, 1038}, // IsEqual
    {1098, 1109, 1116}, // IsLessThan
    {1176, 0, 1194},    // LogicalAnd
    {1254, 0, 1272},    // LogicalOr
    {1332, 0, 1350},    // operator!
    {1410, 0, 1428},    // operator~
    {1488, 0, 1506},    // unary operator-
    {1566, 0, 1584},    // unary operator+
    {1644, 1655, 1662}, // prefix ++
    {1722, 1733, 1740}, // prefix --
    {1800, 1811, 1818}, // postfix ++
    {1878, 1889, 1896}, // postfix --
};

/// What an operator does with a pair (or a single value for the unary ones).
enum class Refusal { none, mismatch, notImplemented, unknown };

/// The tags grouped as the operator tables treat them.
enum class Kind { number, text, dateOrTime, dateTime, nil, endOfArgs, pointer, unknown };

Kind KindOf(TagVar::Type type) {
  switch (type) {
  case TagVar::integer:
  case TagVar::unsignedInteger:
  case TagVar::real:
    return Kind::number;
  case TagVar::string:
  case TagVar::wideString:
    return Kind::text;
  case TagVar::date:
  case TagVar::time:
    return Kind::dateOrTime;
  case TagVar::datetime:
    return Kind::dateTime;
  case TagVar::nil:
    return Kind::nil;
  case TagVar::endOfArgs:
    return Kind::endOfArgs;
  case TagVar::voidptr:
    return Kind::pointer;
  }
  return Kind::unknown;
}

/// Whether the tag is an integer or an unsigned integer.
bool IsIntegral(TagVar::Type type) {
  return type == TagVar::integer || type == TagVar::unsignedInteger;
}

/// Nothing to refuse when `accepted`; else "unknown type" when the deciding tag (the right
/// one of a row that depends on it, or a unary operator's only one) is unknown, else a
/// mismatch.
Refusal Accept(bool accepted, Kind deciding) {
  if (accepted) {
    return Refusal::none;
  }
  return deciding == Kind::unknown ? Refusal::unknown : Refusal::mismatch;
}

/// Raises the operator's error for `refusal`; returns only for Refusal::none.
template <class Operation> void Refuse(Refusal refusal, Operation operation) {
  static_assert(std::size(kOperatorLines) == static_cast<std::size_t>(Operation::postDecrement) + 1,
                "one row of lines per operator");
  const OperatorLines& lines = kOperatorLines[static_cast<std::size_t>(operation)];
  switch (refusal) {
  case Refusal::none:
    return;
  case Refusal::mismatch:
    tavutil::detail::RaiseTypeMismatch(lines.mismatch);
  case Refusal::notImplemented:
    tavutil::detail::RaiseNotImplemented(lines.notImplemented);
  case Refusal::unknown:
    tavutil::detail::RaiseUnknownType(lines.unknown);
  }
}

/// The refusal of + - * / % for the pair of tags. Each row of the table is one left kind;
/// only the number row and the string row of += depend on the right tag.
template <class Operation>
Refusal ArithmeticRefusal(TagVar::Type left, TagVar::Type right, Operation operation) {
  const Kind rightKind = KindOf(right);
  switch (KindOf(left)) {
  case Kind::unknown:
    return Refusal::unknown;
  case Kind::dateOrTime:
  case Kind::dateTime: // a whole row, whatever the right
    return operation == Operation::add || operation == Operation::subtract ? Refusal::notImplemented
                                                                           : Refusal::mismatch;
  case Kind::text:
    return operation == Operation::add ? Accept(rightKind == Kind::text, rightKind)
                                       : Refusal::mismatch;
  case Kind::number:
    if (operation == Operation::remainder) {
      // Reals have no remainder: a real left refuses every right, a known one or not.
      return left == TagVar::real ? Refusal::mismatch : Accept(IsIntegral(right), rightKind);
    }
    if (operation == Operation::add && left == TagVar::integer &&
        (rightKind == Kind::dateOrTime || rightKind == Kind::dateTime)) {
      return Refusal::notImplemented; // only integer + date: unsigned + date is a mismatch
    }
    return Accept(rightKind == Kind::number, rightKind);
  case Kind::nil:
  case Kind::endOfArgs:
  case Kind::pointer:
    break;
  }
  return Refusal::mismatch;
}

/// The signed value of a 32-bit pattern (two's complement), without relying on the
/// implementation-defined conversion.
std::int32_t ToSigned(std::uint32_t bits) {
  constexpr std::uint32_t kSignBit = 0x80000000u;
  return bits < kSignBit ? static_cast<std::int32_t>(bits)
                         : static_cast<std::int32_t>(bits - kSignBit) +
                               std::numeric_limits<std::int32_t>::min();
}

/// A real truncated toward zero to 32 bits: beyond the range it gives the nearest limit, and
/// NaN gives 0, where a plain conversion would be undefined.
std::int32_t Truncate(double value) {
  if (std::isnan(value)) {
    return 0;
  }
  if (value >= 2147483648.0) {
    return std::numeric_limits<std::int32_t>::max();
  }
  if (value <= -2147483649.0) {
    return std::numeric_limits<std::int32_t>::min();
  }
  return static_cast<std::int32_t>(value);
}

/// Signed division that never traps: a zero divisor gives 0, and the one overflowing
/// quotient, INT_MIN / -1, wraps to INT_MIN.
std::int32_t SignedQuotient(std::int32_t dividend, std::int32_t divisor) {
  if (divisor == 0) {
    return 0;
  }
  if (divisor == -1) {
    return ToSigned(0u - static_cast<std::uint32_t>(dividend));
  }
  return dividend / divisor;
}

/// The remainder matching SignedQuotient: a zero divisor leaves the dividend, and anything
/// modulo -1 is 0.
std::int32_t SignedRemainder(std::int32_t dividend, std::int32_t divisor) {
  if (divisor == 0) {
    return dividend;
  }
  if (divisor == -1) {
    return 0;
  }
  return dividend % divisor;
}

/// + - * / of two doubles; a zero divisor gives an infinity or NaN.
template <class Operation> double RealResult(double left, double right, Operation operation) {
  switch (operation) {
  case Operation::add:
    return left + right;
  case Operation::subtract:
    return left - right;
  case Operation::multiply:
    return left * right;
  default: // divide
    return left / right;
  }
}

/// + - * / % of two 32-bit patterns, wrapping; `bothSigned` divides as signed integers.
/// Division never traps (see SignedQuotient and SignedRemainder; unsigned ones alike).
template <class Operation>
std::uint32_t IntegerResult(std::uint32_t left, std::uint32_t right, bool bothSigned,
                            Operation operation) {
  switch (operation) {
  case Operation::add:
    return left + right;
  case Operation::subtract:
    return left - right;
  case Operation::multiply:
    return left * right;
  case Operation::divide:
    return bothSigned ? static_cast<std::uint32_t>(SignedQuotient(ToSigned(left), ToSigned(right)))
                      : (right == 0 ? 0 : left / right);
  default: // remainder
    return bothSigned ? static_cast<std::uint32_t>(SignedRemainder(ToSigned(left), ToSigned(right)))
                      : (right == 0 ? left : left % right);
  }
}

/// Arithmetic (sign-filling) right shift by 0 to 31, defined for negative values too.
std::int32_t ShiftRightSigned(std::int32_t value, unsigned count) {
  return value < 0 ? ~(~value >> count) : value >> count;
}

/// Applies a string operator to two string payloads: a null right changes nothing, a null
/// left is given the right's string by `adopt` (it then shares the right's buffer).
template <class Apply, class Adopt>
void CombineStrings(TString* left, const TString* right, Apply apply, Adopt adopt) {
  if (right == nullptr) {
    return;
  }
  if (left == nullptr) {
    adopt(*right);
  } else {
    apply(*left, *right);
  }
}

/// Equality (`equal`) or order of two possibly null payloads: two nulls are equal and
/// neither orders first, a null orders before a non-null; else `isEqual` or `isLess` decides.
template <class T, class Equal, class Less>
int ComparePayloads(bool equal, const void* left, const void* right, Equal isEqual, Less isLess) {
  if (left == nullptr || right == nullptr) {
    return equal ? left == right : left == nullptr && right != nullptr;
  }
  const auto& leftValue = *static_cast<const T*>(left);
  const auto& rightValue = *static_cast<const T*>(right);
  return equal ? isEqual(leftValue, rightValue) : isLess(leftValue, rightValue);
}

} // namespace

void TagVar::StoreBits(Type type, std::uint32_t bits) noexcept {
  if (type == unsignedInteger) {
    StoreUnsigned(bits);
  } else {
    StoreSigned(ToSigned(bits));
  }
}

std::uint32_t TagVar::Bits() const noexcept {
  return fType == integer ? static_cast<std::uint32_t>(fValue.fSigned) : fValue.fUnsigned;
}

double TagVar::AsDouble() const noexcept {
  switch (fType) {
  case integer:
    return fValue.fSigned;
  case unsignedInteger:
    return fValue.fUnsigned;
  default:
    return fValue.fReal;
  }
}

std::int32_t TagVar::AsInteger() const noexcept {
  return fType == real ? Truncate(fValue.fReal) : ToSigned(Bits());
}

TagVar& TagVar::Arithmetic(const TagVar& right, Operation operation) {
  Refuse(ArithmeticRefusal(fType, right.fType, operation), operation);
  if (KindOf(fType) == Kind::text) { // only += gets here: concatenation
    CombineStrings(
        Text(), right.Text(), [](TString& text, const TString& tail) { text += tail; },
        [this](const TString& text) { StoreText(fType, text); });
    return *this;
  }
  if (fType == real || right.fType == real) {
    StoreReal(RealResult(AsDouble(), right.AsDouble(), operation));
    return *this;
  }
  const bool bothSigned = fType == integer && right.fType == integer;
  const std::uint32_t result = IntegerResult(Bits(), right.Bits(), bothSigned, operation);
  StoreBits(fType == unsignedInteger && right.fType == unsignedInteger ? unsignedInteger : integer,
            result);
  return *this;
}

TagVar& TagVar::Bitwise(const TagVar& right, Operation operation) {
  const Kind leftKind = KindOf(fType);
  const Kind rightKind = KindOf(right.fType);
  Refusal refusal = Refusal::mismatch;
  if (leftKind == Kind::unknown) {
    refusal = Refusal::unknown;
  } else if (IsIntegral(fType)) {
    refusal = Accept(IsIntegral(right.fType), rightKind);
  } else if (leftKind == Kind::text) {
    refusal = Accept(rightKind == Kind::text, rightKind);
  }
  Refuse(refusal, operation);

  if (leftKind == Kind::text) {
    CombineStrings(
        Text(), right.Text(),
        [operation](TString& text, const TString& mask) {
          if (operation == Operation::bitOr) {
            text |= mask;
          } else if (operation == Operation::bitAnd) {
            text &= mask;
          } else {
            text ^= mask;
          }
        },
        [this](const TString& text) { StoreText(fType, text); });
    return *this;
  }
  const std::uint32_t left = Bits();
  const std::uint32_t mask = right.Bits();
  const std::uint32_t result = operation == Operation::bitOr    ? (left | mask)
                               : operation == Operation::bitAnd ? (left & mask)
                                                                : (left ^ mask);
  StoreBits(fType, result); // the left tag stays
  return *this;
}

TagVar& TagVar::Shift(const TagVar& right, Operation operation) {
  const Kind leftKind = KindOf(fType);
  const Kind rightKind = KindOf(right.fType);
  Refusal refusal = Refusal::mismatch;
  if (leftKind == Kind::unknown) {
    refusal = Refusal::unknown;
  } else if (leftKind == Kind::number) {
    refusal = Accept(rightKind == Kind::number, rightKind);
  }
  Refuse(refusal, operation);

  constexpr std::uint32_t kCountMask = 31; // counts are taken modulo 32
  const unsigned count = static_cast<std::uint32_t>(right.AsInteger()) & kCountMask;
  const bool toLeft = operation == Operation::shiftLeft;
  if (fType == unsignedInteger) {
    const std::uint32_t value = fValue.fUnsigned;
    StoreUnsigned(toLeft ? value << count : value >> count);
  } else {
    const std::int32_t value = AsInteger(); // a real left is truncated and gives an integer
    StoreSigned(toLeft ? ToSigned(static_cast<std::uint32_t>(value) << count)
                       : ShiftRightSigned(value, count));
  }
  return *this;
}

int TagVar::Compare(const TagVar& right, Operation operation) const {
  const Kind leftKind = KindOf(fType);
  const Kind rightKind = KindOf(right.fType);
  Refusal refusal = Refusal::mismatch;
  switch (leftKind) {
  case Kind::unknown:
    refusal = Refusal::unknown;
    break;
  case Kind::dateOrTime:
    refusal = Refusal::notImplemented;
    break;
  case Kind::pointer: // a whole row of mismatches, voidptr against voidptr included
    break;
  default:
    refusal = Accept(rightKind == leftKind, rightKind);
    break;
  }
  Refuse(refusal, operation);

  const bool equal = operation == Operation::equal;
  switch (leftKind) {
  case Kind::number:
    if (fType == real || right.fType == real) {
      return equal ? AsDouble() == right.AsDouble() : AsDouble() < right.AsDouble();
    }
    if (equal) {
      return Bits() == right.Bits(); // so -1 equals 4294967295
    }
    if (fType == unsignedInteger && right.fType == unsignedInteger) {
      return Bits() < right.Bits();
    }
    return ToSigned(Bits()) < ToSigned(right.Bits());
  case Kind::text:
    return ComparePayloads<TString>(
        equal, Text(), right.Text(),
        [](const TString& left, const TString& other) { return left.isEqual(other); },
        [](const TString& left, const TString& other) { return left.isLessThan(other); });
  case Kind::dateTime:
    return ComparePayloads<TDateTime>(
        equal, fValue.fPointer, right.fValue.fPointer,
        [](const TDateTime& left, const TDateTime& other) { return left.IsEqual(other); },
        [](const TDateTime& left, const TDateTime& other) { return left.IsLessThan(other); });
  default: // nil with nil, endOfArgs with endOfArgs
    return equal ? 1 : 0;
  }
}

int TagVar::Logical(const TagVar& right, Operation operation) const {
  const Kind leftKind = KindOf(fType);
  Refusal refusal = Refusal::mismatch;
  if (leftKind == Kind::unknown) {
    refusal = Refusal::unknown;
  } else if (leftKind == Kind::number) {
    const Kind rightKind = KindOf(right.fType);
    refusal = Accept(rightKind == Kind::number, rightKind);
  }
  Refuse(refusal, operation);
  const bool leftTrue = AsInteger() != 0;
  const bool rightTrue = right.AsInteger() != 0;
  return operation == Operation::logicalAnd ? (leftTrue && rightTrue) : (leftTrue || rightTrue);
}

void TagVar::Step(Operation operation, TagVar* before) {
  const Kind kind = KindOf(fType);
  Refusal refusal = Refusal::mismatch;
  if (kind == Kind::unknown) {
    refusal = Refusal::unknown;
  } else if (kind == Kind::dateOrTime) {
    refusal = Refusal::notImplemented;
  } else if (kind == Kind::number || kind == Kind::dateTime) {
    refusal = Refusal::none;
  }
  Refuse(refusal, operation);

  if (before != nullptr) {
    *before = *this;
  }
  const bool up = operation == Operation::preIncrement || operation == Operation::postIncrement;
  const std::uint32_t delta = up ? 1u : 0xFFFFFFFFu; // adding all ones subtracts 1, wrapping
  switch (fType) {
  case integer:
    fValue.fSigned = ToSigned(Bits() + delta);
    break;
  case unsignedInteger:
    fValue.fUnsigned += delta;
    break;
  case real:
    fValue.fReal += up ? 1.0 : -1.0;
    break;
  default: { // datetime: one second, a null payload left alone
    auto* when = static_cast<TDateTime*>(fValue.fPointer);
    if (when != nullptr) {
      *when = static_cast<long>(ToSigned(static_cast<std::uint32_t>(when->QueryTime()) + delta));
    }
    break;
  }
  }
}

TagVar& TagVar::operator+=(const TagVar& r) {
  return Arithmetic(r, Operation::add);
}
TagVar& TagVar::operator-=(const TagVar& right) {
  return Arithmetic(right, Operation::subtract);
}
TagVar& TagVar::operator*=(const TagVar& right) {
  return Arithmetic(right, Operation::multiply);
}
TagVar& TagVar::operator/=(const TagVar& right) {
  return Arithmetic(right, Operation::divide);
}
TagVar& TagVar::operator%=(const TagVar& right) {
  return Arithmetic(right, Operation::remainder);
}
TagVar& TagVar::operator|=(const TagVar& right) {
  return Bitwise(right, Operation::bitOr);
}
TagVar& TagVar::operator&=(const TagVar& right) {
  return Bitwise(right, Operation::bitAnd);
}
TagVar& TagVar::operator^=(const TagVar& right) {
  return Bitwise(right, Operation::bitXor);
}
TagVar& TagVar::operator<<=(const TagVar& right) {
  return Shift(right, Operation::shiftLeft);
}
TagVar& TagVar::operator>>=(const TagVar& right) {
  return Shift(right, Operation::shiftRight);
}

int TagVar::IsEqual(const TagVar& r) const {
  return Compare(r, Operation::equal);
}
int TagVar::IsLessThan(const TagVar& r) const {
  return Compare(r, Operation::less);
}
int TagVar::LogicalAnd(const TagVar& r) const {
  return Logical(r, Operation::logicalAnd);
}
int TagVar::LogicalOr(const TagVar& r) const {
  return Logical(r, Operation::logicalOr);
}

int TagVar::operator!() const {
  const Kind kind = KindOf(fType);
  Refuse(Accept(kind == Kind::number || kind == Kind::text, kind), Operation::logicalNot);
  return kind == Kind::text ? Text() == nullptr : AsInteger() == 0;
}

TagVar TagVar::operator~() const {
  Refuse(Accept(IsIntegral(fType), KindOf(fType)), Operation::complement);
  TagVar result(fType);
  if (fType == integer) {
    result.fValue.fSigned = ToSigned(~Bits());
  } else {
    result.fValue.fUnsigned = ~Bits();
  }
  return result;
}

TagVar TagVar::operator-() const {
  Refuse(Accept(fType == integer || fType == real, KindOf(fType)), Operation::negate);
  TagVar result(fType);
  if (fType == integer) {
    result.fValue.fSigned = ToSigned(0u - Bits()); // -INT_MIN wraps to INT_MIN
  } else {
    result.fValue.fReal = -fValue.fReal;
  }
  return result;
}

TagVar TagVar::operator+() const {
  const Kind kind = KindOf(fType);
  Refuse(Accept(kind == Kind::number, kind), Operation::plus);
  return *this;
}

TagVar& TagVar::operator++() {
  Step(Operation::preIncrement, nullptr);
  return *this;
}

TagVar& TagVar::operator--() {
  Step(Operation::preDecrement, nullptr);
  return *this;
}

TagVar TagVar::operator++(int) {
  TagVar before;
  Step(Operation::postIncrement, &before);
  return before;
}

TagVar TagVar::operator--(int) {
  TagVar before;
  Step(Operation::postDecrement, &before);
  return before;
}
