// utility/tagvar.cpp: TagVar values: construction, copying, moving, release and the strict
// accessors; the family's errors.
// Licensed under the Apache License, Version 2.0.
//
// Operating-system independent. Every error of the tagged values goes through the three
// routines of internal/tagvarerror.h, defined here. The operators are in
// tagvar_operators.cpp, the text and binary forms in tagvar_forms.cpp.
#include <tavutil/exception.h>
#include <tavutil/tagvar.h>
#include <tavutil/trace.h>

#include "internal/raise.h"
#include "internal/tagvarerror.h"

#include <cstdint>
#include <new>
#include <optional>
#include <utility>

namespace {

using tavutil::detail::NewOrNull;
using tavutil::detail::RaiseTypeMismatch;
using tavutil::detail::RaiseUnknownType;

constexpr char kSource[] = "utility/TAGVAR";

constexpr char kNotImplemented[] = "not implemented";
constexpr unsigned long kNotImplementedId = 1;
constexpr char kTypeMismatch[] = "type mismatch";
constexpr unsigned long kTypeMismatchId = 2;
constexpr char kUnknownType[] = "unknown type";
constexpr unsigned long kUnknownTypeId = 3;

// fixed: the lines quoted, which are not this file's own (some beyond its length)
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
    RaiseTypeMismatch(line);
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

// ------------------------------------------------------------------ errors ----

void tavutil::detail::RaiseTypeMismatch(unsigned long line) {
  RaiseTagVarError(kTypeMismatch, kTypeMismatchId, TException::recoverable, line);
}

void tavutil::detail::RaiseNotImplemented(unsigned long line) {
  RaiseTagVarError(kNotImplemented, kNotImplementedId, TException::unrecoverable, line);
}

void tavutil::detail::RaiseUnknownType(unsigned long line) {
  RaiseTagVarError(kUnknownType, kUnknownTypeId, TException::unrecoverable, line);
}

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
TagVar::TagVar(const TString& s) noexcept
    : fType(s.IsUnicode() ? wideString : string), fHasText(true) {
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
TagVar::TagVar(TDate value) noexcept : TagVar() {
  *this = value;
}
TagVar::TagVar(TTime value) noexcept : TagVar() {
  *this = value;
}
TagVar::TagVar(const TDateTime& value) noexcept : TagVar() {
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

TagVar& TagVar::operator=(const TString& s) noexcept {
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

TagVar& TagVar::operator=(TDate /*value*/) noexcept {
  StorePointer(date, NewOrNull<TDate>());
  return *this;
}

TagVar& TagVar::operator=(TTime /*value*/) noexcept {
  StorePointer(time, NewOrNull<TTime>());
  return *this;
}

TagVar& TagVar::operator=(const TDateTime& value) noexcept {
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
  RaiseUnknownType(unknownTypeLine);
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
