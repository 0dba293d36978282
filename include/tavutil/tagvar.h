// tavutil/tagvar.h: TagVar, the tagged variant, and TagVarVoidPtr.
// Licensed under the Apache License, Version 2.0.
//
// Messages carry their arguments as TagVar values and trace scopes print them. A TagVar owns
// its string and date payloads; an untyped pointer is only carried, never owned.
#ifndef TAVUTIL_TAGVAR_H
#define TAVUTIL_TAGVAR_H

#include <cstdint>
#include <iosfwd>
#include <tavutil/config.h>
#include <tavutil/datetime.h>
#include <tavutil/tstring.h>

class TiBinaryStream;
class ToBinaryStream;

/// An untyped pointer on its way into a TagVar, kept apart from the string constructors.
///
///   TagVar argument(TagVarVoidPtr(&record));   // tag voidptr; the record is not owned
class TAVUTIL_API TagVarVoidPtr {
public:
  /// Wraps `pointer` (null by default). Throws nothing.
  explicit TagVarVoidPtr(void* pointer = nullptr) noexcept : fPointer(pointer) {}
  /// The wrapped pointer. Throws nothing.
  void* QueryPointer() const noexcept { return fPointer; }

private:
  void* fPointer;
};

/// One value of one of eleven types, with its type tag.
///
/// Numbers and strings are stored in place (integers as 32 bits whatever `long` is; a string
/// as a TString handle, which a copy shares); dates, times and date-times are heap objects
/// owned by the value, each copy making its own. A moved-from value is nil. The accessors are
/// strict: each accepts only its own tags and throws TInvalidRequest "type mismatch" (error id 2)
/// for any other; nothing converts between types.
///
///   TagVar count(42L), name("disk"), when(TDateTime());
///   long n = count;                    // 42
///   const TString* s = name;           // the payload string
///   double d = count;                  // throws "type mismatch": count is an integer
///
/// The operators compute across types by fixed tables of (left tag, right tag): `+=` of an
/// integer and a real leaves a real, `+=` of two strings concatenates, and a pair the table
/// refuses throws TInvalidRequest "type mismatch" (id 2), "not implemented" (id 1) or
/// "unknown type" (id 3), leaving the left value unchanged. Integer arithmetic is 32-bit and
/// wraps; integer division or remainder by zero raises no error (see operator/=). Where a real
/// is taken as an integer it is truncated toward zero, a value beyond the 32-bit range giving
/// the nearest limit and NaN giving 0.
///
///   TagVar total(5);
///   total += TagVar(2.5);              // a real 7.5
///   TagVar(7u).IsLessThan(TagVar(-1)); // false: unsigned against integer compares signed
///
/// Making or copying a payload (a string, a date) that cannot be allocated leaves a null
/// payload under the new tag, not an exception. The string operators (+=, |=, &=, ^=)
/// work on the left's string itself and throw std::bad_alloc as TString does.
/// Note that assigning a Type enumerator (`v = TagVar::string`) assigns its integer value;
/// TagVar(TagVar::string) makes a string value with a null payload.
class TAVUTIL_API TagVar {
public:
  /// The type tag. Any other value is an unknown type, which copying refuses.
  enum Type : std::int32_t {
    nil = 0,
    endOfArgs = 1,
    integer = 2,
    unsignedInteger = 3,
    real = 4,
    string = 5,
    wideString = 6,
    date = 7,
    time = 8,
    datetime = 9,
    voidptr = 10
  };

  /// A nil value. Throws nothing.
  TagVar() noexcept : fType(nil) {}
  /// A value of tag `type` with a zero payload (a null pointer for the pointer types). Throws
  /// nothing.
  TagVar(Type type) noexcept : fType(type) {}
  ///@{
  /// An integer (int, long, short); a wider `long` keeps its low 32 bits. Throws nothing.
  TagVar(int value) noexcept;
  TagVar(long value) noexcept;
  TagVar(short value) noexcept;
  ///@}
  ///@{
  /// An unsigned integer; a wider `unsigned long` keeps its low 32 bits. Throws nothing.
  TagVar(unsigned int value) noexcept;
  TagVar(unsigned long value) noexcept;
  TagVar(unsigned short value) noexcept;
  ///@}
  /// A real. Throws nothing.
  TagVar(double value) noexcept;
  /// A wideString when `s` holds unicode text, else a string; shares `s`'s buffer. Throws
  /// nothing.
  TagVar(const TString& s) noexcept;
  ///@{
  /// A string copied from the NUL-terminated text; null gives a string without buffer, and
  /// a copy that cannot be allocated a null payload. Throws std::length_error when the text
  /// is longer than 4 GiB.
  TagVar(const char* s);
  TagVar(const unsigned char* s);
  ///@}
  /// A wideString holding the NUL-terminated UTF-16 text; null gives a string without
  /// buffer, and a copy that cannot be allocated a null payload. Throws std::length_error
  /// when the text is longer than 4 GiB.
  TagVar(const _Wchar_t* s);
  /// A date (a new TDate, or a null payload when it cannot be allocated). Throws nothing.
  TagVar(TDate value) noexcept;
  /// A time (a new TTime, or a null payload when it cannot be allocated). Throws nothing.
  TagVar(TTime value) noexcept;
  /// A datetime holding a copy of `value` (a null payload when it cannot be allocated).
  /// Throws nothing.
  TagVar(const TDateTime& value) noexcept;
  /// A voidptr holding the wrapped pointer, which the value never owns or deletes. Throws
  /// nothing.
  TagVar(const TagVarVoidPtr& pointer) noexcept;
  /// A copy with its own payload objects (a string shares the other's buffer). Throws
  /// TInvalidRequest "unknown type" (error id 3) when `other` has an unknown tag.
  TagVar(const TagVar& other);
  /// Takes the other's tag and payload, whatever the tag; the other is left nil. Throws
  /// nothing.
  TagVar(TagVar&& other) noexcept;
  /// Releases the owned payload. Throws nothing.
  ~TagVar();

  ///@{
  /// Releases the current payload, then stores the number as the constructor of the same
  /// argument type does; returns this value. Throws nothing.
  TagVar& operator=(int value) noexcept;
  TagVar& operator=(long value) noexcept;
  TagVar& operator=(short value) noexcept;
  TagVar& operator=(unsigned int value) noexcept;
  TagVar& operator=(unsigned long value) noexcept;
  TagVar& operator=(unsigned short value) noexcept;
  TagVar& operator=(double value) noexcept;
  ///@}
  /// Releases the current payload and shares `s`'s buffer, as the constructor does; returns
  /// this value. Throws nothing.
  TagVar& operator=(const TString& s) noexcept;
  ///@{
  /// Releases the current payload and stores a copy of the text, as the constructor of the
  /// same argument type does; returns this value. Throws std::length_error when the text is
  /// longer than 4 GiB; the value is then unchanged.
  TagVar& operator=(const char* s);
  TagVar& operator=(const unsigned char* s);
  TagVar& operator=(const _Wchar_t* s);
  ///@}
  ///@{
  /// Releases the current payload and stores a new date, time or datetime object, as the
  /// constructor of the same argument type does; returns this value. Throws nothing.
  TagVar& operator=(TDate value) noexcept;
  TagVar& operator=(TTime value) noexcept;
  TagVar& operator=(const TDateTime& value) noexcept;
  ///@}
  /// Releases the current payload and copies `other` (nothing happens when it is this value).
  /// Throws TInvalidRequest "unknown type" (error id 3) when `other` has an unknown tag; this
  /// value then holds that tag and no payload.
  TagVar& operator=(const TagVar& other);
  /// Releases the current payload and takes the other's tag and payload, leaving the other
  /// nil (nothing happens when it is this value). Throws nothing.
  TagVar& operator=(TagVar&& other) noexcept;

  /// The type tag. Throws nothing.
  Type QueryType() const noexcept { return fType; }
  ///@{
  /// Whether the tag is `type`, or the one the name says. IsString is true for tag string
  /// only (not wideString). Throws nothing.
  int IsType(Type type) const noexcept { return fType == type; }
  int IsNil() const noexcept { return fType == nil; }
  int IsEndOfArgs() const noexcept { return fType == endOfArgs; }
  int IsInteger() const noexcept { return fType == integer; }
  int IsUnsignedInteger() const noexcept { return fType == unsignedInteger; }
  int IsReal() const noexcept { return fType == real; }
  int IsString() const noexcept { return fType == string; }
  int IsWideString() const noexcept { return fType == wideString; }
  int IsDate() const noexcept { return fType == date; }
  int IsTime() const noexcept { return fType == time; }
  int IsDateTime() const noexcept { return fType == datetime; }
  ///@}

  /// The payload string of a string or wideString, possibly null. Throws TInvalidRequest
  /// "type mismatch" (error id 2) when the tag is another.
  const TString* QueryString() const;
  /// The same as QueryString(). Throws as QueryString() does.
  operator const TString*() const;
  /// The payload of a datetime, possibly null. Throws TInvalidRequest "type mismatch" when
  /// the tag is another.
  const TDateTime* QueryDateTime() const;
  /// The value of an integer. Throws TInvalidRequest "type mismatch" when the tag is another.
  operator long() const;
  /// The value of an unsignedInteger. Throws TInvalidRequest "type mismatch" when the tag is
  /// another.
  operator unsigned long() const;
  /// The value of a real. Throws TInvalidRequest "type mismatch" when the tag is another.
  operator double() const;
  /// The pointer of a voidptr. Throws TInvalidRequest "type mismatch" when the tag is another.
  void* QueryVoidPtr() const;

  // Arithmetic. Each compound assignment replaces this value by the result and returns it.
  // Integers take integers, unsigned integers and reals; an integer with a real gives a real,
  // an unsigned integer with an integer gives an integer, two unsigned integers an unsigned
  // one. Integer results wrap modulo 2^32. A refused pair throws TInvalidRequest and leaves
  // this value unchanged: "unknown type" for an unknown tag, else "type mismatch", or "not
  // implemented" where the pair is meaningful but not provided (dates, times, date-times).

  /// Sum, or for two strings (string or wideString) the concatenation: a null right string
  /// changes nothing, a null left one becomes a new string sharing the right's buffer. Throws
  /// TInvalidRequest "not implemented" when a date, time or datetime is on the left or an
  /// integer left has one on the right, "type mismatch" when the pair is another refused one,
  /// "unknown type" when a deciding tag is unknown; std::length_error when a string would
  /// grow past 4 GiB, std::bad_alloc when memory runs out.
  TagVar& operator+=(const TagVar& r);
  /// Difference; no strings. Throws TInvalidRequest "not implemented" when a date, time or
  /// datetime is on the left, "type mismatch" when the pair is another refused one, "unknown
  /// type" when a deciding tag is unknown.
  TagVar& operator-=(const TagVar& right);
  /// Product of numbers. Throws TInvalidRequest "type mismatch" when the pair is another,
  /// "unknown type" when a deciding tag is unknown.
  TagVar& operator*=(const TagVar& right);
  /// Quotient of numbers. Two integers divide signed; a pair with an unsigned integer divides
  /// unsigned (the left tag stays, except that an unsigned left with an integer right gives
  /// an integer); a pair with a real divides as doubles. Integer division never traps: a zero
  /// divisor gives 0, and -2147483648 / -1 wraps to -2147483648. Throws TInvalidRequest "type
  /// mismatch" when the pair is another, "unknown type" when a deciding tag is unknown.
  TagVar& operator/=(const TagVar& right);
  /// Remainder of two integers or unsigned integers, with the tags of operator/=. A zero
  /// divisor leaves the dividend (so x == (x / y) * y + x % y always holds), and
  /// -2147483648 % -1 is 0. Throws TInvalidRequest "type mismatch" when the pair is another,
  /// reals included, "unknown type" when a deciding tag is unknown.
  TagVar& operator%=(const TagVar& right);
  /// Bitwise or of integers and unsigned integers (the left tag stays), or of two strings
  /// bytewise over the left's length (null strings as for operator+=). Throws TInvalidRequest
  /// "type mismatch" when the pair is another, "unknown type" when a deciding tag is unknown;
  /// std::bad_alloc when the left string's buffer cannot be unshared.
  TagVar& operator|=(const TagVar& right);
  /// Bitwise and; the pairs and failures of operator|=. Throws as operator|= does.
  TagVar& operator&=(const TagVar& right);
  /// Bitwise exclusive or; the pairs and failures of operator|=. Throws as operator|= does.
  TagVar& operator^=(const TagVar& right);
  /// Left shift of an integer or unsigned integer by the right value (a real right is first
  /// truncated) modulo 32; a real left is truncated and gives an integer. Throws
  /// TInvalidRequest "type mismatch" when the pair is another, "unknown type" when a deciding
  /// tag is unknown.
  TagVar& operator<<=(const TagVar& right);
  /// Right shift, arithmetic for integers and reals, logical for unsigned integers. Throws as
  /// operator<<= does.
  TagVar& operator>>=(const TagVar& right);

  // Comparison. Numbers compare with numbers (an integer and an unsigned integer as 32-bit
  // patterns for equality), strings with strings, date-times with date-times, nil with nil
  // and endOfArgs with endOfArgs. Refused pairs throw as the arithmetic does.

  /// Whether the values are equal. Throws TInvalidRequest "not implemented" when a date or
  /// time is on the left, "type mismatch" when a voidptr is on the left or the pair is of
  /// different kinds, "unknown type" when a deciding tag is unknown.
  int IsEqual(const TagVar& r) const;
  /// Whether this value orders before `r`: signed unless both are unsigned; a null string or
  /// date-time orders before a non-null one. Throws as IsEqual does.
  int IsLessThan(const TagVar& r) const;
  /// Both truth values set; each side must be an integer, unsigned integer or real (a real
  /// counts by its truncated value, so 0.5 is false). Throws TInvalidRequest "type mismatch"
  /// when a side is another, "unknown type" when the left tag is unknown.
  int LogicalAnd(const TagVar& r) const;
  /// Either truth value set. Throws as LogicalAnd does.
  int LogicalOr(const TagVar& r) const;

  /// Whether the value is zero: a number by its (truncated) value, a string when its payload
  /// is null (an empty string is not). Throws TInvalidRequest "type mismatch" when the tag is
  /// another, "unknown type" when it is unknown.
  int operator!() const;
  /// The complement of an integer or unsigned integer. Throws TInvalidRequest "type mismatch"
  /// when the tag is another, "unknown type" when it is unknown.
  TagVar operator~() const;
  /// The negation of an integer (wrapping) or a real. Throws TInvalidRequest "type mismatch"
  /// when the tag is another, unsigned integers included, "unknown type" when it is unknown.
  TagVar operator-() const;
  /// A copy of a number. Throws TInvalidRequest "type mismatch" when the tag is another,
  /// "unknown type" when it is unknown.
  TagVar operator+() const;
  /// Adds 1 to a number (wrapping) or one second to a datetime (a null one is left alone);
  /// returns this value. Throws TInvalidRequest "not implemented" when the tag is date or
  /// time, "type mismatch" when it is another, "unknown type" when it is unknown.
  TagVar& operator++();
  /// Subtracts 1 or one second. Throws as operator++() does.
  TagVar& operator--();
  /// As operator++(), returning a copy of the value before the change. Throws as
  /// operator++() does.
  TagVar operator++(int);
  /// As operator--(), returning a copy of the value before the change. Throws as
  /// operator++() does.
  TagVar operator--(int);

  // Text form.

  /// Writes the value as text: "(nil)", "(endOfArgs)", numbers by the stream's own inserters
  /// (its base, precision and width apply), a string's bytes ("<NULL>" for a string without
  /// buffer, "(null)" for a null payload), a datetime as its "%c" text, a pointer as the
  /// stream writes pointers. Returns `os`. Throws TInvalidRequest "not implemented" when the
  /// tag is date or time, "unknown type" when it is unknown, having written nothing;
  /// std::bad_alloc when a datetime's text cannot be made.
  std::ostream& StreamOut(std::ostream& os) const;
  /// Reading the text form is not provided. Throws TInvalidRequest "not implemented" always.
  std::istream& StreamIn(std::istream& is);
  /// Writes the type word ("integer", "string" for both string tags, ...); an unknown tag
  /// writes "unknown(" and the tag in hexadecimal, then ")", leaving the stream in hexadecimal
  /// mode. Returns `os`. Throws std::ios_base::failure when the stream fails and its
  /// exception mask asks for it.
  std::ostream& PrintType(std::ostream& os) const;

  // Binary form: the tag as a 32-bit integer, then the payload, in the binary stream's byte
  // order. Strings and date-times carry a presence word (0 for a null payload); a wideString
  // reads back without its unicode flag, a datetime with zone 0, a date or time with a null
  // payload; a voidptr travels as the low 32 bits of the pointer, raw, and reads back
  // zero-extended.

  /// Writes the binary form; nothing on a stream whose failbit or badbit is set, and no
  /// payload when writing the tag failed. Returns `s`. Throws TInvalidRequest "unknown type"
  /// (error id 3) when the tag is unknown, after the tag has been written.
  ToBinaryStream& WriteToBinaryStream(ToBinaryStream& s) const;
  /// Replaces this value by the one read. The value first becomes nil; it stays nil on a
  /// stream that is failed or bad, or fails within the tag. A stream that fails within the
  /// payload leaves the tag read with what the payload's read reached (a number from the
  /// bytes that arrived, a string or datetime with a null payload, or a string without
  /// buffer when its text was cut short); a string of length 0 has no buffer. Nothing is
  /// thrown for a short stream. Returns `s`. Throws TInvalidRequest "unknown type" (error id
  /// 3) when the tag read is unknown, the value then nil; std::bad_alloc when a string's
  /// text cannot be allocated.
  TiBinaryStream& ReadFromBinaryStream(TiBinaryStream& s);

private:
  /// The 8 payload bytes. They are all zero for a new value, so each member reads as zero
  /// (0, 0u, 0.0 or a null pointer) until one is stored. A string or wideString holds its
  /// TString handle here, made in place, when fHasText says so (else the payload is null).
  union Payload {
    std::uint64_t fBits = 0;
    std::int32_t fSigned;
    std::uint32_t fUnsigned;
    double fReal;
    void* fPointer; ///< a heap TDate, TTime or TDateTime, or the voidptr target
  };

  /// Deletes the owned payload object, if any, and leaves a nil value with a zero payload.
  void CleanUp() noexcept;
  void StoreSigned(std::int32_t value) noexcept;
  void StoreUnsigned(std::uint32_t value) noexcept;
  void StoreReal(double value) noexcept;
  /// Releases the current payload, then stores `pointer` (already made) under `type`.
  void StorePointer(Type type, void* pointer) noexcept;
  /// Releases the current payload, then stores `text` under `type` (string or wideString).
  void StoreText(Type type, TString text) noexcept;
  /// The string payload of a string or wideString; null for a null payload or another tag.
  TString* Text() noexcept;
  const TString* Text() const noexcept;
  /// Moves the other's tag and payload into this nil value and leaves the other nil.
  void TakeFrom(TagVar& other) noexcept;
  /// Copies `other` into this nil value; raises "unknown type" quoting `unknownTypeLine`.
  void CopyFrom(const TagVar& other, unsigned long unknownTypeLine);
  /// Names an operator, and so the lines its errors quote; defined in the source.
  enum class Operation : unsigned char;
  /// The bodies shared by the operators: + - * / %, | & ^, << >>, the comparisons, && ||
  /// and the increments. Each raises the operator's errors before anything changes.
  TagVar& Arithmetic(const TagVar& right, Operation operation);
  TagVar& Bitwise(const TagVar& right, Operation operation);
  TagVar& Shift(const TagVar& right, Operation operation);
  int Compare(const TagVar& right, Operation operation) const;
  int Logical(const TagVar& right, Operation operation) const;
  /// Adds 1 (or subtracts it for the decrements); `before`, when given, receives the value
  /// before the change.
  void Step(Operation operation, TagVar* before);
  /// Stores `bits` as an unsignedInteger when `type` is one, else as an integer.
  void StoreBits(Type type, std::uint32_t bits) noexcept;
  /// The integer or unsigned integer payload as its 32 bits.
  std::uint32_t Bits() const noexcept;
  /// An integer, unsigned integer or real payload as a double (unsigned read as unsigned).
  double AsDouble() const noexcept;
  /// An integer, unsigned integer or real payload as an integer; a real is truncated.
  std::int32_t AsInteger() const noexcept;

  Type fType;
  bool fHasText = false; ///< a string payload is made in fValue
  Payload fValue;
};

#endif // TAVUTIL_TAGVAR_H
