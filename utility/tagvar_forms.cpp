// utility/tagvar_forms.cpp: the text form, the type words and the binary form of TagVar.
// Licensed under the Apache License, Version 2.0.
//
// Operating-system independent. Both binary directions go on while neither failbit nor
// badbit is set (fail() is false); eofbit alone does not stop them.
#include <tavutil/binstream.h>
#include <tavutil/datetime.h>
#include <tavutil/tagvar.h>
#include <tavutil/tstring.h>

#include "internal/tagvarerror.h"

#include <cstdint>
#include <cstring>
#include <istream>
#include <iterator>
#include <optional>
#include <ostream>

namespace {

constexpr char kNilText[] = "(nil)";
constexpr char kEndOfArgsText[] = "(endOfArgs)";
constexpr char kNullPayloadText[] = "(null)";
constexpr char kDateTimeFormat[] = "%c";
// fixed: lines quoted beyond this file's length
constexpr unsigned long kLineStreamOutUnknown = 2075;
constexpr unsigned long kLineStreamOutDate = 2101;
constexpr unsigned long kLineStreamOutTime = 2104;
constexpr unsigned long kLineStreamIn = 2123;

/// The type words, indexed by tag.
// fixed: a wideString is "string" too
constexpr const char* kTypeWords[] = {"nil",  "endOfArgs", "integer", "unsignedInteger",
                                      "real", "string",    "string",  "date",
                                      "time", "datetime",  "voidptr"};
static_assert(std::size(kTypeWords) == TagVar::voidptr + 1, "one type word per tag");
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
    tavutil::detail::RaiseNotImplemented(kLineStreamOutDate);
  case time:
    tavutil::detail::RaiseNotImplemented(kLineStreamOutTime);
  case datetime: {
    const auto* when = static_cast<const TDateTime*>(fValue.fPointer);
    return when == nullptr ? os << kNullPayloadText : when->QueryString(kDateTimeFormat).Print(os);
  }
  case voidptr:
    return os << static_cast<const void*>(fValue.fPointer);
  }
  tavutil::detail::RaiseUnknownType(kLineStreamOutUnknown);
}

// NOLINTNEXTLINE(readability-convert-member-functions-to-static): a member of the interface
std::istream& TagVar::StreamIn(std::istream& /*is*/) {
  tavutil::detail::RaiseNotImplemented(kLineStreamIn);
}

std::ostream& TagVar::PrintType(std::ostream& os) const {
  const auto tag = static_cast<std::uint32_t>(fType);
  if (tag < std::size(kTypeWords)) {
    return os << kTypeWords[tag];
  }
  return os << kUnknownTypeOpen << std::hex << static_cast<unsigned long>(tag) << kUnknownTypeClose;
}

// ------------------------------------------------------------- binary form ----

namespace {

// fixed: lines quoted beyond this file's length
constexpr unsigned long kLineReadUnknown = 2267;
constexpr unsigned long kLineWriteUnknown = 2340;
/// The presence word before a string or datetime payload.
constexpr int kAbsent = 0;
constexpr int kPresent = 1;
/// A voidptr travels as this many raw bytes: the low 32 bits of the pointer.
constexpr int kPointerBytes = 4;

/// A number read from `stream`; a short read keeps zeros where bytes did not arrive.
template <class T> T ReadNumber(TiBinaryStream& stream) {
  T value = 0;
  stream >> value;
  return value;
}

/// Whether a presence word arrives whole and announces a payload.
bool ReadPresence(TiBinaryStream& stream) {
  int presence = kAbsent;
  stream >> presence;
  return !stream.fail() && presence != kAbsent;
}

/// The TString form of a string payload; a form cut short, or a length of 0, gives a string
/// without buffer.
TString ReadText(TiBinaryStream& stream) {
  TString read;
  stream >> read;
  return read.length() != 0 ? read : TString();
}

/// The payload of a datetime after its tag: a new TDateTime of the time read and zone 0, or
/// null when absent, cut short or when memory runs out.
TDateTime* ReadDateTime(TiBinaryStream& stream) {
  if (!ReadPresence(stream)) {
    return nullptr;
  }
  int when = 0;
  stream >> when;
  return stream.fail() ? nullptr
                       : tavutil::detail::NewOrNull<TDateTime>(static_cast<long>(when), 0L);
}

/// The raw bytes of a voidptr, as written, zero-extended; those that do not arrive stay zero.
void* ReadPointerBytes(TiBinaryStream& stream) {
  std::uint32_t low = 0;
  unsigned char bytes[kPointerBytes] = {};
  stream.read(bytes, kPointerBytes);
  std::memcpy(&low, bytes, sizeof low);
  return reinterpret_cast<void*>(static_cast<std::uintptr_t>(low));
}

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
  tavutil::detail::RaiseUnknownType(kLineWriteUnknown);
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
  const auto type = static_cast<Type>(tag);
  switch (type) {
  case nil:
  case endOfArgs:
    fType = type;
    return s;
  case integer:
    StoreSigned(ReadNumber<int>(s));
    return s;
  case unsignedInteger:
    StoreUnsigned(ReadNumber<unsigned int>(s));
    return s;
  case real:
    StoreReal(ReadNumber<double>(s));
    return s;
  case string:
  case wideString:
    if (ReadPresence(s)) {
      StoreText(type, ReadText(s));
    } else {
      StorePointer(type, nullptr);
    }
    return s;
  case date:
  case time:
    StorePointer(type, nullptr);
    return s;
  case datetime:
    StorePointer(datetime, nullptr);
    if (TDateTime* when = ReadDateTime(s)) {
      StorePointer(datetime, when);
    }
    return s;
  case voidptr:
    StorePointer(voidptr, ReadPointerBytes(s));
    return s;
  }
  tavutil::detail::RaiseUnknownType(kLineReadUnknown);
}
