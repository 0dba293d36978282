// utility/tagvar.cpp: TagVar construction, copying, release, the strict accessors, the
// operators, the text form and the binary form.
// Licensed under the Apache License, Version 2.0.
//
// Operating-system independent. Every error of the tagged values goes through RaiseTagVarError.
// Integer arithmetic is done on the unsigned 32-bit patterns, so it wraps without ever
// overflowing a signed type, and every conversion of a real to an integer is range-checked.
#include <tavutil/binstream.h>
#include <tavutil/exception.h>
#include <tavutil/tagvar.h>
#include <tavutil/trace.h>

#include "internal/raise.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <istream>
#include <iterator>
#include <limits>
#include <new>
#include <optional>
#include <ostream>
#include <utility>

namespace {

constexpr char kSource[] = "utility/TAGVAR";

constexpr char kNotImplemented[] = "not implemented";
constexpr unsigned long kNotImplementedId = 1;
constexpr char kTypeMismatch[] = "type mismatch";
constexpr unsigned long kTypeMismatchId = 2;
constexpr char kUnknownType[] = "unknown type";
constexpr unsigned long kUnknownTypeId = 3;

constexpr unsigned long kLineCopyUnknown = 78;
constexpr unsigned long kLineAssignUnknown = 130;
constexpr unsigned long kLineQueryString = 2203;
constexpr unsigned long kLineQueryDateTime = 2213;
constexpr unsigned long kLineLong = 2223;
constexpr unsigned long kLineUnsignedLong = 2233;
constexpr unsigned long kLineDouble = 2243;
constexpr unsigned long kLineVoidPtr = 2253;

/// Raises a TInvalidRequest of the tagged values: group, location in utility/TAGVAR at `line`,
/// traced under the TagVar category.
[[noreturn]] void RaiseTagVarError(const char* text, unsigned long errorId,
                                   TException::Severity severity, unsigned long line) {
  tavutil::detail::Raise<TInvalidRequest>(text, tavutil::detail::SourceLine{kSource, line},
                                          TUtilityTraceCategory::TagVar, errorId, severity);
}

/// Raises "type mismatch" quoting `line` unless the accessor accepts the tag.
void RequireTag(bool accepted, unsigned long line) {
  if (!accepted) {
    RaiseTagVarError(kTypeMismatch, kTypeMismatchId, TException::recoverable, line);
  }
}

/// A new payload object, or null when memory runs out: a value whose allocation failed keeps
/// its tag with a null payload instead of throwing. The TagVar that stores it owns it.
template <class T, class... Args> T* NewOrNull(Args&&... args) {
  try {
    return new T(std::forward<Args>(args)...);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

/// A copy of a possibly null payload object.
template <class T> T* CopyOrNull(const void* object) {
  return object != nullptr ? NewOrNull<T>(*static_cast<const T*>(object)) : nullptr;
}

/// A new string of `args`, or none when memory runs out (the value keeps a null payload).
template <class... Args> std::optional<TString> TextOrNone(Args&&... args) {
  try {
    return TString(std::forward<Args>(args)...);
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
}

} // namespace

// ------------------------------------------------------------ construction ----

TagVar::TagVar(int value) noexcept : TagVar() {
  StoreSigned(value);
}
TagVar::TagVar(long value) noexcept : TagVar() {
  StoreSigned(static_cast<std::int32_t>(value));
}
TagVar::TagVar(short value) noexcept : TagVar() {
  StoreSigned(value);
}
TagVar::TagVar(unsigned int value) noexcept : TagVar() {
  StoreUnsigned(value);
}
TagVar::TagVar(unsigned long value) noexcept : TagVar() {
  StoreUnsigned(static_cast<std::uint32_t>(value));
}
TagVar::TagVar(unsigned short value) noexcept : TagVar() {
  StoreUnsigned(value);
}
TagVar::TagVar(double value) noexcept : TagVar() {
  StoreReal(value);
}
// The string constructors make the payload in place: there is nothing to release first.
TagVar::TagVar(const TString& s) : fType(s.IsUnicode() ? wideString : string), fHasText(true) {
  new (&fValue) TString(s);
}
TagVar::TagVar(const char* s) : fType(string) {
  try {
    new (&fValue) TString(s);
    fHasText = true;
  } catch (const std::bad_alloc&) {
    // A null payload.
  }
}
TagVar::TagVar(const unsigned char* s) : TagVar() {
  *this = s;
}
TagVar::TagVar(const _Wchar_t* s) : TagVar() {
  *this = s;
}
TagVar::TagVar(TDate value) : TagVar() {
  *this = value;
}
TagVar::TagVar(TTime value) : TagVar() {
  *this = value;
}
TagVar::TagVar(const TDateTime& value) : TagVar() {
  *this = value;
}
TagVar::TagVar(const TagVarVoidPtr& pointer) noexcept : TagVar() {
  StorePointer(voidptr, pointer.QueryPointer());
}

TagVar::TagVar(const TagVar& other) : TagVar() {
  CopyFrom(other, kLineCopyUnknown);
}

TagVar::TagVar(TagVar&& other) noexcept : TagVar() {
  TakeFrom(other);
}

TagVar::~TagVar() {
  CleanUp();
}

// -------------------------------------------------------------- assignment ----

TagVar& TagVar::operator=(int value) noexcept {
  StoreSigned(value);
  return *this;
}

TagVar& TagVar::operator=(long value) noexcept {
  StoreSigned(static_cast<std::int32_t>(value));
  return *this;
}

TagVar& TagVar::operator=(short value) noexcept {
  StoreSigned(value);
  return *this;
}

TagVar& TagVar::operator=(unsigned int value) noexcept {
  StoreUnsigned(value);
  return *this;
}

TagVar& TagVar::operator=(unsigned long value) noexcept {
  StoreUnsigned(static_cast<std::uint32_t>(value));
  return *this;
}

TagVar& TagVar::operator=(unsigned short value) noexcept {
  StoreUnsigned(value);
  return *this;
}

TagVar& TagVar::operator=(double value) noexcept {
  StoreReal(value);
  return *this;
}

// The payload objects below are made before the old payload is released, so an argument that
// refers into this value's own payload (v = *v.QueryString()) is still alive when it is read.

TagVar& TagVar::operator=(const TString& s) {
  StoreText(s.IsUnicode() ? wideString : string, s);
  return *this;
}

TagVar& TagVar::operator=(const char* s) {
  const std::optional<TString> text = TextOrNone(s);
  if (text.has_value()) {
    StoreText(string, *text);
  } else {
    StorePointer(string, nullptr);
  }
  return *this;
}

TagVar& TagVar::operator=(const unsigned char* s) {
  return *this = reinterpret_cast<const char*>(s);
}

TagVar& TagVar::operator=(const _Wchar_t* s) {
  // The wide constructor always makes a unicode buffer (or none for null).
  const std::optional<TString> text = TextOrNone(s);
  if (text.has_value()) {
    StoreText(wideString, *text);
  } else {
    StorePointer(wideString, nullptr);
  }
  return *this;
}

TagVar& TagVar::operator=(TDate /*value*/) {
  StorePointer(date, NewOrNull<TDate>());
  return *this;
}

TagVar& TagVar::operator=(TTime /*value*/) {
  StorePointer(time, NewOrNull<TTime>());
  return *this;
}

TagVar& TagVar::operator=(const TDateTime& value) {
  StorePointer(datetime, NewOrNull<TDateTime>(value));
  return *this;
}

TagVar& TagVar::operator=(const TagVar& other) {
  if (this != &other) {
    CleanUp();
    CopyFrom(other, kLineAssignUnknown);
  }
  return *this;
}

TagVar& TagVar::operator=(TagVar&& other) noexcept {
  if (this != &other) {
    CleanUp();
    TakeFrom(other);
  }
  return *this;
}

// ----------------------------------------------------------------- private ----

static_assert(sizeof(TString) <= sizeof(std::uint64_t) && alignof(TString) <= alignof(double),
              "a string handle fits the payload bytes");

TString* TagVar::Text() noexcept {
  return fHasText ? std::launder(reinterpret_cast<TString*>(&fValue)) : nullptr;
}

const TString* TagVar::Text() const noexcept {
  return fHasText ? std::launder(reinterpret_cast<const TString*>(&fValue)) : nullptr;
}

void TagVar::CleanUp() noexcept {
  switch (fType) {
  case string:
  case wideString:
    if (fHasText) {
      Text()->~TString();
      fHasText = false;
    }
    break;
  case date:
    delete static_cast<TDate*>(fValue.fPointer);
    break;
  case time:
    delete static_cast<TTime*>(fValue.fPointer);
    break;
  case datetime:
    delete static_cast<TDateTime*>(fValue.fPointer);
    break;
  default: // nothing owned, including a voidptr's target and an unknown tag's payload
    break;
  }
  fType = nil;
  fValue.fBits = 0;
}

void TagVar::StoreSigned(std::int32_t value) noexcept {
  CleanUp();
  fType = integer;
  fValue.fSigned = value;
}

void TagVar::StoreUnsigned(std::uint32_t value) noexcept {
  CleanUp();
  fType = unsignedInteger;
  fValue.fUnsigned = value;
}

void TagVar::StoreReal(double value) noexcept {
  CleanUp();
  fType = real;
  fValue.fReal = value;
}

void TagVar::StorePointer(Type type, void* pointer) noexcept {
  CleanUp();
  fType = type;
  fValue.fPointer = pointer;
}

void TagVar::StoreText(Type type, TString text) noexcept {
  // `text` is this function's own handle, so it may share this value's payload.
  CleanUp();
  fType = type;
  new (&fValue) TString(std::move(text));
  fHasText = true;
}

void TagVar::TakeFrom(TagVar& other) noexcept {
  if (other.fHasText) {
    TString* text = other.Text();
    new (&fValue) TString(std::move(*text));
    fHasText = true;
    text->~TString(); // without a buffer now: nothing is released
    other.fHasText = false;
  } else {
    fValue = other.fValue;
  }
  fType = other.fType;
  other.fType = nil;
  other.fValue.fBits = 0;
}

void TagVar::CopyFrom(const TagVar& other, unsigned long unknownTypeLine) {
  fType = other.fType;
  switch (other.fType) {
  case nil:
  case endOfArgs:
  case integer:
  case unsignedInteger:
  case real:
  case voidptr: // both point at the same target; neither owns it
    fValue = other.fValue;
    return;
  case string:
  case wideString:
    if (other.fHasText) {
      new (&fValue) TString(*other.Text()); // shares the buffer: nothing to allocate
      fHasText = true;
    }
    return;
  case date:
    fValue.fPointer = other.fValue.fPointer != nullptr ? NewOrNull<TDate>() : nullptr;
    return;
  case time:
    fValue.fPointer = other.fValue.fPointer != nullptr ? NewOrNull<TTime>() : nullptr;
    return;
  case datetime:
    fValue.fPointer = CopyOrNull<TDateTime>(other.fValue.fPointer);
    return;
  }
  RaiseTagVarError(kUnknownType, kUnknownTypeId, TException::unrecoverable, unknownTypeLine);
}

// --------------------------------------------------------------- accessors ----

const TString* TagVar::QueryString() const {
  RequireTag(fType == string || fType == wideString, kLineQueryString);
  return Text();
}

TagVar::operator const TString*() const {
  return QueryString();
}

const TDateTime* TagVar::QueryDateTime() const {
  RequireTag(fType == datetime, kLineQueryDateTime);
  return static_cast<const TDateTime*>(fValue.fPointer);
}

TagVar::operator long() const {
  RequireTag(fType == integer, kLineLong);
  return fValue.fSigned;
}

TagVar::operator unsigned long() const {
  RequireTag(fType == unsignedInteger, kLineUnsignedLong);
  return fValue.fUnsigned;
}

TagVar::operator double() const {
  RequireTag(fType == real, kLineDouble);
  return fValue.fReal;
}

void* TagVar::QueryVoidPtr() const {
  RequireTag(fType == voidptr, kLineVoidPtr);
  return fValue.fPointer;
}

// --------------------------------------------------------------- operators ----

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

/// The lines an operator's errors quote, in the order of TagVar::Operation; 0 where the
/// operator never raises that error.
struct OperatorLines {
  unsigned long unknown;
  unsigned long notImplemented;
  unsigned long mismatch;
};

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
void Refuse(Refusal refusal, std::size_t operation) {
  const OperatorLines& lines = kOperatorLines[operation];
  switch (refusal) {
  case Refusal::none:
    return;
  case Refusal::mismatch:
    RaiseTagVarError(kTypeMismatch, kTypeMismatchId, TException::recoverable, lines.mismatch);
  case Refusal::notImplemented:
    RaiseTagVarError(kNotImplemented, kNotImplementedId, TException::unrecoverable,
                     lines.notImplemented);
  case Refusal::unknown:
    RaiseTagVarError(kUnknownType, kUnknownTypeId, TException::unrecoverable, lines.unknown);
  }
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
std::int32_t SignedQuotient(std::int32_t a, std::int32_t b) {
  if (b == 0) {
    return 0;
  }
  if (b == -1) {
    return ToSigned(0u - static_cast<std::uint32_t>(a));
  }
  return a / b;
}

/// The remainder matching SignedQuotient: a zero divisor leaves the dividend, and anything
/// modulo -1 is 0.
std::int32_t SignedRemainder(std::int32_t a, std::int32_t b) {
  if (b == 0) {
    return a;
  }
  if (b == -1) {
    return 0;
  }
  return a % b;
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
  const auto& a = *static_cast<const T*>(left);
  const auto& b = *static_cast<const T*>(right);
  return equal ? isEqual(a, b) : isLess(a, b);
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

TagVar& TagVar::Arithmetic(const TagVar& r, Operation op) {
  const Kind left = KindOf(fType);
  const Kind right = KindOf(r.fType);
  Refusal refusal = Refusal::mismatch;
  switch (left) {
  case Kind::unknown:
    refusal = Refusal::unknown;
    break;
  case Kind::dateOrTime:
  case Kind::dateTime: // a whole row, whatever the right
    refusal = op == Operation::add || op == Operation::subtract ? Refusal::notImplemented
                                                                : Refusal::mismatch;
    break;
  case Kind::text:
    refusal = op == Operation::add ? Accept(right == Kind::text, right) : Refusal::mismatch;
    break;
  case Kind::number:
    if (op == Operation::remainder) {
      // Reals have no remainder: a real left refuses every right, a known one or not.
      refusal = fType == real ? Refusal::mismatch
                              : Accept(r.fType == integer || r.fType == unsignedInteger, right);
    } else if (op == Operation::add && fType == integer &&
               (right == Kind::dateOrTime || right == Kind::dateTime)) {
      refusal = Refusal::notImplemented; // only integer + date: unsigned + date is a mismatch
    } else {
      refusal = Accept(right == Kind::number, right);
    }
    break;
  case Kind::nil:
  case Kind::endOfArgs:
  case Kind::pointer:
    break;
  }
  Refuse(refusal, static_cast<std::size_t>(op));

  if (left == Kind::text) {
    CombineStrings(
        Text(), r.Text(), [](TString& a, const TString& b) { a += b; },
        [this](const TString& b) { StoreText(fType, b); });
    return *this;
  }
  if (fType == real || r.fType == real) {
    const double a = AsDouble();
    const double b = r.AsDouble();
    switch (op) {
    case Operation::add:
      StoreReal(a + b);
      break;
    case Operation::subtract:
      StoreReal(a - b);
      break;
    case Operation::multiply:
      StoreReal(a * b);
      break;
    default: // divide: a zero divisor gives an infinity or NaN
      StoreReal(a / b);
      break;
    }
    return *this;
  }
  const std::uint32_t a = Bits();
  const std::uint32_t b = r.Bits();
  const bool bothSigned = fType == integer && r.fType == integer;
  std::uint32_t result = 0;
  switch (op) {
  case Operation::add:
    result = a + b;
    break;
  case Operation::subtract:
    result = a - b;
    break;
  case Operation::multiply:
    result = a * b;
    break;
  case Operation::divide:
    result = bothSigned ? static_cast<std::uint32_t>(SignedQuotient(ToSigned(a), ToSigned(b)))
                        : (b == 0 ? 0 : a / b);
    break;
  default: // remainder
    result = bothSigned ? static_cast<std::uint32_t>(SignedRemainder(ToSigned(a), ToSigned(b)))
                        : (b == 0 ? a : a % b);
    break;
  }
  StoreBits(fType == unsignedInteger && r.fType == unsignedInteger ? unsignedInteger : integer,
            result);
  return *this;
}

TagVar& TagVar::Bitwise(const TagVar& r, Operation op) {
  const Kind left = KindOf(fType);
  const Kind right = KindOf(r.fType);
  const bool integral = fType == integer || fType == unsignedInteger;
  Refusal refusal = Refusal::mismatch;
  if (left == Kind::unknown) {
    refusal = Refusal::unknown;
  } else if (integral) {
    refusal = Accept(r.fType == integer || r.fType == unsignedInteger, right);
  } else if (left == Kind::text) {
    refusal = Accept(right == Kind::text, right);
  }
  Refuse(refusal, static_cast<std::size_t>(op));

  if (left == Kind::text) {
    CombineStrings(
        Text(), r.Text(),
        [op](TString& a, const TString& b) {
          if (op == Operation::bitOr) {
            a |= b;
          } else if (op == Operation::bitAnd) {
            a &= b;
          } else {
            a ^= b;
          }
        },
        [this](const TString& b) { StoreText(fType, b); });
    return *this;
  }
  const std::uint32_t a = Bits();
  const std::uint32_t b = r.Bits();
  const std::uint32_t result = op == Operation::bitOr    ? (a | b)
                               : op == Operation::bitAnd ? (a & b)
                                                         : (a ^ b);
  StoreBits(fType, result); // the left tag stays
  return *this;
}

TagVar& TagVar::Shift(const TagVar& r, Operation op) {
  const Kind left = KindOf(fType);
  const Kind right = KindOf(r.fType);
  Refusal refusal = Refusal::mismatch;
  if (left == Kind::unknown) {
    refusal = Refusal::unknown;
  } else if (left == Kind::number) {
    refusal = Accept(right == Kind::number, right);
  }
  Refuse(refusal, static_cast<std::size_t>(op));

  constexpr std::uint32_t kCountMask = 31; // counts are taken modulo 32
  const unsigned count = static_cast<std::uint32_t>(r.AsInteger()) & kCountMask;
  if (fType == unsignedInteger) {
    const std::uint32_t value = fValue.fUnsigned;
    StoreUnsigned(op == Operation::shiftLeft ? value << count : value >> count);
  } else {
    const std::int32_t value = AsInteger(); // a real left is truncated and gives an integer
    StoreSigned(op == Operation::shiftLeft ? ToSigned(static_cast<std::uint32_t>(value) << count)
                                           : ShiftRightSigned(value, count));
  }
  return *this;
}

int TagVar::Compare(const TagVar& r, Operation op) const {
  const Kind left = KindOf(fType);
  const Kind right = KindOf(r.fType);
  Refusal refusal = Refusal::mismatch;
  switch (left) {
  case Kind::unknown:
    refusal = Refusal::unknown;
    break;
  case Kind::dateOrTime:
    refusal = Refusal::notImplemented;
    break;
  case Kind::pointer: // a whole row of mismatches, voidptr against voidptr included
    break;
  default:
    refusal = Accept(right == left, right);
    break;
  }
  Refuse(refusal, static_cast<std::size_t>(op));

  const bool equal = op == Operation::equal;
  switch (left) {
  case Kind::number:
    if (fType == real || r.fType == real) {
      return equal ? AsDouble() == r.AsDouble() : AsDouble() < r.AsDouble();
    }
    if (equal) {
      return Bits() == r.Bits(); // so -1 equals 4294967295
    }
    if (fType == unsignedInteger && r.fType == unsignedInteger) {
      return Bits() < r.Bits();
    }
    return ToSigned(Bits()) < ToSigned(r.Bits());
  case Kind::text:
    return ComparePayloads<TString>(
        equal, Text(), r.Text(), [](const TString& a, const TString& b) { return a.isEqual(b); },
        [](const TString& a, const TString& b) { return a.isLessThan(b); });
  case Kind::dateTime:
    return ComparePayloads<TDateTime>(
        equal, fValue.fPointer, r.fValue.fPointer,
        [](const TDateTime& a, const TDateTime& b) { return a.IsEqual(b); },
        [](const TDateTime& a, const TDateTime& b) { return a.IsLessThan(b); });
  default: // nil with nil, endOfArgs with endOfArgs
    return equal ? 1 : 0;
  }
}

int TagVar::Logical(const TagVar& r, Operation op) const {
  const Kind left = KindOf(fType);
  Refusal refusal = Refusal::mismatch;
  if (left == Kind::unknown) {
    refusal = Refusal::unknown;
  } else if (left == Kind::number) {
    const Kind right = KindOf(r.fType);
    refusal = Accept(right == Kind::number, right);
  }
  Refuse(refusal, static_cast<std::size_t>(op));
  const bool a = AsInteger() != 0;
  const bool b = r.AsInteger() != 0;
  return op == Operation::logicalAnd ? (a && b) : (a || b);
}

void TagVar::Step(Operation op, TagVar* before) {
  const Kind kind = KindOf(fType);
  Refusal refusal = Refusal::mismatch;
  if (kind == Kind::unknown) {
    refusal = Refusal::unknown;
  } else if (kind == Kind::dateOrTime) {
    refusal = Refusal::notImplemented;
  } else if (kind == Kind::number || kind == Kind::dateTime) {
    refusal = Refusal::none;
  }
  Refuse(refusal, static_cast<std::size_t>(op));

  if (before != nullptr) {
    *before = *this;
  }
  const bool up = op == Operation::preIncrement || op == Operation::postIncrement;
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
TagVar& TagVar::operator-=(const TagVar& r) {
  return Arithmetic(r, Operation::subtract);
}
TagVar& TagVar::operator*=(const TagVar& r) {
  return Arithmetic(r, Operation::multiply);
}
TagVar& TagVar::operator/=(const TagVar& r) {
  return Arithmetic(r, Operation::divide);
}
TagVar& TagVar::operator%=(const TagVar& r) {
  return Arithmetic(r, Operation::remainder);
}
TagVar& TagVar::operator|=(const TagVar& r) {
  return Bitwise(r, Operation::bitOr);
}
TagVar& TagVar::operator&=(const TagVar& r) {
  return Bitwise(r, Operation::bitAnd);
}
TagVar& TagVar::operator^=(const TagVar& r) {
  return Bitwise(r, Operation::bitXor);
}
TagVar& TagVar::operator<<=(const TagVar& r) {
  return Shift(r, Operation::shiftLeft);
}
TagVar& TagVar::operator>>=(const TagVar& r) {
  return Shift(r, Operation::shiftRight);
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
  Refuse(Accept(kind == Kind::number || kind == Kind::text, kind),
         static_cast<std::size_t>(Operation::logicalNot));
  return kind == Kind::text ? Text() == nullptr : AsInteger() == 0;
}

TagVar TagVar::operator~() const {
  const bool integral = fType == integer || fType == unsignedInteger;
  Refuse(Accept(integral, KindOf(fType)), static_cast<std::size_t>(Operation::complement));
  TagVar result(fType);
  if (fType == integer) {
    result.fValue.fSigned = ToSigned(~Bits());
  } else {
    result.fValue.fUnsigned = ~Bits();
  }
  return result;
}

TagVar TagVar::operator-() const {
  Refuse(Accept(fType == integer || fType == real, KindOf(fType)),
         static_cast<std::size_t>(Operation::negate));
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
  Refuse(Accept(kind == Kind::number, kind), static_cast<std::size_t>(Operation::plus));
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

// --------------------------------------------------------------- text form ----

namespace {

constexpr char kNilText[] = "(nil)";
constexpr char kEndOfArgsText[] = "(endOfArgs)";
constexpr char kNullPayloadText[] = "(null)";
constexpr char kDateTimeFormat[] = "%c";
constexpr unsigned long kLineStreamOutUnknown = 2075;
constexpr unsigned long kLineStreamOutDate = 2101;
constexpr unsigned long kLineStreamOutTime = 2104;
constexpr unsigned long kLineStreamIn = 2123;

/// The type words, indexed by tag.
constexpr const char* kTypeWords[] = {"nil",  "endOfArgs", "integer", "unsignedInteger",
                                      "real", "string",    "string",  "date",
                                      "time", "datetime",  "voidptr"};
constexpr char kUnknownTypeOpen[] = "unknown(";
constexpr char kUnknownTypeClose[] = ")";

} // namespace

std::ostream& TagVar::StreamOut(std::ostream& os) const {
  switch (fType) {
  case nil:
    return os << kNilText;
  case endOfArgs:
    return os << kEndOfArgsText;
  case integer:
    return os << static_cast<long>(fValue.fSigned);
  case unsignedInteger:
    return os << static_cast<unsigned long>(fValue.fUnsigned);
  case real:
    return os << fValue.fReal;
  case string:
  case wideString: {
    const TString* text = Text();
    return text == nullptr ? os << kNullPayloadText : text->Print(os);
  }
  case date:
    RaiseTagVarError(kNotImplemented, kNotImplementedId, TException::unrecoverable,
                     kLineStreamOutDate);
  case time:
    RaiseTagVarError(kNotImplemented, kNotImplementedId, TException::unrecoverable,
                     kLineStreamOutTime);
  case datetime: {
    const auto* when = static_cast<const TDateTime*>(fValue.fPointer);
    return when == nullptr ? os << kNullPayloadText : when->QueryString(kDateTimeFormat).Print(os);
  }
  case voidptr:
    return os << static_cast<const void*>(fValue.fPointer);
  }
  RaiseTagVarError(kUnknownType, kUnknownTypeId, TException::unrecoverable, kLineStreamOutUnknown);
}

// NOLINTNEXTLINE(readability-convert-member-functions-to-static): a member of the interface
std::istream& TagVar::StreamIn(std::istream& /*is*/) {
  RaiseTagVarError(kNotImplemented, kNotImplementedId, TException::unrecoverable, kLineStreamIn);
}

std::ostream& TagVar::PrintType(std::ostream& os) const {
  const auto tag = static_cast<std::uint32_t>(fType);
  if (tag < std::size(kTypeWords)) {
    return os << kTypeWords[tag];
  }
  return os << kUnknownTypeOpen << std::hex << static_cast<unsigned long>(tag) << kUnknownTypeClose;
}

// ------------------------------------------------------------- binary form ----
// Both directions go on while neither failbit nor badbit is set (fail() is false); eofbit
// alone does not stop them.

namespace {

constexpr unsigned long kLineReadUnknown = 2267;
constexpr unsigned long kLineWriteUnknown = 2340;
/// The presence word before a string or datetime payload.
constexpr int kAbsent = 0;
constexpr int kPresent = 1;
/// A voidptr travels as this many raw bytes: the low 32 bits of the pointer.
constexpr int kPointerBytes = 4;

} // namespace

ToBinaryStream& TagVar::WriteToBinaryStream(ToBinaryStream& s) const {
  if (s.fail()) {
    return s;
  }
  s << static_cast<int>(fType);
  if (s.fail()) {
    return s;
  }
  switch (fType) {
  case nil:
  case endOfArgs:
  case date: // a date or time carries no data
  case time:
    return s;
  case integer:
    return s << static_cast<int>(fValue.fSigned);
  case unsignedInteger:
    return s << static_cast<unsigned int>(fValue.fUnsigned);
  case real:
    return s << fValue.fReal;
  case string:
  case wideString: {
    const TString* text = Text();
    return text == nullptr ? s << kAbsent : s << kPresent << *text;
  }
  case datetime: {
    // The zone is not carried.
    const auto* when = static_cast<const TDateTime*>(fValue.fPointer);
    return when == nullptr ? s << kAbsent : s << kPresent << static_cast<int>(when->QueryTime());
  }
  case voidptr: {
    // The bytes of the 32-bit value as they lie in memory: no byte-order conversion.
    const auto low = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(fValue.fPointer));
    unsigned char bytes[kPointerBytes];
    std::memcpy(bytes, &low, sizeof bytes);
    return s.write(bytes, kPointerBytes);
  }
  }
  RaiseTagVarError(kUnknownType, kUnknownTypeId, TException::unrecoverable, kLineWriteUnknown);
}

TiBinaryStream& TagVar::ReadFromBinaryStream(TiBinaryStream& s) {
  CleanUp();
  if (s.fail()) {
    return s;
  }
  int tag = nil;
  s >> tag;
  if (s.fail()) {
    return s;
  }
  switch (tag) {
  case nil:
  case endOfArgs:
    fType = static_cast<Type>(tag);
    return s;
  case integer: {
    // A short read keeps zeros (the released payload's bytes) where bytes did not arrive.
    int value = 0;
    s >> value;
    StoreSigned(value);
    return s;
  }
  case unsignedInteger: {
    unsigned int value = 0;
    s >> value;
    StoreUnsigned(value);
    return s;
  }
  case real: {
    double value = 0;
    s >> value;
    StoreReal(value);
    return s;
  }
  case string:
  case wideString: {
    int presence = kAbsent;
    s >> presence;
    if (s.fail() || presence == kAbsent) {
      StorePointer(static_cast<Type>(tag), nullptr);
      return s;
    }
    // A form cut short leaves the string without buffer; so does a length of 0.
    TString read;
    s >> read;
    StoreText(static_cast<Type>(tag), read.length() != 0 ? read : TString());
    return s;
  }
  case date:
  case time:
    StorePointer(static_cast<Type>(tag), nullptr);
    return s;
  case datetime: {
    StorePointer(datetime, nullptr);
    int presence = kAbsent;
    s >> presence;
    if (s.fail() || presence == kAbsent) {
      return s;
    }
    int when = 0;
    s >> when;
    if (!s.fail()) {
      StorePointer(datetime, NewOrNull<TDateTime>(static_cast<long>(when), 0L));
    }
    return s;
  }
  case voidptr: {
    // Raw bytes, as written; those that do not arrive stay zero.
    std::uint32_t low = 0;
    unsigned char bytes[kPointerBytes] = {};
    s.read(bytes, kPointerBytes);
    std::memcpy(&low, bytes, sizeof low);
    StorePointer(voidptr, reinterpret_cast<void*>(static_cast<std::uintptr_t>(low)));
    return s;
  }
  default:
    break;
  }
  RaiseTagVarError(kUnknownType, kUnknownTypeId, TException::unrecoverable, kLineReadUnknown);
}
