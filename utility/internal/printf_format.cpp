// utility/internal/printf_format.cpp: parsing printf-style formats and laying out integers.
// Licensed under the Apache License, Version 2.0.
//
// Operating-system independent. Every read of the format goes through At(), which gives -1
// past the end, so a format cut short anywhere ends its unit as a literal one.
#include "internal/printf_format.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace tavutil::detail {

namespace {

/// The flag of a format character, or 0 when it is none.
std::uint8_t FlagOf(int character) noexcept {
  switch (character) {
  case '-':
    return kFlagLeft;
  case '+':
    return kFlagPlus;
  case ' ':
    return kFlagSpace;
  case '#':
    return kFlagAlternate;
  case '0':
    return kFlagZero;
  default:
    return 0;
  }
}

bool IsDigit(int character) noexcept {
  return character >= '0' && character <= '9';
}

bool IsLengthModifier(int character) noexcept {
  return character == 'h' || character == 'l' || character == 'L';
}

} // namespace

ConversionKind KindOfConversion(int character) noexcept {
  switch (character) {
  case 'X':
  case 'd':
  case 'i':
  case 'o':
  case 'u':
  case 'x':
    return ConversionKind::integer;
  case 'E':
  case 'F':
  case 'G':
  case 'e':
  case 'f':
  case 'g':
    return ConversionKind::real;
  case 'c':
    return ConversionKind::character;
  case 's':
    return ConversionKind::text;
  case 'p':
    return ConversionKind::pointer;
  case 'n':
    return ConversionKind::count;
  default:
    return ConversionKind::none;
  }
}

// ------------------------------------------------------------------ parser ----

int FormatParser::At(std::size_t position) const noexcept {
  return position < fLength ? static_cast<unsigned char>(fFormat[position]) : -1;
}

std::uint32_t FormatParser::ReadNumber(std::size_t& position, bool& any) const noexcept {
  std::uint64_t value = 0;
  any = false;
  while (IsDigit(At(position))) {
    value = std::min<std::uint64_t>(value * 10 + static_cast<unsigned>(At(position) - '0'),
                                    0xFFFFFFFFu);
    any = true;
    ++position;
  }
  return static_cast<std::uint32_t>(value);
}

std::uint32_t FormatParser::StarArgument(std::size_t& position) noexcept {
  std::size_t look = position;
  bool any = false;
  const std::uint32_t number = ReadNumber(look, any);
  if (any && At(look) == '$') {
    position = look + 1;
    return number;
  }
  return fNextArgument++;
}

bool FormatParser::ReadPosition(std::size_t& position, FormatUnit& unit) const noexcept {
  std::size_t look = position;
  bool any = false;
  const std::uint32_t number = ReadNumber(look, any);
  if (!any || At(look) != '$') {
    return false;
  }
  unit.argument = number;
  position = look + 1;
  return true;
}

void FormatParser::ReadField(std::size_t& position, FormatField& field) noexcept {
  if (At(position) == '*') {
    ++position;
    field.fromArgument = true;
    field.argument = StarArgument(position);
    return;
  }
  bool any = false;
  field.digitsBegin = position;
  field.value = ReadNumber(position, any);
  field.digitsEnd = position;
}

void FormatParser::ReadSpecification(std::size_t& position, FormatUnit& unit) noexcept {
  unit.flagsBegin = position;
  for (std::uint8_t flag = FlagOf(At(position)); flag != 0; flag = FlagOf(At(position))) {
    unit.flags |= flag;
    ++position;
  }
  unit.flagsEnd = position;
  if (At(position) == '*' || IsDigit(At(position))) {
    unit.width.present = true; // a width is there only with a star or digits
    ReadField(position, unit.width);
  }
  if (At(position) == '.') {
    ++position;
    unit.precision.present = true; // "%.d" has a precision of 0
    ReadField(position, unit.precision);
  }
  if (IsLengthModifier(At(position))) {
    unit.lengthModifier = static_cast<char>(At(position++));
  }
}

bool FormatParser::Next(FormatUnit& unit) noexcept {
  if (fSearchFrom >= fLength) {
    return false;
  }
  const void* hit = std::memchr(fFormat + fSearchFrom, '%', fLength - fSearchFrom);
  const std::size_t start = hit != nullptr ? static_cast<const char*>(hit) - fFormat : fLength;
  if (start + 1 >= fLength) {
    fSearchFrom = fLength; // none left, or a last '%' that goes with the literal tail
    return false;
  }
  unit = FormatUnit{};
  unit.begin = start;
  const std::uint32_t firstArgument = fNextArgument;
  std::size_t position = start + 1;
  const bool positional = ReadPosition(position, unit);
  ReadSpecification(position, unit);
  if (!positional) {
    unit.argument = fNextArgument++;
  }

  const int character = At(position);
  unit.kind = KindOfConversion(character);
  fSearchFrom = position + 1;
  if (unit.kind == ConversionKind::none) {
    // Its bytes print as they stand and it takes no argument numbers.
    fNextArgument = firstArgument;
    unit.type = character == '%' ? FormatUnit::Type::percent : FormatUnit::Type::literal;
    unit.end = std::min(position + 1, fLength);
    return true;
  }
  unit.type = FormatUnit::Type::conversion;
  unit.conversion = static_cast<char>(character);
  unit.end = position + 1;
  return true;
}

// ---------------------------------------------------------------- integers ----

IntegerLayout LayOutInteger(char conversion, std::uint8_t flags, bool hasWidth, std::uint32_t width,
                            bool hasPrecision, std::uint32_t precision,
                            std::uint32_t bits) noexcept {
  IntegerLayout layout;
  const bool isSigned = conversion == 'd' || conversion == 'i';
  flags &= isSigned ? (kFlagLeft | kFlagPlus | kFlagSpace | kFlagZero)
                    : (kFlagLeft | kFlagAlternate | kFlagZero);
  const bool negative = isSigned && static_cast<std::int32_t>(bits) < 0;
  const std::uint32_t magnitude = negative ? 0u - bits : bits;
  const int base = conversion == 'o' ? 8 : conversion == 'x' || conversion == 'X' ? 16 : 10;

  // A zero printed with precision 0 has no digits at all.
  if (!(hasPrecision && precision == 0 && magnitude == 0)) {
    const std::to_chars_result written =
        std::to_chars(layout.digits, layout.digits + sizeof layout.digits, magnitude, base);
    layout.digitCount = static_cast<std::size_t>(written.ptr - layout.digits);
    if (conversion == 'X') {
      std::transform(layout.digits, written.ptr, layout.digits, [](char digit) {
        return digit >= 'a' && digit <= 'f' ? static_cast<char>(digit - 'a' + 'A') : digit;
      });
    }
  }
  if (hasPrecision && precision > layout.digitCount) {
    layout.zeros = precision - layout.digitCount;
  }
  // '#' with 'o' makes the first digit a zero.
  if (conversion == 'o' && (flags & kFlagAlternate) != 0 && layout.zeros == 0 &&
      (layout.digitCount == 0 || layout.digits[0] != '0')) {
    layout.zeros = 1;
  }
  if (negative) {
    layout.prefix[layout.prefixLength++] = '-';
  } else if ((flags & kFlagPlus) != 0) {
    layout.prefix[layout.prefixLength++] = '+';
  } else if ((flags & kFlagSpace) != 0) {
    layout.prefix[layout.prefixLength++] = ' ';
  }
  if (base == 16 && (flags & kFlagAlternate) != 0 && magnitude != 0) {
    layout.prefix[layout.prefixLength++] = '0';
    layout.prefix[layout.prefixLength++] = conversion;
  }
  const std::size_t size = layout.prefixLength + layout.zeros + layout.digitCount;
  if (hasWidth && width > size) {
    const std::size_t pad = width - size;
    if ((flags & kFlagLeft) != 0) {
      layout.trailingSpaces = pad;
    } else if ((flags & kFlagZero) != 0 && !hasPrecision) {
      layout.zeros += pad;
    } else {
      layout.leadingSpaces = pad;
    }
  }
  return layout;
}

} // namespace tavutil::detail
