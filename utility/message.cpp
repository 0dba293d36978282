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
#include "internal/raise.h"
#include "internal/tracepoint.h"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cstdio>
#include <cstring>
#include <ios>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

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
    : fSetId(0), fMessageId(0), fText(""), fNumberArgs(0), fAllocatedArgs(0), fLine(0) {}

TMessage::TMessage(const char* text) : TMessage() {
  fText = TString(text);
}

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
      fNumberArgs(0), fAllocatedArgs(0), fFile(other.fFile), fLine(other.fLine) {
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
    tavutil::detail::TracePoint(kDiagnosticLevel, TUtilityTraceCategory::Message,
                                SourceLine{kSource, kLineRequestedArgument}, kRequestedArgument,
                                index, fFile, static_cast<unsigned long>(fLine));
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
/// The output reserved up front is the estimate, but never more than this.
constexpr std::size_t kReserveLimit = 1 << 16;

enum Flag : std::uint8_t { kLeft = 1, kPlus = 2, kSpace = 4, kAlternate = 8, kZero = 16 };

/// The flag of a format character, or 0 when it is none.
std::uint8_t FlagOf(int c) noexcept {
  switch (c) {
  case '-':
    return kLeft;
  case '+':
    return kPlus;
  case ' ':
    return kSpace;
  case '#':
    return kAlternate;
  case '0':
    return kZero;
  default:
    return 0;
  }
}

/// What a conversion character takes.
enum class Kind { none, integer, real, character, text, pointer, count };

Kind KindOf(int c) noexcept {
  switch (c) {
  case 'X':
  case 'd':
  case 'i':
  case 'o':
  case 'u':
  case 'x':
    return Kind::integer;
  case 'E':
  case 'F':
  case 'G':
  case 'e':
  case 'f':
  case 'g':
    return Kind::real;
  case 'c':
    return Kind::character;
  case 's':
    return Kind::text;
  case 'p':
    return Kind::pointer;
  case 'n':
    return Kind::count;
  default:
    return Kind::none;
  }
}

bool IsDigit(int c) noexcept {
  return c >= '0' && c <= '9';
}

/// A part of the rewritten format that does not render as its own bytes: a valid conversion
/// with the values it takes, or a `%`-ending unit that prints one `%`.
struct Piece {
  std::size_t begin = 0; ///< first byte in the rewritten format
  std::size_t end = 0;   ///< one past the last byte
  char conversion = 0;   ///< as written: '?' for %n, '%' for a percent unit
  std::uint8_t flags = 0;
  bool starWidth = false;
  bool hasWidth = false;
  bool starPrecision = false;
  bool hasPrecision = false;
  std::uint32_t width = 0;     ///< the literal width, or the bits of the `*` argument
  std::uint32_t precision = 0; ///< likewise
  std::uint32_t bits = 0;      ///< integer and character values
  double real = 0.0;
  const void* pointer = nullptr;
  const char* text = nullptr; ///< %s: the string's characters, null for a mismatch
  std::size_t textLength = 0;
};

/// One run of the validation over a format: rewrites it, fills the block, adds up the
/// estimate and traces the diagnostics; optionally records the pieces for rendering.
///
/// Positions are 0-based here. Every read of the format goes through At(), which gives -1
/// past the end, so a format cut short anywhere ends its conversion as an invalid one.
class FormatWalk {
public:
  FormatWalk(const TMessage& message, const TString& format, TString& rewritten,
             TMessage::CharP& block, std::vector<Piece>* pieces)
      : fMessage(message), fFormat(format), fLength(format.length()), fPieces(pieces) {
    if (fLength >= std::numeric_limits<unsigned int>::max()) {
      throw std::length_error("message format too long");
    }
    // length + 1 NUL bytes, overwritten from the start; the text ends at the first NUL.
    rewritten = TString(nullptr, static_cast<unsigned int>(fLength + 1), '\0');
    fRewritten = rewritten;
    block.Reset(kRoomPerArgument * message.QueryNumberArgs());
    fBlock = &block;
  }

  /// Walks the whole format; returns the estimate.
  std::uint32_t Run();

private:
  int At(std::size_t i) const noexcept {
    return i < fLength ? static_cast<unsigned char>(fFormat[i]) : -1;
  }
  /// The first '%' at or after `from`, or npos.
  std::size_t FindPercent(std::size_t from) const noexcept {
    if (from >= fLength) {
      return std::string::npos;
    }
    const void* hit = std::memchr(fFormat + from, '%', fLength - from);
    return hit == nullptr ? std::string::npos : static_cast<const char*>(hit) - fFormat;
  }
  /// Reads decimal digits at `i`, saturating at 2^32 - 1; `any` tells whether there were any.
  std::uint32_t ReadNumber(std::size_t& i, bool& any) const noexcept;
  /// Reads digits at `i` as ReadNumber does and copies them to the rewritten format at `w`.
  std::uint32_t CopyNumber(std::size_t& i, std::size_t& w) noexcept;
  /// After a `*` at `i - 1`: the argument number of `*n$` (skipping it), else q (then q + 1).
  std::uint32_t StarNumber(std::size_t& i, std::uint32_t& q) const noexcept;
  void Put(std::size_t w, char c) noexcept {
    // A rewritten conversion is never longer than its source, so this stays within the
    // length + 1 bytes of the rewritten format.
    assert(w <= fLength && "rewritten format overran its source");
    fRewritten[w] = c;
  }
  void CopyRun(std::size_t from, std::size_t to, std::size_t at) noexcept {
    assert(at + (to - from) <= fLength && "literal run overran the rewritten format");
    if (to > from) { // a format without buffer has a null text
      std::memcpy(fRewritten + at, fFormat + from, to - from);
    }
  }
  /// The argument of a 1-based number, or null when there is no such argument.
  const TagVar* Argument(std::uint32_t number) const {
    return number == 0 || number > fMessage.QueryNumberArgs() ? nullptr : &fMessage[number - 1];
  }
  /// The 32 bits of an integer or unsigned integer argument; false for any other.
  bool IntegerBits(std::uint32_t number, std::uint32_t& bits) const;
  void Push(const void* data, std::size_t size) noexcept {
    // A value that does not fit is left out of the block; rendering does not read the block.
    static_cast<void>(fBlock->Append(data, size));
  }
  /// Width, precision and value of a valid conversion, in this order.
  void TakeValues(Piece& piece, Kind kind, std::uint32_t widthArg, std::uint32_t precisionArg,
                  std::uint32_t valueArg);
  void TraceFieldMismatch(const char* text, unsigned long line, std::uint32_t number) const;
  void TraceValueMismatch(char conversion, std::uint32_t number) const;
  void TracePercentN() const;

  const TMessage& fMessage;
  const char* fFormat;
  std::size_t fLength;
  char* fRewritten = nullptr;
  TMessage::CharP* fBlock = nullptr;
  std::vector<Piece>* fPieces;
  std::uint32_t fEstimate = 0;
};

std::uint32_t FormatWalk::ReadNumber(std::size_t& i, bool& any) const noexcept {
  std::uint64_t value = 0;
  any = false;
  while (IsDigit(At(i))) {
    value = std::min<std::uint64_t>(value * 10 + static_cast<unsigned>(At(i) - '0'), 0xFFFFFFFFu);
    any = true;
    ++i;
  }
  return static_cast<std::uint32_t>(value);
}

std::uint32_t FormatWalk::CopyNumber(std::size_t& i, std::size_t& w) noexcept {
  const std::size_t start = i;
  bool any = false;
  const std::uint32_t value = ReadNumber(i, any);
  for (std::size_t k = start; k < i; ++k) {
    Put(w++, fFormat[k]);
  }
  return value;
}

std::uint32_t FormatWalk::StarNumber(std::size_t& i, std::uint32_t& q) const noexcept {
  std::size_t look = i;
  bool any = false;
  const std::uint32_t number = ReadNumber(look, any);
  if (any && At(look) == '$') {
    i = look + 1;
    return number;
  }
  return q++;
}

bool FormatWalk::IntegerBits(std::uint32_t number, std::uint32_t& bits) const {
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

std::uint32_t FormatWalk::Run() {
  fEstimate = static_cast<std::uint32_t>(fLength);
  std::size_t s = 0; // pending literal start
  std::size_t o = 0; // output position in the rewritten format
  std::uint32_t q = 1;
  for (std::size_t p = FindPercent(0); p != std::string::npos;) {
    if (p + 1 >= fLength) {
      break; // a trailing '%' goes with the tail
    }
    const std::uint32_t q0 = q;
    CopyRun(s, p, o);
    o += p - s;
    s = p;
    std::size_t w = o;
    Put(w++, '%');
    Piece piece;
    piece.begin = o;
    std::size_t i = p + 1;

    bool valueGiven = false;
    std::uint32_t valueArg = 0;
    {
      std::size_t look = i;
      bool any = false;
      const std::uint32_t number = ReadNumber(look, any);
      if (any && At(look) == '$') {
        valueGiven = true;
        valueArg = number;
        i = look + 1;
      }
    }
    for (std::uint8_t flag = FlagOf(At(i)); flag != 0; flag = FlagOf(At(i))) {
      piece.flags |= flag;
      Put(w++, fFormat[i++]);
    }
    std::uint32_t widthArg = 0;
    if (At(i) == '*') {
      Put(w++, '*');
      ++i;
      piece.starWidth = true;
      widthArg = StarNumber(i, q);
    } else if (IsDigit(At(i))) {
      piece.hasWidth = true;
      piece.width = CopyNumber(i, w);
    }
    std::uint32_t precisionArg = 0;
    if (At(i) == '.') {
      Put(w++, '.');
      ++i;
      if (At(i) == '*') {
        Put(w++, '*');
        ++i;
        piece.starPrecision = true;
        precisionArg = StarNumber(i, q);
      } else {
        piece.hasPrecision = true;
        piece.precision = CopyNumber(i, w);
      }
    }
    int length = 0;
    if (At(i) == 'L' || At(i) == 'h' || At(i) == 'l') {
      length = At(i++);
    }
    if (!valueGiven) {
      valueArg = q++;
    }

    const int c = At(i);
    const Kind kind = KindOf(c);
    if (kind == Kind::none) {
      // Not a conversion: its bytes go out with the next literal run, unchanged.
      q = q0;
      if (c == '%' && fPieces != nullptr) {
        Piece unit;
        unit.begin = o;
        unit.end = o + (i - p) + 1;
        unit.conversion = '%';
        fPieces->push_back(unit);
      }
      p = FindPercent(i + 1);
      continue;
    }
    if (kind == Kind::character || kind == Kind::text) {
      if (length != 0) {
        Put(w++, static_cast<char>(length));
      }
    }
    if (kind == Kind::count) {
      Put(w++, '?');
      TracePercentN();
    } else {
      Put(w++, static_cast<char>(c));
    }
    o = w;
    s = i + 1;
    piece.end = w;
    piece.conversion = fRewritten[w - 1];
    TakeValues(piece, kind, widthArg, precisionArg, valueArg);
    if (fPieces != nullptr) {
      fPieces->push_back(piece);
    }
    p = FindPercent(i + 1);
  }
  CopyRun(s, fLength, o);
  return fEstimate;
}

void FormatWalk::TakeValues(Piece& piece, Kind kind, std::uint32_t widthArg,
                            std::uint32_t precisionArg, std::uint32_t valueArg) {
  const std::uint32_t zero = 0;
  if (piece.starWidth) {
    std::uint32_t bits = 0;
    if (IntegerBits(widthArg, bits)) {
      Push(&bits, sizeof bits);
      piece.width = bits;
      fEstimate += std::max(bits, kFieldEstimate);
    } else {
      Push(&zero, sizeof zero);
      fEstimate += kFieldEstimate;
      TraceFieldMismatch(kWidthMismatch, kLineWidthMismatch, widthArg);
    }
  } else {
    fEstimate += std::max(piece.width, kFieldEstimate);
  }
  if (piece.starPrecision) {
    std::uint32_t bits = 0;
    if (IntegerBits(precisionArg, bits)) {
      Push(&bits, sizeof bits);
      piece.precision = bits;
      fEstimate += bits;
    } else {
      Push(&zero, sizeof zero);
      fEstimate += kFieldEstimate;
      TraceFieldMismatch(kPrecisionMismatch, kLinePrecisionMismatch, precisionArg);
    }
  } else {
    fEstimate += std::max(piece.precision, kFieldEstimate);
  }

  const TagVar* argument = Argument(valueArg);
  const char conversion = piece.conversion;
  switch (kind) {
  case Kind::integer:
  case Kind::character:
    if (IntegerBits(valueArg, piece.bits)) {
      Push(&piece.bits, sizeof piece.bits);
    } else {
      Push(&zero, sizeof zero);
      TraceValueMismatch(conversion, valueArg);
    }
    fEstimate += kind == Kind::integer ? kIntegerEstimate : kCharEstimate;
    break;
  case Kind::real:
    if (argument != nullptr && argument->IsReal()) {
      piece.real = static_cast<double>(*argument);
    } else {
      TraceValueMismatch(conversion, valueArg);
    }
    Push(&piece.real, sizeof piece.real); // 0.0 is eight zero bytes
    fEstimate += kRealEstimate;
    break;
  case Kind::pointer:
    if (argument != nullptr && argument->IsType(TagVar::voidptr)) {
      piece.pointer = argument->QueryVoidPtr();
    } else {
      TraceValueMismatch(conversion, valueArg);
    }
    Push(&piece.pointer, sizeof piece.pointer);
    fEstimate += kPointerEstimate;
    break;
  case Kind::text:
    if (argument != nullptr && argument->IsString()) {
      const TString* text = argument->QueryString();
      if (text != nullptr) {
        piece.text = *text;
        piece.textLength = piece.text != nullptr ? text->length() : 0;
      }
      fEstimate += static_cast<std::uint32_t>(piece.textLength);
    } else {
      TraceValueMismatch(conversion, valueArg);
      fEstimate += kFieldEstimate;
    }
    Push(&piece.text, sizeof piece.text);
    break;
  case Kind::count: // its argument number is used up; nothing is pushed
  case Kind::none:
    break;
  }
}

void FormatWalk::TracePercentN() const {
  tavutil::detail::TracePoint(
      kDiagnosticLevel, TUtilityTraceCategory::Message, SourceLine{kSource, kLinePercentN},
      kPercentN, static_cast<const TString&>(fMessage.QueryStoreID()), fMessage.QuerySetID(),
      fMessage.QueryMessageID(), TString(fMessage.QueryFile()), fMessage.QueryLine());
}

void FormatWalk::TraceFieldMismatch(const char* text, unsigned long line,
                                    std::uint32_t number) const {
  tavutil::detail::TracePoint(
      kDiagnosticLevel, TUtilityTraceCategory::Message, SourceLine{kSource, line}, text,
      static_cast<const TString&>(fMessage.QueryStoreID()), fMessage.QuerySetID(),
      fMessage.QueryMessageID(), static_cast<long>(static_cast<std::int32_t>(number)),
      TString(fMessage.QueryFile()), fMessage.QueryLine());
}

void FormatWalk::TraceValueMismatch(char conversion, std::uint32_t number) const {
  tavutil::detail::TracePoint(
      kDiagnosticLevel, TUtilityTraceCategory::Message, SourceLine{kSource, kLineValueMismatch},
      kValueMismatch, static_cast<const TString&>(fMessage.QueryStoreID()), fMessage.QuerySetID(),
      fMessage.QueryMessageID(), static_cast<long>(static_cast<unsigned char>(conversion)),
      static_cast<long>(static_cast<std::int32_t>(number)), TString(fMessage.QueryFile()),
      fMessage.QueryLine());
}

// ------------------------------------------------------------- rendering ----

/// Appends `size` bytes padded with spaces to `width`, on the left unless `left`.
void AppendPadded(std::string& out, const char* data, std::size_t size, std::uint32_t width,
                  bool left) {
  const std::size_t pad = width > size ? width - size : 0;
  if (!left) {
    out.append(pad, ' ');
  }
  out.append(data, size);
  if (left) {
    out.append(pad, ' ');
  }
}

/// Formats one value with snprintf into a buffer sized by what snprintf reports.
template <class Value> void AppendFormatted(std::string& out, const char* directive, Value value) {
  char local[512];
  const int size = std::snprintf(local, sizeof local, directive, value);
  if (size < 0) {
    return; // an encoding error prints nothing
  }
  if (static_cast<std::size_t>(size) < sizeof local) {
    out.append(local, static_cast<std::size_t>(size));
    return;
  }
  std::vector<char> large(static_cast<std::size_t>(size) + 1);
  std::snprintf(large.data(), large.size(), directive, value);
  out.append(large.data(), static_cast<std::size_t>(size));
}

/// Renders one valid conversion. Widths and precisions are capped at kFieldLimit; flags and
/// precisions that C leaves undefined for a conversion are ignored.
void AppendConversion(std::string& out, const Piece& piece) {
  std::uint8_t flags = piece.flags;
  bool hasWidth = piece.hasWidth;
  std::uint32_t width = piece.width;
  if (piece.starWidth) {
    // A negative `*` width means left-justified in its magnitude.
    const auto value = static_cast<std::int64_t>(static_cast<std::int32_t>(piece.width));
    if (value < 0) {
      flags |= kLeft;
    }
    width =
        static_cast<std::uint32_t>(std::min<std::int64_t>(value < 0 ? -value : value, kFieldLimit));
    hasWidth = true;
  }
  width = std::min(width, kFieldLimit);
  bool hasPrecision = piece.hasPrecision;
  std::uint32_t precision = piece.precision;
  if (piece.starPrecision) {
    // A negative `*` precision counts as none.
    const auto value = static_cast<std::int32_t>(piece.precision);
    hasPrecision = value >= 0;
    precision = hasPrecision ? static_cast<std::uint32_t>(value) : 0;
  }
  precision = std::min(precision, kFieldLimit);

  const char conversion = piece.conversion;
  if (conversion == 'c') {
    const char byte = static_cast<char>(static_cast<unsigned char>(piece.bits));
    AppendPadded(out, &byte, 1, hasWidth ? width : 0, (flags & kLeft) != 0);
    return;
  }
  if (conversion == 's') {
    // `%ls`, `%hs` and `%Ls` print the argument's narrow text too.
    const char* text = piece.text != nullptr ? piece.text : kNullText;
    std::size_t size =
        piece.text != nullptr ? ::strnlen(piece.text, piece.textLength) : sizeof kNullText - 1;
    if (hasPrecision) {
      size = std::min<std::size_t>(size, precision);
    }
    AppendPadded(out, text, size, hasWidth ? width : 0, (flags & kLeft) != 0);
    return;
  }

  const Kind kind = KindOf(conversion);
  const bool isSigned = conversion == 'd' || conversion == 'i';
  const char* allowed = kind == Kind::real      ? "-+ #0"
                        : isSigned              ? "-+ 0"
                        : kind == Kind::integer ? "-#0"
                                                : "-";
  char directive[32];
  std::size_t n = 0;
  directive[n++] = '%';
  for (const char* f = allowed; *f != '\0'; ++f) {
    if ((flags & FlagOf(*f)) != 0) {
      directive[n++] = *f;
    }
  }
  if (hasWidth) {
    n += static_cast<std::size_t>(std::snprintf(directive + n, sizeof directive - n, "%u", width));
  }
  if (hasPrecision && kind != Kind::pointer) {
    n += static_cast<std::size_t>(
        std::snprintf(directive + n, sizeof directive - n, ".%u", precision));
  }
  directive[n++] = conversion;
  directive[n] = '\0';
  switch (kind) {
  case Kind::integer:
    if (isSigned) {
      AppendFormatted(out, directive, static_cast<int>(static_cast<std::int32_t>(piece.bits)));
    } else {
      AppendFormatted(out, directive, static_cast<unsigned int>(piece.bits));
    }
    break;
  case Kind::real:
    AppendFormatted(out, directive, piece.real);
    break;
  case Kind::pointer:
    AppendFormatted(out, directive, const_cast<void*>(piece.pointer));
    break;
  default:
    break;
  }
}

/// Formats `format` with the message's arguments: the validation walk, then each piece.
TString Render(const TMessage& message, const TString& format) {
  TString rewritten;
  TMessage::CharP block;
  std::vector<Piece> pieces;
  const char* bytes = format;
  pieces.reserve(static_cast<std::size_t>(
      bytes != nullptr ? std::count(bytes, bytes + format.length(), '%') : 0));
  const std::uint32_t estimate = FormatWalk(message, format, rewritten, block, &pieces).Run();

  // The rewritten format is read as the C formatter reads it: up to its first NUL.
  const char* text = rewritten;
  const std::size_t view = ::strnlen(text, rewritten.length());
  std::string out;
  out.reserve(std::min<std::size_t>(estimate, kReserveLimit));
  std::size_t at = 0;
  for (const Piece& piece : pieces) {
    if (piece.begin >= view) {
      break;
    }
    out.append(text + at, piece.begin - at);
    if (piece.conversion == '%') {
      out.push_back('%');
    } else if (piece.conversion == '?') {
      out.append(text + piece.begin, piece.end - piece.begin); // %n prints as written: "%?"
    } else {
      AppendConversion(out, piece);
    }
    at = piece.end;
  }
  out.append(text + at, view - at);
  if (out.size() >= std::numeric_limits<unsigned int>::max()) {
    throw std::length_error("rendered message too long");
  }
  return TString(out.data(), static_cast<unsigned int>(out.size()));
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
  return FormatWalk(*this, format, rewritten, block, nullptr).Run();
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
    fRendered = Render(*this, Utf16ToUtf8(*text));
  } else {
    fRendered = Render(*this, *text);
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

/// Holds the archive's lock for one scope. A failed lock (the mutex could not be made)
/// still lets the work go on, unguarded, rather than losing it.
class ArchiveLock {
public:
  explicit ArchiveLock(TMutexSemaphore& mutex) noexcept
      : fEntry(mutex, TMutexSemaphore::fsInfinite) {}

private:
  TMutexSemaphoreEntry fEntry;
};

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
  const ArchiveLock lock(fLock);
  if (fStores.Find(store.Key()) != nullptr) {
    return false;
  }
  auto element = std::make_unique<TElemPointer<TMessageStore>>(&store);
  fStores.Add(element.get());
  element.release(); // the set owns it now
  return true;
}

void TMessageArchive::Remove(const TMessageStore& store) noexcept {
  const ArchiveLock lock(fLock);
  StoreSet::Cursor cursor(fStores);
  for (TElemPointer<TMessageStore>* item = cursor.Element(); item != nullptr;
       item = cursor.Next()) {
    // By identity: a store that never registered must not take out a namesake.
    if (item->QueryPointer() == &store) {
      fStores.Remove(item);
      delete item;
      return;
    }
  }
}

TMessageStore* TMessageArchive::Lookup(const TMessage::StoreID& store) {
  const ArchiveLock lock(fLock);
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
