// utility/message.cpp: TMessage construction, arguments, copying, rendering and binary form;
// the store registry.
// Licensed under the Apache License, Version 2.0.
//
// Operating-system independent. Every way of giving arguments ends in CopyEach, which
// builds the new array completely before the old one is released, so arguments may be taken
// from the message itself. Rendering formats one conversion at a time with snprintf, from a
// directive it builds itself and a value of the exact C type, so no format byte ever reaches the
// runtime's formatter unchecked. Reading the binary form trusts no count it reads: the argument
// array grows with the arguments that arrive.
#include <tavutil/binstream.h>
#include <tavutil/exception.h>
#include <tavutil/message.h>

#include "internal/arglist.h"
#include "internal/messagetext.h"
#include "internal/printf_format.h"
#include "internal/raise.h"
#include "internal/scopedlock.h"
#include "internal/setelements.h"
#include "internal/textbuffer.h"
#include "internal/tracepoint.h"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ios>
#include <iterator>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

using tavutil::detail::ScopedLock;
using tavutil::detail::SourceLine;

constexpr char kSource[] = "utility/MESSAGE";
constexpr char kOutOfRange[] = "Out of Range";
constexpr char kRequestedArgument[] = "Reqested argument %u in message from %s[%u]";
constexpr unsigned long kLineRequestedArgument = 236;
constexpr unsigned long kLineOutOfRange = 240;
constexpr unsigned long kDiagnosticLevel = 0x8;

using tavutil::detail::EndsList;

} // namespace

// ------------------------------------------------------------ construction ----

TMessage::TMessage() : fSetId(0), fMessageId(0), fText(""), fFileName(nullptr), fLine(0) {}

TMessage::TMessage(const char* text)
    : fSetId(0), fMessageId(0), fText(text), fFileName(nullptr), fLine(0) {}

TMessage::TMessage(const char* text, const TagVar& a1) : TMessage(text) {
  EmplaceArguments(a1);
}

TMessage::TMessage(const char* text, const TagVar& a1, const TagVar& a2) : TMessage(text) {
  EmplaceArguments(a1, a2);
}

TMessage::TMessage(const char* text, const TagVar& a1, const TagVar& a2, const TagVar& a3)
    : TMessage(text) {
  EmplaceArguments(a1, a2, a3);
}

TMessage::TMessage(const char* text, const TagVar& a1, const TagVar& a2, const TagVar& a3,
                   const TagVar& a4)
    : TMessage(text) {
  EmplaceArguments(a1, a2, a3, a4);
}

TMessage::TMessage(const char* text, const TagVar& a1, const TagVar& a2, const TagVar& a3,
                   const TagVar& a4, const TagVar& a5)
    : TMessage(text) {
  EmplaceArguments(a1, a2, a3, a4, a5);
}

TMessage::TMessage(const char* text, const TagVar& a1, const TagVar& a2, const TagVar& a3,
                   const TagVar& a4, const TagVar& a5, const TagVar& a6)
    : TMessage(text) {
  EmplaceArguments(a1, a2, a3, a4, a5, a6);
}

TMessage::TMessage(const char* text, const TagVar& a1, const TagVar& a2, const TagVar& a3,
                   const TagVar& a4, const TagVar& a5, const TagVar& a6, const TagVar& a7)
    : TMessage(text) {
  EmplaceArguments(a1, a2, a3, a4, a5, a6, a7);
}

TMessage::TMessage(const char* text, const TagVar* first, ...) : TMessage(text) {
  std::va_list rest;
  va_start(rest, first);
  CopyList(first, &rest);
  va_end(rest);
}

TMessage::TMessage(const char* text, const TagVar** list) : TMessage(text) {
  CopyList(list);
}

TMessage::TMessage(const StoreID& store, long setId, long messageId, const char* defaultText)
    : fStore(store), fSetId(static_cast<std::int32_t>(setId)),
      fMessageId(static_cast<std::int32_t>(messageId)), fText(defaultText), fFileName(nullptr),
      fLine(0) {}

TMessage::TMessage(const StoreID& store, long setId, long messageId, const char* defaultText,
                   const TagVar& a1)
    : TMessage(store, setId, messageId, defaultText) {
  EmplaceArguments(a1);
}

TMessage::TMessage(const StoreID& store, long setId, long messageId, const char* defaultText,
                   const TagVar& a1, const TagVar& a2)
    : TMessage(store, setId, messageId, defaultText) {
  EmplaceArguments(a1, a2);
}

TMessage::TMessage(const StoreID& store, long setId, long messageId, const char* defaultText,
                   const TagVar& a1, const TagVar& a2, const TagVar& a3)
    : TMessage(store, setId, messageId, defaultText) {
  EmplaceArguments(a1, a2, a3);
}

TMessage::TMessage(const StoreID& store, long setId, long messageId, const char* defaultText,
                   const TagVar& a1, const TagVar& a2, const TagVar& a3, const TagVar& a4)
    : TMessage(store, setId, messageId, defaultText) {
  EmplaceArguments(a1, a2, a3, a4);
}

TMessage::TMessage(const StoreID& store, long setId, long messageId, const char* defaultText,
                   const TagVar& a1, const TagVar& a2, const TagVar& a3, const TagVar& a4,
                   const TagVar& a5)
    : TMessage(store, setId, messageId, defaultText) {
  EmplaceArguments(a1, a2, a3, a4, a5);
}

TMessage::TMessage(const StoreID& store, long setId, long messageId, const char* defaultText,
                   const TagVar& a1, const TagVar& a2, const TagVar& a3, const TagVar& a4,
                   const TagVar& a5, const TagVar& a6)
    : TMessage(store, setId, messageId, defaultText) {
  EmplaceArguments(a1, a2, a3, a4, a5, a6);
}

TMessage::TMessage(const StoreID& store, long setId, long messageId, const char* defaultText,
                   const TagVar& a1, const TagVar& a2, const TagVar& a3, const TagVar& a4,
                   const TagVar& a5, const TagVar& a6, const TagVar& a7)
    : TMessage(store, setId, messageId, defaultText) {
  EmplaceArguments(a1, a2, a3, a4, a5, a6, a7);
}

TMessage::TMessage(const StoreID& store, long setId, long messageId, const char* defaultText,
                   const TagVar* first, ...)
    : TMessage(store, setId, messageId, defaultText) {
  std::va_list rest;
  va_start(rest, first);
  CopyList(first, &rest);
  va_end(rest);
}

TMessage::TMessage(const StoreID& store, long setId, long messageId, const char* defaultText,
                   const TagVar** list)
    : TMessage(store, setId, messageId, defaultText) {
  CopyList(list);
}

// --------------------------------------------------------------- arguments ----

TMessage::Arguments::Arguments(Arguments&& other) noexcept {
  *this = std::move(other);
}

TMessage::Arguments& TMessage::Arguments::operator=(Arguments&& other) noexcept {
  if (this == &other) {
    return *this;
  }
  Clear();
  const bool inPlace = other.fData == other.fSlots;
  if (inPlace) {
    for (std::uint32_t i = 0; i < other.fSize; ++i) {
      new (&fSlots[i]) TagVar(std::move(other.fSlots[i]));
    }
    fData = fSlots;
  } else {
    fData = other.fData;
  }
  fSize = other.fSize;
  fRoom = other.fRoom;
  if (inPlace) {
    other.Clear(); // releases the moved-from (nil) slots
  } else {
    other.fData = nullptr;
    other.fSize = 0;
    other.fRoom = 0;
  }
  return *this;
}

void TMessage::Arguments::Reserve(std::uint32_t count) {
  Clear();
  if (count == 0) {
    return;
  }
  if (count <= kInline) {
    fData = fSlots;
  } else {
    if (count > std::numeric_limits<std::size_t>::max() / sizeof(TagVar)) {
      throw std::bad_alloc();
    }
    fData = static_cast<TagVar*>(::operator new (sizeof(TagVar) * std::size_t{count}));
  }
  fRoom = count;
}

void TMessage::Arguments::Clear() noexcept {
  for (std::uint32_t i = 0; i < fSize; ++i) {
    fData[i].~TagVar();
  }
  if (fData != fSlots) {
    ::operator delete(fData);
  }
  fData = nullptr;
  fSize = 0;
  fRoom = 0;
}

// ------------------------------------------------------ copy and release ----

TMessage::TMessage(const TMessage& other)
    : fStore(other.fStore), fSetId(other.fSetId), fMessageId(other.fMessageId),
      fText(other.OwnedText()), fFile(other.fFile), fFileName(other.fFileName), fLine(other.fLine) {
  if (other.fFileName != nullptr && other.fFileName == static_cast<const char*>(other.fFile)) {
    fFileName = fFile; // its own copy's text, not the other message's
  }
  fArgs.Reserve(other.fArgs.Size());
  for (std::uint32_t i = 0; i < other.fArgs.Size(); ++i) {
    fArgs.Emplace(other.fArgs.Data()[i]);
  }
}

TMessage::TMessage(TMessage&& other) noexcept
    : fStore(std::move(other.fStore)), fSetId(other.fSetId), fMessageId(other.fMessageId),
      fText(std::move(other.fText)), fBorrowedText(other.fBorrowedText),
      fRendered(std::move(other.fRendered)), fArgs(std::move(other.fArgs)),
      fFile(std::move(other.fFile)), fFileName(other.fFileName), fLine(other.fLine) {
  // fFileName points into the buffer that moved with fFile, or at a literal.
  other.fSetId = 0;
  other.fMessageId = 0;
  other.fBorrowedText = nullptr;
  other.fFileName = nullptr;
  other.fLine = 0;
}

TMessage& TMessage::operator=(const TMessage& other) {
  if (this != &other) {
    *this = TMessage(other); // a throwing argument copy leaves this message as it was
  }
  return *this;
}

TMessage& TMessage::operator=(TMessage&& other) noexcept {
  if (this != &other) {
    fStore = std::move(other.fStore);
    fSetId = other.fSetId;
    fMessageId = other.fMessageId;
    fText = std::move(other.fText);
    fBorrowedText = other.fBorrowedText;
    fRendered = std::move(other.fRendered);
    fArgs = std::move(other.fArgs);
    fFile = std::move(other.fFile);
    fFileName = other.fFileName;
    fLine = other.fLine;
    other.fSetId = 0;
    other.fMessageId = 0;
    other.fBorrowedText = nullptr;
    other.fFileName = nullptr;
    other.fLine = 0;
  }
  return *this;
}

TMessage::~TMessage() = default;

void TMessage::CopyArguments(const TagVar* const* pointers, unsigned count) {
  // Made completely before the old ones go, so they may be taken from this message itself.
  Arguments copies;
  copies.Reserve(count);
  for (unsigned i = 0; i < count; ++i) {
    copies.Emplace(*pointers[i]);
  }
  fArgs = std::move(copies);
}

void TMessage::CopyList(const TagVar* first, std::va_list* rest) {
  // Two walks over the list: one to count, one (over a copy of the list) to collect.
  std::va_list counting;
  va_copy(counting, *rest);
  unsigned count = 0;
  for (const TagVar* entry = first; !EndsList(entry); entry = va_arg(counting, const TagVar*)) {
    ++count;
  }
  va_end(counting);
  Arguments copies;
  copies.Reserve(count);
  const TagVar* entry = first;
  for (unsigned i = 0; i < count; ++i) {
    copies.Emplace(*entry);
    if (i + 1 < count) {
      entry = va_arg(*rest, const TagVar*);
    }
  }
  fArgs = std::move(copies);
}

void TMessage::CopyList(const TagVar* const* list) {
  unsigned count = 0;
  while (list != nullptr && !EndsList(list[count])) {
    ++count;
  }
  CopyArguments(list, count);
}

void TMessage::SetArgs() {
  fArgs.Clear();
}

void TMessage::SetArgs(const TagVar& a1) {
  const TagVar* list[] = {&a1};
  CopyArguments(list, 1);
}

void TMessage::SetArgs(const TagVar& a1, const TagVar& a2) {
  const TagVar* list[] = {&a1, &a2};
  CopyArguments(list, 2);
}

void TMessage::SetArgs(const TagVar& a1, const TagVar& a2, const TagVar& a3) {
  const TagVar* list[] = {&a1, &a2, &a3};
  CopyArguments(list, 3);
}

void TMessage::SetArgs(const TagVar& a1, const TagVar& a2, const TagVar& a3, const TagVar& a4) {
  const TagVar* list[] = {&a1, &a2, &a3, &a4};
  CopyArguments(list, 4);
}

void TMessage::SetArgs(const TagVar& a1, const TagVar& a2, const TagVar& a3, const TagVar& a4,
                       const TagVar& a5) {
  const TagVar* list[] = {&a1, &a2, &a3, &a4, &a5};
  CopyArguments(list, 5);
}

void TMessage::SetArgs(const TagVar& a1, const TagVar& a2, const TagVar& a3, const TagVar& a4,
                       const TagVar& a5, const TagVar& a6) {
  const TagVar* list[] = {&a1, &a2, &a3, &a4, &a5, &a6};
  CopyArguments(list, 6);
}

void TMessage::SetArgs(const TagVar& a1, const TagVar& a2, const TagVar& a3, const TagVar& a4,
                       const TagVar& a5, const TagVar& a6, const TagVar& a7) {
  const TagVar* list[] = {&a1, &a2, &a3, &a4, &a5, &a6, &a7};
  CopyArguments(list, 7);
}

void TMessage::SetArgs(const TagVar* first, ...) {
  std::va_list rest;
  va_start(rest, first);
  CopyList(first, &rest);
  va_end(rest);
}

void TMessage::SetArgs(const TagVar** list) {
  CopyList(list);
}

void TMessage::CheckIndex(unsigned index) const {
  if (index < fArgs.Size()) {
    return;
  }
  if (QueryFile() != nullptr) {
    TAVUTIL_TRACE_AT(kDiagnosticLevel, TUtilityTraceCategory::Message, kSource,
                     kLineRequestedArgument, kRequestedArgument, index, TString(fFileName),
                     static_cast<unsigned long>(fLine));
  }
  tavutil::detail::Raise<TInvalidParameter>(kOutOfRange, SourceLine{kSource, kLineOutOfRange},
                                            TUtilityTraceCategory::Message);
}

TagVar& TMessage::operator[](unsigned index) {
  CheckIndex(index);
  return fArgs.Data()[index];
}

const TagVar& TMessage::operator[](unsigned index) const {
  CheckIndex(index);
  return fArgs.Data()[index];
}

void TMessage::SetDebugging(const char* file, unsigned long line) {
  fFile = TString(file);
  fFileName = fFile;
  fLine = static_cast<std::uint32_t>(line);
}

void TMessage::SetStaticDebugging(const char* file, unsigned long line) noexcept {
  fFile = TString();
  fFileName = file;
  fLine = static_cast<std::uint32_t>(line);
}

// -------------------------------------------------------------- the block ----

TMessage::CharP::CharP() noexcept : fRoom(0), fUsed(0) {}

TMessage::CharP::~CharP() = default;

void TMessage::CharP::Reset(std::size_t room) {
  fBuffer.reset();
  fRoom = 0;
  fUsed = 0;
  if (room != 0) {
    fBuffer.reset(new char[room]());
    fRoom = room;
  }
}

bool TMessage::CharP::Append(const void* data, std::size_t size) noexcept {
  if (size > fRoom - fUsed) {
    return false;
  }
  if (size == 0) {
    return true; // the buffer may be null
  }
  std::memcpy(fBuffer.get() + fUsed, data, size);
  fUsed += size;
  return true;
}

// ---------------------------------------------------------- format walk ----

namespace {

using tavutil::detail::ConversionKind;
using tavutil::detail::FormatField;
using tavutil::detail::FormatParser;
using tavutil::detail::FormatUnit;

constexpr char kPercentN[] = "%%n found in format string in message(%s,%u,%u) from %s[%u]";
constexpr char kWidthMismatch[] =
    "Type mismatch in message(%s,%u,%u), expecting width for argument %d from %s[%u]";
constexpr char kPrecisionMismatch[] =
    "Type mismatch in message(%s,%u,%u) expecting precision for argument %d from %s[%u]";
constexpr char kValueMismatch[] =
    "Type mismatch in message(%s,%u,%u) expecting %c for argument %d from %s[%u]";
constexpr unsigned long kLinePercentN = 412;
constexpr unsigned long kLineWidthMismatch = 437;
constexpr unsigned long kLinePrecisionMismatch = 449;
constexpr unsigned long kLineValueMismatch = 468;

/// Room in the argument block per message argument.
constexpr std::size_t kRoomPerArgument = 16;
/// What the estimate counts at least for a width or precision, and for a mismatched item.
constexpr std::uint32_t kFieldEstimate = 20;
constexpr std::uint32_t kRealEstimate = 40;
constexpr std::uint32_t kIntegerEstimate = 20;
constexpr std::uint32_t kCharEstimate = 10;
constexpr std::uint32_t kPointerEstimate = 20;
/// A real's digits are exact (every digit a double has, its rounding included) at any
/// precision up to this; a larger precision only adds zeros, which the render limit cuts.
constexpr std::uint32_t kExactRealDigits = 1100;
/// What a `%s` with a null pointer (a mismatch, or a string without buffer) prints.
constexpr char kNullText[] = "(null)";

/// The values a valid conversion takes from the message's arguments.
struct BoundValues {
  std::uint32_t width = 0;     ///< the literal width, or the bits of the `*` argument
  std::uint32_t precision = 0; ///< likewise
  std::uint32_t bits = 0;      ///< integer and character values
  double real = 0.0;
  const void* pointer = nullptr;
  const char* text = nullptr; ///< %s: the string's characters, null for a mismatch
  std::size_t textLength = 0;
};

/// What tells a `*` width from a `*` precision while binding: the least a taken value adds
/// to the estimate, and the diagnostic of a missing or mismatched argument. What a negative
/// value means differs at rendering.
struct StarRule {
  std::uint32_t estimateFloor;
  const char* mismatch;
  unsigned long line;
};

constexpr StarRule kWidthRule{kFieldEstimate, kWidthMismatch, kLineWidthMismatch};
constexpr StarRule kPrecisionRule{0, kPrecisionMismatch, kLinePrecisionMismatch};

/// Binds each conversion's width, precision and value to the message's arguments, traces
/// what is missing or mismatched, adds up the size estimate and, given a block, pushes the
/// values into it in format order.
class ArgumentBinder {
public:
  /// Binds to `count` arguments at `arguments`, the message's own.
  ArgumentBinder(const TMessage& message, const TagVar* arguments, std::uint32_t count,
                 TMessage::CharP* block) noexcept
      : fMessage(message), fArguments(arguments), fCount(count), fBlock(block) {}

  /// The values of a valid conversion: a `%n` is traced, then width, precision and value are
  /// taken in this order.
  BoundValues Bind(const FormatUnit& unit);
  /// The value of a conversion without flags, width, precision or position: `kind` and
  /// `conversion` of argument `number`, into `values`.
  void BindValue(ConversionKind kind, char conversion, std::uint32_t number, BoundValues& values);
  void AddEstimate(std::uint32_t size) noexcept { fEstimate += size; }
  std::uint32_t Estimate() const noexcept { return fEstimate; }

private:
  /// The argument of a 1-based number, or null when there is no such argument.
  const TagVar* Argument(std::uint32_t number) const noexcept {
    return number == 0 || number > fCount ? nullptr : fArguments + (number - 1);
  }
  /// The 32 bits of an integer or unsigned integer argument; false for any other.
  bool IntegerBits(std::uint32_t number, std::uint32_t& bits) const;
  void Push(const void* data, std::size_t size) noexcept {
    // A value that does not fit is left out of the block; rendering does not read the block.
    if (fBlock != nullptr) {
      static_cast<void>(fBlock->Append(data, size));
    }
  }
  /// A width or a precision: a literal one as written; a `*` one pushes its argument's 32 bits
  /// (zero, traced, when the argument is missing or not an integer). Adds to the estimate.
  std::uint32_t BindField(const FormatField& field, const StarRule& rule);
  void TraceFieldMismatch(const StarRule& rule, std::uint32_t number) const;
  void TraceValueMismatch(char conversion, std::uint32_t number) const;
  void TracePercentN() const;

  const TMessage& fMessage;
  const TagVar* fArguments;
  std::uint32_t fCount;
  TMessage::CharP* fBlock;
  std::uint32_t fEstimate = 0;
};

bool ArgumentBinder::IntegerBits(std::uint32_t number, std::uint32_t& bits) const {
  const TagVar* argument = Argument(number);
  if (argument == nullptr) {
    return false;
  }
  if (argument->IsInteger()) {
    bits = static_cast<std::uint32_t>(static_cast<long>(*argument));
    return true;
  }
  if (argument->IsUnsignedInteger()) {
    bits = static_cast<std::uint32_t>(static_cast<unsigned long>(*argument));
    return true;
  }
  return false;
}

BoundValues ArgumentBinder::Bind(const FormatUnit& unit) {
  const ConversionKind kind = unit.kind;
  if (kind == ConversionKind::count) {
    TracePercentN();
  }
  BoundValues values;
  values.width = BindField(unit.width, kWidthRule);
  values.precision = BindField(unit.precision, kPrecisionRule);
  BindValue(kind, kind == ConversionKind::count ? '?' : unit.conversion, unit.argument, values);
  return values;
}

void ArgumentBinder::BindValue(ConversionKind kind, char conversion, std::uint32_t number,
                               BoundValues& values) {
  const TagVar* argument = Argument(number);
  switch (kind) {
  case ConversionKind::integer:
  case ConversionKind::character:
    if (!IntegerBits(number, values.bits)) {
      values.bits = 0;
      TraceValueMismatch(conversion, number);
    }
    Push(&values.bits, sizeof values.bits);
    fEstimate += kind == ConversionKind::integer ? kIntegerEstimate : kCharEstimate;
    break;
  case ConversionKind::real:
    if (argument != nullptr && argument->IsReal()) {
      values.real = static_cast<double>(*argument);
    } else {
      TraceValueMismatch(conversion, number);
    }
    Push(&values.real, sizeof values.real); // 0.0 is eight zero bytes
    fEstimate += kRealEstimate;
    break;
  case ConversionKind::pointer:
    if (argument != nullptr && argument->IsType(TagVar::voidptr)) {
      values.pointer = argument->QueryVoidPtr();
    } else {
      TraceValueMismatch(conversion, number);
    }
    Push(&values.pointer, sizeof values.pointer);
    fEstimate += kPointerEstimate;
    break;
  case ConversionKind::text:
    if (argument != nullptr && argument->IsString()) {
      const TString* text = argument->QueryString();
      if (text != nullptr) {
        values.text = *text;
        values.textLength = values.text != nullptr ? text->length() : 0;
      }
      fEstimate += static_cast<std::uint32_t>(values.textLength);
    } else {
      TraceValueMismatch(conversion, number);
      fEstimate += kFieldEstimate;
    }
    Push(&values.text, sizeof values.text);
    break;
  case ConversionKind::count: // its argument number is used up; nothing is pushed
  case ConversionKind::none:
    break;
  }
}

void ArgumentBinder::TracePercentN() const {
  TAVUTIL_TRACE_AT(kDiagnosticLevel, TUtilityTraceCategory::Message, kSource, kLinePercentN,
                   kPercentN, static_cast<const TString&>(fMessage.QueryStoreID()),
                   fMessage.QuerySetID(), fMessage.QueryMessageID(), TString(fMessage.QueryFile()),
                   fMessage.QueryLine());
}

std::uint32_t ArgumentBinder::BindField(const FormatField& field, const StarRule& rule) {
  if (!field.fromArgument) {
    fEstimate += std::max(field.value, kFieldEstimate);
    return field.value;
  }
  std::uint32_t bits = 0;
  const bool given = IntegerBits(field.argument, bits);
  Push(&bits, sizeof bits);
  if (!given) {
    fEstimate += kFieldEstimate;
    TraceFieldMismatch(rule, field.argument);
    return 0;
  }
  fEstimate += std::max(bits, rule.estimateFloor);
  return bits;
}

void ArgumentBinder::TraceFieldMismatch(const StarRule& rule, std::uint32_t number) const {
  TAVUTIL_TRACE_AT(kDiagnosticLevel, TUtilityTraceCategory::Message, kSource, rule.line,
                   rule.mismatch, static_cast<const TString&>(fMessage.QueryStoreID()),
                   fMessage.QuerySetID(), fMessage.QueryMessageID(),
                   static_cast<long>(static_cast<std::int32_t>(number)),
                   TString(fMessage.QueryFile()), fMessage.QueryLine());
}

void ArgumentBinder::TraceValueMismatch(char conversion, std::uint32_t number) const {
  TAVUTIL_TRACE_AT(kDiagnosticLevel, TUtilityTraceCategory::Message, kSource, kLineValueMismatch,
                   kValueMismatch, static_cast<const TString&>(fMessage.QueryStoreID()),
                   fMessage.QuerySetID(), fMessage.QueryMessageID(),
                   static_cast<long>(static_cast<unsigned char>(conversion)),
                   static_cast<long>(static_cast<std::int32_t>(number)),
                   TString(fMessage.QueryFile()), fMessage.QueryLine());
}

/// Writes a conversion as the sequential C formatter reads it, through `put(bytes, size)`:
/// positions and `*n$` numbers dropped, a length modifier kept only on `%c` and `%s`, `%n`
/// written `%?`. Never longer than the conversion as written.
template <class Put> void RewriteConversion(const char* format, const FormatUnit& unit, Put put) {
  put("%", 1);
  put(format + unit.flagsBegin, unit.flagsEnd - unit.flagsBegin);
  auto field = [&](const FormatField& written) {
    if (written.fromArgument) {
      put("*", 1);
    } else {
      put(format + written.digitsBegin, written.digitsEnd - written.digitsBegin);
    }
  };
  if (unit.width.present) {
    field(unit.width);
  }
  if (unit.precision.present) {
    put(".", 1);
    field(unit.precision);
  }
  if (unit.lengthModifier != 0 &&
      (unit.kind == ConversionKind::character || unit.kind == ConversionKind::text)) {
    put(&unit.lengthModifier, 1);
  }
  const char conversion = unit.kind == ConversionKind::count ? '?' : unit.conversion;
  put(&conversion, 1);
}

/// Refuses a format whose length a TString cannot hold with its terminator.
void CheckFormatLength(std::size_t length) {
  if (length >= std::numeric_limits<unsigned int>::max()) {
    throw std::length_error("message format too long");
  }
}

// ------------------------------------------------------------- rendering ----

using tavutil::detail::TextBuffer;

/// Takes back the end of a UTF-8 sequence that the render limit cut short, looking no further
/// back than `from`, where the text began.
void TrimCutSequence(TextBuffer& out, std::size_t from) noexcept {
  if (!out.Full()) {
    return;
  }
  // Back to the lead byte of the last sequence; drop it when its sequence is incomplete.
  const char* data = out.Data();
  std::size_t lead = out.Size();
  std::size_t continuation = 0;
  while (lead > from && continuation < 4 &&
         (static_cast<unsigned char>(data[lead - 1]) & 0xC0) == 0x80) {
    --lead;
    ++continuation;
  }
  if (lead == from) {
    return;
  }
  const auto byte = static_cast<unsigned char>(data[lead - 1]);
  const std::size_t expected = byte >= 0xF0 ? 3 : byte >= 0xE0 ? 2 : byte >= 0xC0 ? 1 : 0;
  if (expected > continuation) {
    out.Truncate(lead - 1);
  }
}

/// Appends `size` bytes padded with spaces to `width`, on the left unless `left`.
void AppendPadded(TextBuffer& out, const char* data, std::size_t size, std::uint32_t width,
                  bool left) {
  const std::size_t pad = width > size ? width - size : 0;
  if (!left) {
    out.Fill(pad, ' ');
  }
  out.Append(data, size);
  if (left) {
    out.Fill(pad, ' ');
  }
}

/// Appends an integer conversion without flags, width or precision: the digits alone, with a
/// '-' for a negative `d` or `i`.
void AppendPlainInteger(TextBuffer& out, char conversion, std::uint32_t bits) {
  char* const room = out.Room(12);
  std::to_chars_result written{};
  switch (conversion) {
  case 'd':
  case 'i':
    written = std::to_chars(room, room + 12, static_cast<std::int32_t>(bits));
    break;
  case 'o':
    written = std::to_chars(room, room + 12, bits, 8);
    break;
  case 'x':
  case 'X':
    written = std::to_chars(room, room + 12, bits, 16);
    if (conversion == 'X') {
      std::transform(room, written.ptr, room, [](char digit) {
        return digit >= 'a' && digit <= 'f' ? static_cast<char>(digit - 'a' + 'A') : digit;
      });
    }
    break;
  default: // 'u'
    written = std::to_chars(room, room + 12, bits);
    break;
  }
  out.Commit(static_cast<std::size_t>(written.ptr - room));
}

/// Appends a `%s` value: the string's bytes up to its first NUL (at most `precision` of
/// them when `hasPrecision`), or "(null)" for a null pointer; padded to `width`.
void AppendText(TextBuffer& out, const BoundValues& values, bool hasPrecision,
                std::uint32_t precision, std::uint32_t width, bool left) {
  const char* text = values.text != nullptr ? values.text : kNullText;
  std::size_t size =
      values.text != nullptr ? ::strnlen(values.text, values.textLength) : sizeof kNullText - 1;
  if (hasPrecision) {
    size = std::min<std::size_t>(size, precision);
  }
  AppendPadded(out, text, size, width, left);
}

/// Formats one real or pointer with snprintf from `directive` (which has no width) into a
/// buffer of the size snprintf reports, then pads it to `width`: with zeros after the sign
/// for `zeros` (a finite real only), else with spaces.
template <class Value>
void AppendFormatted(TextBuffer& out, const char* directive, Value value, std::uint32_t width,
                     bool left, bool zeros) {
  char local[512];
  const int size = std::snprintf(local, sizeof local, directive, value);
  if (size < 0) {
    return; // an encoding error prints nothing
  }
  std::vector<char> large;
  const char* text = local;
  if (static_cast<std::size_t>(size) >= sizeof local) {
    large.resize(static_cast<std::size_t>(size) + 1);
    std::snprintf(large.data(), large.size(), directive, value);
    text = large.data();
  }
  const auto length = static_cast<std::size_t>(size);
  if (!zeros || left || width <= length) {
    AppendPadded(out, text, length, width, left);
    return;
  }
  const std::size_t sign = text[0] == '-' || text[0] == '+' || text[0] == ' ' ? 1 : 0;
  out.Append(text, sign);
  out.Fill(width - length, '0');
  out.Append(text + sign, length - sign);
}

/// The width and precision of a conversion as it renders: a negative `*` width means
/// left-justified in its magnitude, a negative `*` precision means none.
struct Fields {
  std::uint8_t flags;
  bool hasWidth;
  std::uint32_t width;
  bool hasPrecision;
  std::uint32_t precision;
};

Fields ResolveFields(const FormatUnit& unit, const BoundValues& values) noexcept {
  Fields fields{unit.flags, unit.width.present, values.width, unit.precision.present,
                values.precision};
  if (unit.width.fromArgument) {
    const auto value = static_cast<std::int64_t>(static_cast<std::int32_t>(values.width));
    if (value < 0) {
      fields.flags |= tavutil::detail::kFlagLeft;
    }
    fields.width = static_cast<std::uint32_t>(value < 0 ? -value : value);
  }
  if (unit.precision.fromArgument) {
    const auto value = static_cast<std::int32_t>(values.precision);
    fields.hasPrecision = value >= 0;
    fields.precision = fields.hasPrecision ? static_cast<std::uint32_t>(value) : 0;
  }
  return fields;
}

/// Writes the snprintf directive of a real or a pointer, without its width: the flags C
/// defines for it (a pointer takes none that matter without the width) and a real's
/// precision, which never asks for more digits than can show before the render limit.
void WriteDirective(char (&directive)[32], const FormatUnit& unit, const Fields& fields,
                    std::size_t room) {
  using tavutil::detail::kFlagAlternate;
  using tavutil::detail::kFlagPlus;
  using tavutil::detail::kFlagSpace;
  char* at = directive;
  *at++ = '%';
  const bool real = unit.kind == ConversionKind::real;
  if (real) {
    struct FlagCharacter {
      std::uint8_t flag;
      char character;
    };
    constexpr FlagCharacter kRealFlags[] = {
        {kFlagPlus, '+'}, {kFlagSpace, ' '}, {kFlagAlternate, '#'}};
    for (const FlagCharacter& each : kRealFlags) {
      if ((fields.flags & each.flag) != 0) {
        *at++ = each.character;
      }
    }
    if (fields.hasPrecision) {
      const std::size_t shown = std::max<std::size_t>(room, kExactRealDigits);
      *at++ = '.';
      at = std::to_chars(at, directive + sizeof directive - 2,
                         std::min<std::size_t>(fields.precision, shown))
               .ptr;
    }
  }
  *at++ = unit.conversion;
  *at = '\0';
}

/// Renders one valid conversion. Flags and precisions that C leaves undefined for a
/// conversion are ignored; widths and precisions print in full, up to the render limit.
void AppendConversion(TextBuffer& out, const FormatUnit& unit, const BoundValues& values,
                      std::size_t room) {
  using tavutil::detail::kFlagLeft;
  const Fields fields = ResolveFields(unit, values);
  const bool left = (fields.flags & kFlagLeft) != 0;
  const std::uint32_t width = fields.hasWidth ? fields.width : 0;
  switch (unit.kind) {
  case ConversionKind::character: {
    const char byte = static_cast<char>(static_cast<unsigned char>(values.bits));
    AppendPadded(out, &byte, 1, width, left);
    return;
  }
  case ConversionKind::text:
    AppendText(out, values, fields.hasPrecision, fields.precision, width, left);
    return;
  case ConversionKind::integer: {
    const tavutil::detail::IntegerLayout layout =
        tavutil::detail::LayOutInteger(unit.conversion, fields.flags, fields.hasWidth, fields.width,
                                       fields.hasPrecision, fields.precision, values.bits);
    out.Fill(layout.leadingSpaces, ' ');
    out.Append(layout.prefix, layout.prefixLength);
    out.Fill(layout.zeros, '0');
    out.Append(layout.digits, layout.digitCount);
    out.Fill(layout.trailingSpaces, ' ');
    return;
  }
  case ConversionKind::real:
  case ConversionKind::pointer: {
    char directive[32];
    WriteDirective(directive, unit, fields, room);
    if (unit.kind == ConversionKind::real) {
      const bool zeros =
          (fields.flags & tavutil::detail::kFlagZero) != 0 && std::isfinite(values.real);
      AppendFormatted(out, directive, values.real, width, left, zeros);
    } else {
      AppendFormatted(out, directive, const_cast<void*>(values.pointer), width, left, false);
    }
    return;
  }
  default:
    return;
  }
}

/// The kind of a conversion character that directly follows its '%' (no position, flags,
/// width, precision or length modifier), when rendering can take it without the parser:
/// the integer, character and string conversions.
ConversionKind PlainKind(char character) noexcept {
  const ConversionKind kind =
      tavutil::detail::KindOfConversion(static_cast<unsigned char>(character));
  return kind == ConversionKind::integer || kind == ConversionKind::character ||
                 kind == ConversionKind::text
             ? kind
             : ConversionKind::none;
}

/// Formats `bytes` (the format, `length` bytes) with the binder's arguments into `out`, up
/// to kRenderLimit bytes from where it starts. The text ends at the format's first NUL, as
/// the C formatter reads it, but every conversion is still bound and checked. `utf8` says the
/// format was made from Unicode, so that a cut never leaves half a character.
void Render(ArgumentBinder& binder, const char* bytes, std::size_t length, bool utf8,
            TextBuffer& out) {
  CheckFormatLength(length);
  const std::size_t start = out.Size();
  out.LimitFromHere(tavutil::detail::kRenderLimit);
  const std::size_t view = bytes != nullptr ? ::strnlen(bytes, length) : 0;
  FormatParser parser(bytes, length);
  std::size_t literalFrom = 0; // the literal text not yet written starts here
  std::size_t from = 0;        // where the next '%' is looked for
  std::uint32_t nextArgument = 1;
  while (from + 1 < length) {
    const void* hit = std::memchr(bytes + from, '%', length - from);
    if (hit == nullptr) {
      break;
    }
    const auto at = static_cast<std::size_t>(static_cast<const char*>(hit) - bytes);
    if (at + 1 >= length) {
      break; // a last '%' goes with the literal tail
    }
    const std::size_t visible = std::min(at, view);
    if (literalFrom < visible) {
      out.Append(bytes + literalFrom, visible - literalFrom);
      literalFrom = visible;
    }
    const bool shown = at < view && !out.Full();
    const ConversionKind plain = PlainKind(bytes[at + 1]);
    if (plain != ConversionKind::none) {
      // The common case, "%d" or "%s": bound and written without the parser.
      BoundValues values;
      binder.BindValue(plain, bytes[at + 1], nextArgument++, values);
      literalFrom = from = at + 2;
      if (!shown) {
        continue;
      }
      if (plain == ConversionKind::integer) {
        AppendPlainInteger(out, bytes[at + 1], values.bits);
      } else if (plain == ConversionKind::text) {
        if (values.text != nullptr) {
          out.Append(values.text, ::strnlen(values.text, values.textLength));
        } else {
          out.Append(kNullText, sizeof kNullText - 1);
        }
      } else {
        out.Append(static_cast<char>(static_cast<unsigned char>(values.bits)));
      }
      continue;
    }
    FormatUnit unit;
    parser.Seek(at, nextArgument);
    parser.Next(unit);
    nextArgument = parser.NextArgument();
    from = unit.end;
    if (unit.type == FormatUnit::Type::literal) {
      continue; // its bytes go out with the literal text after it
    }
    literalFrom = unit.end;
    if (unit.type == FormatUnit::Type::percent) {
      if (shown) {
        out.Append('%');
      }
      continue;
    }
    const BoundValues values = binder.Bind(unit);
    if (!shown) {
      continue;
    }
    if (unit.kind == ConversionKind::count) {
      // Printed as the sequential format shows it: "%?".
      RewriteConversion(bytes, unit,
                        [&out](const char* data, std::size_t size) { out.Append(data, size); });
    } else {
      const std::size_t used = out.Size() - start;
      AppendConversion(out, unit, values,
                       tavutil::detail::kRenderLimit -
                           std::min(used, tavutil::detail::kRenderLimit));
    }
  }
  if (literalFrom < view) {
    out.Append(bytes + literalFrom, view - literalFrom);
  }
  if (utf8) {
    TrimCutSequence(out, start);
  }
  out.RemoveLimit(); // a trace line goes on after the text
}

/// Appends the UTF-8 form of UTF-16 text (units in host order; `size` bytes, an odd last
/// byte dropped) to `out`. An unpaired surrogate becomes U+FFFD.
void AppendUtf8(TextBuffer& out, const char* bytes, std::size_t size) {
  const std::size_t units = size / 2;
  for (std::size_t i = 0; i < units;) {
    char16_t unit = 0;
    std::memcpy(&unit, bytes + 2 * i++, sizeof unit);
    std::uint32_t code = unit;
    if (unit >= 0xD800 && unit <= 0xDFFF) {
      code = 0xFFFD;
      char16_t low = 0;
      if (unit <= 0xDBFF && i < units) {
        std::memcpy(&low, bytes + 2 * i, sizeof low);
        if (low >= 0xDC00 && low <= 0xDFFF) {
          code = 0x10000 + ((static_cast<std::uint32_t>(unit) - 0xD800) << 10) + (low - 0xDC00);
          ++i;
        }
      }
    }
    char* const room = out.Room(4);
    std::size_t written = 1;
    if (code < 0x80) {
      room[0] = static_cast<char>(code);
    } else if (code < 0x800) {
      room[0] = static_cast<char>(0xC0 | (code >> 6));
      room[1] = static_cast<char>(0x80 | (code & 0x3F));
      written = 2;
    } else if (code < 0x10000) {
      room[0] = static_cast<char>(0xE0 | (code >> 12));
      room[1] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      room[2] = static_cast<char>(0x80 | (code & 0x3F));
      written = 3;
    } else {
      room[0] = static_cast<char>(0xF0 | (code >> 18));
      room[1] = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      room[2] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      room[3] = static_cast<char>(0x80 | (code & 0x3F));
      written = 4;
    }
    out.Commit(written);
  }
}

} // namespace

unsigned long TMessage::ValidateArgs(const TString& format, TString& rewritten,
                                     CharP& block) const {
  const std::size_t length = format.length();
  CheckFormatLength(length);
  // length + 1 NUL bytes, overwritten from the start; the text ends at the first NUL.
  rewritten = TString(nullptr, static_cast<unsigned int>(length + 1), '\0');
  char* const out = rewritten;
  std::size_t at = 0;
  auto put = [&](const char* data, std::size_t size) {
    assert(at + size <= length && "the rewritten format overran its source");
    if (size != 0) { // a format without buffer has a null text
      std::memcpy(out + at, data, size);
      at += size;
    }
  };
  block.Reset(kRoomPerArgument * QueryNumberArgs());
  ArgumentBinder binder(*this, fArgs.Data(), fArgs.Size(), &block);
  binder.AddEstimate(static_cast<std::uint32_t>(length));
  const char* bytes = format;
  std::size_t literalFrom = 0;
  FormatParser parser(bytes, length);
  for (FormatUnit unit; parser.Next(unit);) {
    if (unit.type != FormatUnit::Type::conversion) {
      continue; // copied with the literal text around it
    }
    put(bytes + literalFrom, unit.begin - literalFrom);
    RewriteConversion(bytes, unit, put);
    literalFrom = unit.end;
    static_cast<void>(binder.Bind(unit));
  }
  put(bytes + literalFrom, length - literalFrom);
  return binder.Estimate();
}

TString TMessage::OwnedText() const {
  return fBorrowedText != nullptr ? TString(fBorrowedText) : fText;
}

bool TMessage::RenderInto(TextBuffer& out, TString& asIs) const {
  std::unique_ptr<TString> stored;
  const TString* text = &fText;
  if (fStore.length() != 0) {
    stored.reset(TMessageStore::GetMsg(fStore, fSetId, fMessageId));
    if (stored != nullptr) {
      text = stored.get();
    }
  }
  ArgumentBinder binder(*this, fArgs.Data(), fArgs.Size(), nullptr);
  if (text == &fText && fBorrowedText != nullptr) {
    const std::size_t length = std::strlen(fBorrowedText);
    if (fArgs.Size() == 0) {
      out.Append(fBorrowedText, length);
    } else {
      Render(binder, fBorrowedText, length, false, out);
    }
    return false;
  }
  if (fArgs.Size() == 0) {
    asIs = *text; // no formatting at all: "%%" stays two characters
    return true;
  }
  if (text->IsUnicode()) {
    TextBuffer narrow;
    AppendUtf8(narrow, *text, text->length());
    Render(binder, narrow.Data(), narrow.Size(), true, out);
  } else {
    Render(binder, *text, text->length(), false, out);
  }
  return false;
}

const TString& TMessage::QueryMessage() const {
  if (fRendered.length() != 0) {
    return fRendered;
  }
  TextBuffer out;
  TString asIs;
  if (RenderInto(out, asIs)) {
    fRendered = std::move(asIs);
  } else {
    // The one result string, of exactly the rendered size.
    fRendered = TString(out.Data(), static_cast<unsigned int>(out.Size()));
  }
  return fRendered;
}

void tavutil::detail::MessageText::Append(const TMessage& message, TextBuffer& out) {
  const TString* text = &message.fRendered;
  TString asIs;
  if (text->length() == 0) {
    if (!message.RenderInto(out, asIs)) {
      return;
    }
    text = &asIs;
  }
  if (const char* bytes = *text) {
    out.Append(bytes, text->length());
  }
}

TMessage::operator const char*() const {
  return QueryMessage();
}

TMessage::operator TString() const {
  return QueryMessage();
}

TMessage::operator TagVar() const {
  return TagVar(QueryMessage());
}

// ------------------------------------------------------------ binary form ----

namespace {

/// The largest count that is not a negative 32-bit integer.
constexpr std::uint32_t kMaxArgumentCount = 0x7FFFFFFFu;

/// Reads a 32-bit integer into `field` when all four bytes arrive; else leaves it alone.
template <class T> bool ReadWhole(TiBinaryStream& s, T& field) {
  T value = 0;
  s >> value;
  if (s.fail()) {
    return false;
  }
  field = value;
  return true;
}

/// Reads a string into `field` when it arrives whole; else leaves it alone. With
/// `emptyIsNone`, an empty string becomes one without buffer: "no store", "no debugging file".
bool ReadWhole(TiBinaryStream& s, TString& field, bool emptyIsNone) {
  TString value;
  s >> value;
  if (s.fail()) {
    return false;
  }
  field = emptyIsNone && value.length() == 0 ? TString() : value;
  return true;
}

} // namespace

ToBinaryStream& TMessage::WriteToBinaryStream(ToBinaryStream& s) const {
  if (s.fail()) {
    return s;
  }
  s << fStore << static_cast<int>(fSetId) << static_cast<int>(fMessageId) << OwnedText()
    << static_cast<unsigned int>(fArgs.Size());
  for (std::uint32_t i = 0; i < fArgs.Size(); ++i) {
    fArgs.Data()[i].WriteToBinaryStream(s);
  }
  // The debugging location stays with the writer.
  return s << TString() << 0;
}

TiBinaryStream& TMessage::ReadFromBinaryStream(TiBinaryStream& s) {
  fText = OwnedText(); // kept as it is until a text is read whole
  fBorrowedText = nullptr;
  fRendered = TString();
  fArgs.Clear();
  std::uint32_t count = 0;
  if (s.fail() || !ReadWhole(s, fStore, true) || !ReadWhole(s, fSetId) ||
      !ReadWhole(s, fMessageId) || !ReadWhole(s, fText, false) || !ReadWhole(s, count)) {
    return s;
  }
  if (count > kMaxArgumentCount) {
    s.clear(s.rdstate() | std::ios_base::failbit);
    return s;
  }

  // The arguments collect as they arrive, never reserved from the count, so a count larger
  // than the data costs no more than the data. Whatever ends them (the data, an unknown tag,
  // memory), the message keeps those read whole.
  std::vector<TagVar> arrived;
  const auto keep = [this, &arrived] {
    Arguments kept;
    kept.Reserve(static_cast<std::uint32_t>(arrived.size()));
    for (TagVar& argument : arrived) {
      kept.Emplace(std::move(argument));
    }
    fArgs = std::move(kept);
  };
  try {
    while (arrived.size() < count && !s.fail()) {
      TagVar argument;
      argument.ReadFromBinaryStream(s);
      if (!s.fail()) {
        arrived.push_back(std::move(argument));
      }
    }
  } catch (...) {
    keep();
    throw;
  }
  keep();
  if (arrived.size() == count && ReadWhole(s, fFile, true)) {
    fFileName = fFile;
    ReadWhole(s, fLine);
  }
  return s;
}

// --------------------------------------------------------- store registry ----

namespace {

constexpr char kSolitaryObject[] = "Solitary Object";
constexpr char kDuplicateStore[] = "Duplicate Message Store";
constexpr unsigned long kLineSolitaryObject = 552;
constexpr unsigned long kLineDuplicateStore = 598;

/// The registry; null until the archive is built and after it is destroyed.
std::atomic<TMessageArchive*> gArchive{nullptr};

/// A copy of the name in a buffer of its own, so that no other handle on any thread shares
/// the buffer that lookups compare.
TMessage::StoreID PrivateCopy(const TMessage::StoreID& name) {
  const char* text = name;
  if (text == nullptr) {
    return TMessage::StoreID();
  }
  TString copy(text, name.length());
  copy.SetUnicode(name.IsUnicode());
  return TMessage::StoreID(copy, explicitInit);
}

} // namespace

TMessageArchive::TMessageArchive() {
  TMessageArchive* expected = nullptr;
  if (!gArchive.compare_exchange_strong(expected, this)) {
    tavutil::detail::Raise<TInvalidRequest>(
        kSolitaryObject, SourceLine{kSource, kLineSolitaryObject}, TUtilityTraceCategory::Message);
  }
}

TMessageArchive::~TMessageArchive() {
  TMessageArchive* self = this;
  gArchive.compare_exchange_strong(self, nullptr);
  // The set's destructor releases the elements; the stores live on, unregistered.
}

bool TMessageArchive::Add(TMessageStore& store) {
  auto element = std::make_unique<TElemPointer<TMessageStore>>(&store);
  const ScopedLock lock(fLock);
  if (fStores.Find(store.Key()) != nullptr) {
    return false;
  }
  tavutil::detail::AddOwned(fStores, std::move(element));
  return true;
}

void TMessageArchive::Remove(const TMessageStore& store) noexcept {
  const ScopedLock lock(fLock);
  // By identity: a store that never registered must not take out a namesake.
  tavutil::detail::RemovePointerTo(fStores, &store);
}

TMessageStore* TMessageArchive::Lookup(const TMessage::StoreID& store) {
  const ScopedLock lock(fLock);
  const TElemPointer<TMessageStore>* item = fStores.Find(store);
  return item != nullptr ? item->QueryPointer() : nullptr;
}

TString* TMessageArchive::GetMsg(const TMessage::StoreID& store, long setId, long messageId) {
  // Outside the lock: a store may trace (which takes the trace mutex) or render other
  // stored messages from its GetMsg.
  TMessageStore* found = Lookup(store);
  return found != nullptr ? found->GetMsg(setId, messageId) : nullptr;
}

TMessageStore::TMessageStore(const TMessage::StoreID& store) : fStore(PrivateCopy(store)) {
  TMessageArchive* archive = gArchive.load();
  if (archive != nullptr && !archive->Add(*this)) {
    // Raised outside the archive lock: raising traces.
    tavutil::detail::Raise<TInvalidRequest>(
        kDuplicateStore, SourceLine{kSource, kLineDuplicateStore}, TUtilityTraceCategory::Message);
  }
}

TMessageStore::~TMessageStore() {
  TMessageArchive* archive = gArchive.load();
  if (archive != nullptr) {
    archive->Remove(*this);
  }
}

int TMessageStore::IsCached() const {
  return 0;
}

TMessageStore* TMessageStore::Find(const TMessage::StoreID& store) {
  TMessageArchive* archive = gArchive.load();
  return archive != nullptr ? archive->Lookup(store) : nullptr;
}

TString* TMessageStore::GetMsg(const TMessage::StoreID& store, long setId, long messageId) {
  TMessageArchive* archive = gArchive.load();
  return archive != nullptr ? archive->GetMsg(store, setId, messageId) : nullptr;
}
