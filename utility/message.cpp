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
#include "internal/printf_format.h"
#include "internal/raise.h"
#include "internal/scopedlock.h"
#include "internal/setelements.h"
#include "internal/tracepoint.h"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <charconv>
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

TMessage::TMessage()
    : fSetId(0), fMessageId(0), fText(""), fNumberArgs(0), fAllocatedArgs(0), fFileName(nullptr),
      fLine(0) {}

TMessage::TMessage(const char* text)
    : fSetId(0), fMessageId(0), fText(text), fNumberArgs(0), fAllocatedArgs(0), fFileName(nullptr),
      fLine(0) {}

TMessage::TMessage(const char* text, const TagVar& a1) : TMessage(text) {
  SetArgs(a1);
}

TMessage::TMessage(const char* text, const TagVar& a1, const TagVar& a2) : TMessage(text) {
  SetArgs(a1, a2);
}

TMessage::TMessage(const char* text, const TagVar& a1, const TagVar& a2, const TagVar& a3)
    : TMessage(text) {
  SetArgs(a1, a2, a3);
}

TMessage::TMessage(const char* text, const TagVar& a1, const TagVar& a2, const TagVar& a3,
                   const TagVar& a4)
    : TMessage(text) {
  SetArgs(a1, a2, a3, a4);
}

TMessage::TMessage(const char* text, const TagVar& a1, const TagVar& a2, const TagVar& a3,
                   const TagVar& a4, const TagVar& a5)
    : TMessage(text) {
  SetArgs(a1, a2, a3, a4, a5);
}

TMessage::TMessage(const char* text, const TagVar& a1, const TagVar& a2, const TagVar& a3,
                   const TagVar& a4, const TagVar& a5, const TagVar& a6)
    : TMessage(text) {
  SetArgs(a1, a2, a3, a4, a5, a6);
}

TMessage::TMessage(const char* text, const TagVar& a1, const TagVar& a2, const TagVar& a3,
                   const TagVar& a4, const TagVar& a5, const TagVar& a6, const TagVar& a7)
    : TMessage(text) {
  SetArgs(a1, a2, a3, a4, a5, a6, a7);
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
    : TMessage(defaultText) {
  fStore = store;
  fSetId = static_cast<std::int32_t>(setId);
  fMessageId = static_cast<std::int32_t>(messageId);
}

TMessage::TMessage(const StoreID& store, long setId, long messageId, const char* defaultText,
                   const TagVar& a1)
    : TMessage(store, setId, messageId, defaultText) {
  SetArgs(a1);
}

TMessage::TMessage(const StoreID& store, long setId, long messageId, const char* defaultText,
                   const TagVar& a1, const TagVar& a2)
    : TMessage(store, setId, messageId, defaultText) {
  SetArgs(a1, a2);
}

TMessage::TMessage(const StoreID& store, long setId, long messageId, const char* defaultText,
                   const TagVar& a1, const TagVar& a2, const TagVar& a3)
    : TMessage(store, setId, messageId, defaultText) {
  SetArgs(a1, a2, a3);
}

TMessage::TMessage(const StoreID& store, long setId, long messageId, const char* defaultText,
                   const TagVar& a1, const TagVar& a2, const TagVar& a3, const TagVar& a4)
    : TMessage(store, setId, messageId, defaultText) {
  SetArgs(a1, a2, a3, a4);
}

TMessage::TMessage(const StoreID& store, long setId, long messageId, const char* defaultText,
                   const TagVar& a1, const TagVar& a2, const TagVar& a3, const TagVar& a4,
                   const TagVar& a5)
    : TMessage(store, setId, messageId, defaultText) {
  SetArgs(a1, a2, a3, a4, a5);
}

TMessage::TMessage(const StoreID& store, long setId, long messageId, const char* defaultText,
                   const TagVar& a1, const TagVar& a2, const TagVar& a3, const TagVar& a4,
                   const TagVar& a5, const TagVar& a6)
    : TMessage(store, setId, messageId, defaultText) {
  SetArgs(a1, a2, a3, a4, a5, a6);
}

TMessage::TMessage(const StoreID& store, long setId, long messageId, const char* defaultText,
                   const TagVar& a1, const TagVar& a2, const TagVar& a3, const TagVar& a4,
                   const TagVar& a5, const TagVar& a6, const TagVar& a7)
    : TMessage(store, setId, messageId, defaultText) {
  SetArgs(a1, a2, a3, a4, a5, a6, a7);
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

/// Replaces the arguments by copies of argument(0) .. argument(count - 1), building the new
/// array completely before the old one goes.
template <class At> void TMessage::CopyEach(unsigned count, At argument) {
  std::unique_ptr<TagVar[]> copies;
  if (count != 0) {
    copies.reset(new TagVar[count]);
    for (unsigned i = 0; i < count; ++i) {
      copies[i] = argument(i);
    }
  }
  Adopt(std::move(copies), count);
}

// ------------------------------------------------------ copy and release ----

TMessage::TMessage(const TMessage& other)
    : fStore(other.fStore), fSetId(other.fSetId), fMessageId(other.fMessageId), fText(other.fText),
      fNumberArgs(0), fAllocatedArgs(0), fFile(other.fFile), fFileName(other.fFileName),
      fLine(other.fLine) {
  if (other.fFileName != nullptr && other.fFileName == static_cast<const char*>(other.fFile)) {
    fFileName = fFile; // its own copy's text, not the other message's
  }
  CopyEach(other.fNumberArgs, [&other](unsigned i) -> const TagVar& { return other.fArgs[i]; });
}

TMessage& TMessage::operator=(const TMessage& other) {
  if (this != &other) {
    TMessage copy(other); // a throwing argument copy leaves this message as it was
    fStore = copy.fStore;
    fSetId = copy.fSetId;
    fMessageId = copy.fMessageId;
    fText = copy.fText;
    fRendered = TString();
    fFile = copy.fFile;
    fFileName = copy.fFileName; // copy's file text is shared with fFile or a literal
    fLine = copy.fLine;
    Adopt(std::move(copy.fArgs), copy.fNumberArgs);
  }
  return *this;
}

TMessage::~TMessage() = default;

void TMessage::Adopt(std::unique_ptr<TagVar[]> arguments, unsigned count) noexcept {
  fArgs = std::move(arguments);
  fNumberArgs = count;
  fAllocatedArgs = count;
}

void TMessage::CopyArguments(const TagVar* const* pointers, unsigned count) {
  CopyEach(count, [pointers](unsigned i) -> const TagVar& { return *pointers[i]; });
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
  std::unique_ptr<const TagVar*[]> pointers(new const TagVar*[count]);
  const TagVar* entry = first;
  for (unsigned i = 0; i < count; ++i) {
    pointers[i] = entry;
    if (i + 1 < count) {
      entry = va_arg(*rest, const TagVar*);
    }
  }
  CopyArguments(pointers.get(), count);
}

void TMessage::CopyList(const TagVar* const* list) {
  unsigned count = 0;
  while (list != nullptr && !EndsList(list[count])) {
    ++count;
  }
  CopyArguments(list, count);
}

void TMessage::SetArgs() {
  Adopt(nullptr, 0);
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
  if (index < fNumberArgs) {
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
  return fArgs[index];
}

const TagVar& TMessage::operator[](unsigned index) const {
  CheckIndex(index);
  return fArgs[index];
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
/// The largest width or precision rendered; larger ones, from the format or a `*` argument,
/// are taken as this. It bounds one conversion's output to a few kilobytes.
constexpr std::uint32_t kFieldLimit = 4096;
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
  ArgumentBinder(const TMessage& message, TMessage::CharP* block) noexcept
      : fMessage(message), fBlock(block) {}

  /// The values of a valid conversion: a `%n` is traced, then width, precision and value are
  /// taken in this order.
  BoundValues Bind(const FormatUnit& unit);
  void AddEstimate(std::uint32_t size) noexcept { fEstimate += size; }
  std::uint32_t Estimate() const noexcept { return fEstimate; }

private:
  /// The argument of a 1-based number, or null when there is no such argument.
  const TagVar* Argument(std::uint32_t number) const {
    return number == 0 || number > fMessage.QueryNumberArgs() ? nullptr : &fMessage[number - 1];
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

  const std::uint32_t number = unit.argument;
  const TagVar* argument = Argument(number);
  const char conversion = kind == ConversionKind::count ? '?' : unit.conversion;
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
  return values;
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

/// The text being rendered: on the stack while it is short, never past a fixed limit. What
/// would go beyond the limit is dropped, and Full() tells the renderer to stop.
class RenderBuffer {
public:
  explicit RenderBuffer(std::size_t limit) noexcept : fLimit(limit) {}
  RenderBuffer(const RenderBuffer&) = delete;
  RenderBuffer& operator=(const RenderBuffer&) = delete;

  bool Full() const noexcept { return fSize >= fLimit; }
  void Append(const char* data, std::size_t size) {
    size = std::min(size, fLimit - fSize);
    if (size != 0) {
      std::memcpy(Room(size), data, size);
      fSize += size;
    }
  }
  void Fill(std::size_t count, char c) {
    count = std::min(count, fLimit - fSize);
    if (count != 0) {
      std::memset(Room(count), c, count);
      fSize += count;
    }
  }
  /// Takes back the end of a UTF-8 sequence that the limit cut short.
  void TrimCutSequence() noexcept;
  /// The text as a TString of exactly its size.
  TString Result() const { return TString(fData, static_cast<unsigned int>(fSize)); }

private:
  /// Where `size` more bytes go, growing the buffer when they do not fit.
  char* Room(std::size_t size);

  char fLocal[256];
  std::unique_ptr<char[]> fHeap;
  char* fData = fLocal;
  std::size_t fSize = 0;
  std::size_t fCapacity = sizeof fLocal;
  std::size_t fLimit;
};

char* RenderBuffer::Room(std::size_t size) {
  if (size > fCapacity - fSize) {
    const std::size_t capacity = std::min(std::max(fSize + size, 2 * fCapacity), fLimit);
    std::unique_ptr<char[]> grown(new char[capacity]);
    std::memcpy(grown.get(), fData, fSize);
    fHeap = std::move(grown);
    fData = fHeap.get();
    fCapacity = capacity;
  }
  return fData + fSize;
}

void RenderBuffer::TrimCutSequence() noexcept {
  if (!Full()) {
    return;
  }
  // Back to the lead byte of the last sequence; drop it when its sequence is incomplete.
  std::size_t lead = fSize;
  std::size_t continuation = 0;
  while (lead > 0 && continuation < 4 &&
         (static_cast<unsigned char>(fData[lead - 1]) & 0xC0) == 0x80) {
    --lead;
    ++continuation;
  }
  if (lead == 0) {
    return;
  }
  const auto byte = static_cast<unsigned char>(fData[lead - 1]);
  const std::size_t expected = byte >= 0xF0 ? 3 : byte >= 0xE0 ? 2 : byte >= 0xC0 ? 1 : 0;
  if (expected > continuation) {
    fSize = lead - 1;
  }
}

/// Appends `size` bytes padded with spaces to `width`, on the left unless `left`.
void AppendPadded(RenderBuffer& out, const char* data, std::size_t size, std::uint32_t width,
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

/// Formats one value with snprintf into a stack buffer, or one sized by what snprintf reports.
template <class Value> void AppendFormatted(RenderBuffer& out, const char* directive, Value value) {
  char local[512];
  const int size = std::snprintf(local, sizeof local, directive, value);
  if (size < 0) {
    return; // an encoding error prints nothing
  }
  if (static_cast<std::size_t>(size) < sizeof local) {
    out.Append(local, static_cast<std::size_t>(size));
    return;
  }
  std::vector<char> large(static_cast<std::size_t>(size) + 1);
  std::snprintf(large.data(), large.size(), directive, value);
  out.Append(large.data(), static_cast<std::size_t>(size));
}

/// Renders one valid conversion. Widths and precisions are capped at kFieldLimit; flags and
/// precisions that C leaves undefined for a conversion are ignored.
void AppendConversion(RenderBuffer& out, const FormatUnit& unit, const BoundValues& values) {
  using tavutil::detail::kFlagLeft;
  std::uint8_t flags = unit.flags;
  bool hasWidth = unit.width.present;
  std::uint32_t width = values.width;
  if (unit.width.fromArgument) {
    // A negative `*` width means left-justified in its magnitude.
    const auto value = static_cast<std::int64_t>(static_cast<std::int32_t>(values.width));
    if (value < 0) {
      flags |= kFlagLeft;
    }
    width =
        static_cast<std::uint32_t>(std::min<std::int64_t>(value < 0 ? -value : value, kFieldLimit));
  }
  width = std::min(width, kFieldLimit);
  bool hasPrecision = unit.precision.present;
  std::uint32_t precision = values.precision;
  if (unit.precision.fromArgument) {
    // A negative `*` precision counts as none.
    const auto value = static_cast<std::int32_t>(values.precision);
    hasPrecision = value >= 0;
    precision = hasPrecision ? static_cast<std::uint32_t>(value) : 0;
  }
  precision = std::min(precision, kFieldLimit);
  const bool left = (flags & kFlagLeft) != 0;

  const char conversion = unit.conversion;
  switch (unit.kind) {
  case ConversionKind::character: {
    const char byte = static_cast<char>(static_cast<unsigned char>(values.bits));
    AppendPadded(out, &byte, 1, hasWidth ? width : 0, left);
    return;
  }
  case ConversionKind::text: {
    // `%ls`, `%hs` and `%Ls` print the argument's narrow text too.
    const char* text = values.text != nullptr ? values.text : kNullText;
    std::size_t size =
        values.text != nullptr ? ::strnlen(values.text, values.textLength) : sizeof kNullText - 1;
    if (hasPrecision) {
      size = std::min<std::size_t>(size, precision);
    }
    AppendPadded(out, text, size, hasWidth ? width : 0, left);
    return;
  }
  case ConversionKind::integer: {
    const tavutil::detail::IntegerLayout layout = tavutil::detail::LayOutInteger(
        conversion, flags, hasWidth, width, hasPrecision, precision, values.bits);
    out.Fill(layout.leadingSpaces, ' ');
    out.Append(layout.prefix, layout.prefixLength);
    out.Fill(layout.zeros, '0');
    out.Append(layout.digits, layout.digitCount);
    out.Fill(layout.trailingSpaces, ' ');
    return;
  }
  case ConversionKind::real:
  case ConversionKind::pointer:
    break;
  default:
    return;
  }

  // Reals and pointers: the C formatter, from a directive of the allowed flags and fields.
  const bool real = unit.kind == ConversionKind::real;
  char directive[32];
  char* at = directive;
  *at++ = '%';
  struct FlagCharacter {
    std::uint8_t flag;
    char character;
  };
  constexpr FlagCharacter kRealFlags[] = {{kFlagLeft, '-'},
                                          {tavutil::detail::kFlagPlus, '+'},
                                          {tavutil::detail::kFlagSpace, ' '},
                                          {tavutil::detail::kFlagAlternate, '#'},
                                          {tavutil::detail::kFlagZero, '0'}};
  // A pointer takes '-' alone.
  for (std::size_t i = 0; i < (real ? std::size(kRealFlags) : 1); ++i) {
    if ((flags & kRealFlags[i].flag) != 0) {
      *at++ = kRealFlags[i].character;
    }
  }
  char* const end = directive + sizeof directive - 2; // room for the conversion and the NUL
  if (hasWidth) {
    at = std::to_chars(at, end, width).ptr;
  }
  if (hasPrecision && real) {
    *at++ = '.';
    at = std::to_chars(at, end, precision).ptr;
  }
  *at++ = conversion;
  *at = '\0';
  if (real) {
    AppendFormatted(out, directive, values.real);
  } else {
    AppendFormatted(out, directive, const_cast<void*>(values.pointer));
  }
}

/// Formats `format` with the message's arguments in one pass, up to kRenderLimit bytes. The
/// text ends at the format's first NUL, as the C formatter reads it, but every conversion is
/// still bound and checked. `utf8` says the format was made from Unicode, so that a cut never
/// leaves half a character.
TString Render(const TMessage& message, const TString& format, bool utf8) {
  const std::size_t length = format.length();
  CheckFormatLength(length);
  const char* bytes = format;
  const std::size_t view = bytes != nullptr ? ::strnlen(bytes, length) : 0;
  ArgumentBinder binder(message, nullptr);
  RenderBuffer out(tavutil::detail::kRenderLimit);
  std::size_t literalFrom = 0; // the literal text not yet written starts here
  FormatParser parser(bytes, length);
  for (FormatUnit unit; parser.Next(unit);) {
    if (unit.type == FormatUnit::Type::literal) {
      continue; // its bytes go out with the literal text around it
    }
    const bool shown = unit.begin < view && !out.Full();
    if (shown) {
      out.Append(bytes + literalFrom, unit.begin - literalFrom);
    }
    literalFrom = unit.end;
    if (unit.type == FormatUnit::Type::percent) {
      if (shown) {
        out.Append("%", 1);
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
      AppendConversion(out, unit, values);
    }
  }
  if (literalFrom < view) {
    out.Append(bytes + literalFrom, view - literalFrom);
  }
  if (utf8) {
    out.TrimCutSequence();
  }
  return out.Result();
}

/// The UTF-8 form of a Unicode TString (UTF-16 units in host order, length in bytes). An
/// unpaired surrogate becomes U+FFFD; an odd last byte is dropped.
TString Utf16ToUtf8(const TString& wide) {
  const char* bytes = wide;
  const std::size_t units = wide.length() / 2;
  std::string out;
  out.reserve(units);
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
    if (code < 0x80) {
      out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (code >> 6)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (code >> 12)));
      out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (code >> 18)));
      out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
  }
  if (out.size() >= std::numeric_limits<unsigned int>::max()) {
    throw std::length_error("converted message text too long");
  }
  return TString(out.data(), static_cast<unsigned int>(out.size()));
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
  ArgumentBinder binder(*this, &block);
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

const TString& TMessage::QueryMessage() const {
  if (fRendered.length() != 0) {
    return fRendered;
  }
  std::unique_ptr<TString> stored;
  const TString* text = &fText;
  if (fStore.length() != 0) {
    stored.reset(TMessageStore::GetMsg(fStore, fSetId, fMessageId));
    if (stored != nullptr) {
      text = stored.get();
    }
  }
  if (fNumberArgs == 0) {
    fRendered = *text; // no formatting at all: "%%" stays two characters
    return fRendered;
  }
  if (text->IsUnicode()) {
    fRendered = Render(*this, Utf16ToUtf8(*text), true);
  } else {
    fRendered = Render(*this, *text, false);
  }
  return fRendered;
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

/// The argument array of a message being read starts with room for this many arguments (or
/// the count, if fewer) and doubles, up to the count, as the arguments arrive.
constexpr std::uint32_t kFirstArgumentRoom = 16;
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

/// The arguments of a message being read: an array that grows with the arguments that
/// arrive, never beyond the count announced, and so never ahead of the data.
class ArrivingArguments {
public:
  explicit ArrivingArguments(std::uint32_t announced) : fAnnounced(announced) {}

  bool Complete() const noexcept { return fArrived == fAnnounced; }
  /// The slot of the next argument (nil), growing the array when it is full.
  TagVar& Next() {
    if (fArrived == fRoom) {
      // fRoom <= fAnnounced < 2^31, so doubling cannot overflow.
      const std::uint32_t larger = std::min(fAnnounced, std::max(kFirstArgumentRoom, fRoom * 2));
      auto grown = std::make_unique<TagVar[]>(larger);
      for (std::uint32_t i = 0; i < fArrived; ++i) {
        grown[i] = fArgs[i];
      }
      fArgs = std::move(grown);
      fRoom = larger;
    }
    return fArgs[fArrived];
  }
  /// Counts the slot Next gave as read whole.
  void Arrived() noexcept { ++fArrived; }
  /// The array and the number of arguments read whole; a slot that was cut short is nil again.
  std::unique_ptr<TagVar[]> Release(std::uint32_t& count) {
    if (fArrived < fRoom) {
      fArgs[fArrived] = TagVar();
    }
    count = fArrived;
    return std::move(fArgs);
  }

private:
  std::unique_ptr<TagVar[]> fArgs;
  std::uint32_t fAnnounced;
  std::uint32_t fRoom = 0;
  std::uint32_t fArrived = 0;
};

} // namespace

ToBinaryStream& TMessage::WriteToBinaryStream(ToBinaryStream& s) const {
  if (s.fail()) {
    return s;
  }
  s << fStore << static_cast<int>(fSetId) << static_cast<int>(fMessageId) << fText
    << static_cast<unsigned int>(fNumberArgs);
  for (std::uint32_t i = 0; i < fNumberArgs; ++i) {
    fArgs[i].WriteToBinaryStream(s);
  }
  // The debugging location stays with the writer.
  return s << TString() << 0;
}

TiBinaryStream& TMessage::ReadFromBinaryStream(TiBinaryStream& s) {
  fRendered = TString();
  Adopt(nullptr, 0);
  std::uint32_t count = 0;
  if (s.fail() || !ReadWhole(s, fStore, true) || !ReadWhole(s, fSetId) ||
      !ReadWhole(s, fMessageId) || !ReadWhole(s, fText, false) || !ReadWhole(s, count)) {
    return s;
  }
  if (count > kMaxArgumentCount) {
    s.clear(s.rdstate() | std::ios_base::failbit);
    return s;
  }

  // Whatever ends the arguments (the data, an unknown tag, memory), the message keeps those
  // read whole before it.
  ArrivingArguments arguments(count);
  const auto keep = [this, &arguments] {
    std::uint32_t arrived = 0;
    auto array = arguments.Release(arrived);
    Adopt(std::move(array), arrived);
  };
  try {
    while (!arguments.Complete() && !s.fail()) {
      arguments.Next().ReadFromBinaryStream(s);
      if (!s.fail()) {
        arguments.Arrived();
      }
    }
  } catch (...) {
    keep();
    throw;
  }
  keep();
  if (arguments.Complete() && ReadWhole(s, fFile, true)) {
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
