// utility/message_render.cpp: TMessage::ValidateArgs, the argument binder, rendering and
// QueryMessage.
// Licensed under the Apache License, Version 2.0.
//
// Operating-system independent. Rendering walks a format's units once and writes the text
// straight into a TextBuffer; only reals and pointers go to snprintf, each from a directive
// built here and a value of the exact C type, so no format byte ever reaches the runtime's
// formatter unchecked. A conversion whose argument is missing or mismatched renders as zero
// and is traced; nothing on this path throws but memory and length failures.
#include <tavutil/message.h>
#include <tavutil/tracepoint.h>

#include "internal/messagesource.h"
#include "internal/messagetext.h"
#include "internal/printf_format.h"
#include "internal/textbuffer.h"
#include "internal/unicode.h"

#include <algorithm>
#include <cassert>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <stdexcept>
#include <utility>
#include <vector>

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
using tavutil::detail::kMessageDiagnosticLevel;
using tavutil::detail::kMessageSource;
using tavutil::detail::kRenderLimit;

constexpr char kPercentN[] = "%%n found in format string in message(%s,%u,%u) from %s[%u]";
constexpr char kWidthMismatch[] = // fixed: the comma the other two texts lack
    "Type mismatch in message(%s,%u,%u), expecting width for argument %d from %s[%u]";
constexpr char kPrecisionMismatch[] =
    "Type mismatch in message(%s,%u,%u) expecting precision for argument %d from %s[%u]";
constexpr char kValueMismatch[] =
    "Type mismatch in message(%s,%u,%u) expecting %c for argument %d from %s[%u]";
// fixed: the lines quoted, which are not this file's own
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
  TAVUTIL_TRACE_AT(kMessageDiagnosticLevel, TUtilityTraceCategory::Message, kMessageSource,
                   kLinePercentN, kPercentN, static_cast<const TString&>(fMessage.QueryStoreID()),
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
  TAVUTIL_TRACE_AT(kMessageDiagnosticLevel, TUtilityTraceCategory::Message, kMessageSource,
                   rule.line, rule.mismatch, static_cast<const TString&>(fMessage.QueryStoreID()),
                   fMessage.QuerySetID(), fMessage.QueryMessageID(),
                   static_cast<long>(static_cast<std::int32_t>(number)),
                   TString(fMessage.QueryFile()), fMessage.QueryLine());
}

void ArgumentBinder::TraceValueMismatch(char conversion, std::uint32_t number) const {
  TAVUTIL_TRACE_AT(
      kMessageDiagnosticLevel, TUtilityTraceCategory::Message, kMessageSource, kLineValueMismatch,
      kValueMismatch, static_cast<const TString&>(fMessage.QueryStoreID()), fMessage.QuerySetID(),
      fMessage.QueryMessageID(), static_cast<long>(static_cast<unsigned char>(conversion)),
      static_cast<long>(static_cast<std::int32_t>(number)), TString(fMessage.QueryFile()),
      fMessage.QueryLine());
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

/// Appends a conversion written without position, flags, width, precision or length
/// modifier ("%d", "%s", "%c"), bound to `values`.
void AppendPlain(TextBuffer& out, ConversionKind kind, char conversion, const BoundValues& values) {
  if (kind == ConversionKind::integer) {
    AppendPlainInteger(out, conversion, values.bits);
  } else if (kind == ConversionKind::text) {
    if (values.text != nullptr) {
      out.Append(values.text, ::strnlen(values.text, values.textLength));
    } else {
      out.Append(kNullText, sizeof kNullText - 1);
    }
  } else {
    out.Append(static_cast<char>(static_cast<unsigned char>(values.bits)));
  }
}

/// Where a walk of a format stands: the literal text not yet written starts at `literalFrom`,
/// the next '%' is looked for from `from`, and a sequential conversion takes `nextArgument`.
struct WalkState {
  std::size_t literalFrom = 0;
  std::size_t from = 0;
  std::uint32_t nextArgument = 1;
};

/// Reads the unit at `at` with the parser (a literal run, "%%" or a conversion) and, when it
/// is `shown`, writes it; a conversion is bound whether shown or not. `start` is where the
/// text began in `out`.
void RenderParsedUnit(ArgumentBinder& binder, FormatParser& parser, const char* bytes,
                      std::size_t at, bool shown, WalkState& walk, TextBuffer& out,
                      std::size_t start) {
  FormatUnit unit;
  parser.Seek(at, walk.nextArgument);
  parser.Next(unit);
  walk.nextArgument = parser.NextArgument();
  walk.from = unit.end;
  if (unit.type == FormatUnit::Type::literal) {
    return; // its bytes go out with the literal text after it
  }
  walk.literalFrom = unit.end;
  if (unit.type == FormatUnit::Type::percent) {
    if (shown) {
      out.Append('%');
    }
    return;
  }
  const BoundValues values = binder.Bind(unit);
  if (!shown) {
    return;
  }
  if (unit.kind == ConversionKind::count) {
    // Printed as the sequential format shows it: "%?".
    RewriteConversion(bytes, unit,
                      [&out](const char* data, std::size_t size) { out.Append(data, size); });
  } else {
    const std::size_t used = out.Size() - start;
    AppendConversion(out, unit, values, kRenderLimit - std::min(used, kRenderLimit));
  }
}

/// Formats `bytes` (the format, `length` bytes) with the binder's arguments into `out`, up
/// to kRenderLimit bytes from where it starts. The text ends at the format's first NUL, as
/// the C formatter reads it, but every conversion is still bound and checked. `utf8` says the
/// format was made from Unicode, so that a cut never leaves half a character. The common
/// conversions ("%d", "%s") are bound and written without the parser.
void Render(ArgumentBinder& binder, const char* bytes, std::size_t length, bool utf8,
            TextBuffer& out) {
  CheckFormatLength(length);
  if (bytes == nullptr) {
    return; // a text without buffer (of length 0): nothing to write or bind
  }
  const std::size_t start = out.Size();
  out.LimitFromHere(kRenderLimit);
  const std::size_t view = ::strnlen(bytes, length);
  FormatParser parser(bytes, length);
  WalkState walk;
  while (walk.from + 1 < length) {
    const void* hit = std::memchr(bytes + walk.from, '%', length - walk.from);
    if (hit == nullptr) {
      break;
    }
    const auto at = static_cast<std::size_t>(static_cast<const char*>(hit) - bytes);
    if (at + 1 >= length) {
      break; // a last '%' goes with the literal tail
    }
    const std::size_t visible = std::min(at, view);
    if (walk.literalFrom < visible) {
      out.Append(bytes + walk.literalFrom, visible - walk.literalFrom);
      walk.literalFrom = visible;
    }
    const bool shown = at < view && !out.Full();
    const ConversionKind plain = PlainKind(bytes[at + 1]);
    if (plain == ConversionKind::none) {
      RenderParsedUnit(binder, parser, bytes, at, shown, walk, out, start);
      continue;
    }
    BoundValues values;
    binder.BindValue(plain, bytes[at + 1], walk.nextArgument++, values);
    walk.literalFrom = walk.from = at + 2;
    if (shown) {
      AppendPlain(out, plain, bytes[at + 1], values);
    }
  }
  if (walk.literalFrom < view) {
    out.Append(bytes + walk.literalFrom, view - walk.literalFrom);
  }
  if (utf8) {
    TrimCutSequence(out, start);
  }
  out.RemoveLimit(); // a trace line goes on after the text
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
    tavutil::detail::AppendUtf8(narrow, *text, text->length());
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
