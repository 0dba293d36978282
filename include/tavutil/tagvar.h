// tavutil/tagvar.h: TagVar, the tagged variant, and TagVarVoidPtr.
// Licensed under the Apache License, Version 2.0.
//
// Messages carry their arguments as TagVar values and trace scopes print them. A TagVar owns
// its string and date payloads; an untyped pointer is only carried, never owned.
#ifndef TAVUTIL_TAGVAR_H
#define TAVUTIL_TAGVAR_H

#include <cstdint>
#include <tavutil/config.h>
#include <tavutil/datetime.h>
#include <tavutil/tstring.h>

/// An untyped pointer on its way into a TagVar, kept apart from the string constructors.
///
///   TagVar argument(TagVarVoidPtr(&record));   // tag voidptr; the record is not owned
class TAVUTIL_API TagVarVoidPtr {
public:
  explicit TagVarVoidPtr(void* pointer = nullptr) noexcept : fPointer(pointer) {}
  void* QueryPointer() const noexcept { return fPointer; }

private:
  void* fPointer;
};

/// One value of one of eleven types, with its type tag.
///
/// Numbers are stored in place (integers as 32 bits whatever `long` is); strings, dates,
/// times and date-times are heap objects owned by the value, each copy making its own (a
/// string copy shares the text buffer). The accessors are strict: each accepts only its own
/// tags and throws TInvalidRequest "type mismatch" (error id 2) for any other; nothing
/// converts between types.
///
///   TagVar count(42L), name("disk"), when(TDateTime());
///   long n = count;                    // 42
///   const TString* s = name;           // the payload string
///   double d = count;                  // throws "type mismatch": count is an integer
///
/// A heap allocation that fails leaves a null payload under the new tag; nothing is thrown.
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

  /// A nil value.
  TagVar() noexcept : fType(nil) {}
  /// A value of tag `type` with a zero payload (a null pointer for the pointer types).
  TagVar(Type type) noexcept : fType(type) {}
  /// An integer; a wider `long` keeps its low 32 bits.
  TagVar(int value) noexcept;
  TagVar(long value) noexcept;
  TagVar(short value) noexcept;
  /// An unsigned integer; a wider `unsigned long` keeps its low 32 bits.
  TagVar(unsigned int value) noexcept;
  TagVar(unsigned long value) noexcept;
  TagVar(unsigned short value) noexcept;
  TagVar(double value) noexcept;
  /// A wideString when `s` holds unicode text, else a string; shares `s`'s buffer.
  TagVar(const TString& s);
  /// A string copied from the NUL-terminated text; null gives a string without buffer.
  TagVar(const char* s);
  TagVar(const unsigned char* s);
  /// A wideString holding the NUL-terminated UTF-16 text; null gives a string without buffer.
  TagVar(const _Wchar_t* s);
  TagVar(TDate value);
  TagVar(TTime value);
  TagVar(const TDateTime& value);
  /// A voidptr holding the wrapped pointer, which the value never owns or deletes.
  TagVar(const TagVarVoidPtr& pointer) noexcept;
  /// A copy with its own payload objects. Throws TInvalidRequest "unknown type" (error id 3)
  /// when `other` has an unknown tag.
  TagVar(const TagVar& other);
  ~TagVar();

  /// Each assignment releases the current payload, then stores the value as the constructor
  /// of the same argument type does, and returns this value.
  TagVar& operator=(int value) noexcept;
  TagVar& operator=(long value) noexcept;
  TagVar& operator=(short value) noexcept;
  TagVar& operator=(unsigned int value) noexcept;
  TagVar& operator=(unsigned long value) noexcept;
  TagVar& operator=(unsigned short value) noexcept;
  TagVar& operator=(double value) noexcept;
  TagVar& operator=(const TString& s);
  TagVar& operator=(const char* s);
  TagVar& operator=(const unsigned char* s);
  TagVar& operator=(const _Wchar_t* s);
  TagVar& operator=(TDate value);
  TagVar& operator=(TTime value);
  TagVar& operator=(const TDateTime& value);
  /// Releases the current payload and copies `other` (nothing happens when it is this value).
  /// Throws TInvalidRequest "unknown type" (error id 3) when `other` has an unknown tag; this
  /// value then holds that tag and no payload.
  TagVar& operator=(const TagVar& other);

  /// The type tag.
  Type QueryType() const noexcept { return fType; }
  int IsType(Type type) const noexcept { return fType == type; }
  int IsNil() const noexcept { return fType == nil; }
  int IsEndOfArgs() const noexcept { return fType == endOfArgs; }
  int IsInteger() const noexcept { return fType == integer; }
  int IsUnsignedInteger() const noexcept { return fType == unsignedInteger; }
  int IsReal() const noexcept { return fType == real; }
  /// True for tag string only (not wideString).
  int IsString() const noexcept { return fType == string; }
  int IsWideString() const noexcept { return fType == wideString; }
  int IsDate() const noexcept { return fType == date; }
  int IsTime() const noexcept { return fType == time; }
  int IsDateTime() const noexcept { return fType == datetime; }

  /// The payload string of a string or wideString, possibly null. Throws TInvalidRequest
  /// "type mismatch" (error id 2) for any other tag.
  const TString* QueryString() const;
  /// The same as QueryString().
  operator const TString*() const;
  /// The payload of a datetime, possibly null; throws "type mismatch" for any other tag.
  const TDateTime* QueryDateTime() const;
  /// The value of an integer; throws "type mismatch" for any other tag.
  operator long() const;
  /// The value of an unsignedInteger; throws "type mismatch" for any other tag.
  operator unsigned long() const;
  /// The value of a real; throws "type mismatch" for any other tag.
  operator double() const;
  /// The pointer of a voidptr; throws "type mismatch" for any other tag.
  void* QueryVoidPtr() const;

private:
  /// The 8 payload bytes. They are all zero for a new value, so each member reads as zero
  /// (0, 0u, 0.0 or a null pointer) until one is stored.
  union Payload {
    std::uint64_t fBits = 0;
    std::int32_t fSigned;
    std::uint32_t fUnsigned;
    double fReal;
    void* fPointer; ///< a heap TString, TDate, TTime or TDateTime, or the voidptr target
  };

  /// Deletes the owned payload object, if any, and leaves a nil value with a zero payload.
  void CleanUp() noexcept;
  void StoreSigned(std::int32_t value) noexcept;
  void StoreUnsigned(std::uint32_t value) noexcept;
  void StoreReal(double value) noexcept;
  /// Releases the current payload, then stores `pointer` (already made) under `type`.
  void StorePointer(Type type, void* pointer) noexcept;
  /// Copies `other` into this nil value; raises "unknown type" quoting `unknownTypeLine`.
  void CopyFrom(const TagVar& other, unsigned long unknownTypeLine);

  Type fType;
  Payload fValue;
};

#endif // TAVUTIL_TAGVAR_H
