// fuzz/printf_format_fuzz.cpp: parses arbitrary format bytes and lays out arbitrary integers.
// Licensed under the Apache License, Version 2.0.
//
// The input is read as: a conversion selector byte, a flags byte, a 16-bit width and a 16-bit
// precision (0xFFFF: none; both capped at 4096 as the renderer caps them), 4 value bytes, then
// the rest as a format. The parser's units must lie in order inside the format, each starting
// at a '%', with its fields inside it; the integer layout must equal the C formatter's text.
#include "internal/printf_format.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

void Check(bool condition) {
  if (!condition) {
    std::abort();
  }
}

template <class T> T Take(const std::uint8_t*& data, std::size_t& size) {
  T value{};
  const std::size_t take = size < sizeof value ? size : sizeof value;
  std::memcpy(&value, data, take);
  data += take;
  size -= take;
  return value;
}

void CheckField(const tavutil::detail::FormatField& field, const tavutil::detail::FormatUnit& unit,
                const char* format) {
  if (!field.present || field.fromArgument) {
    return;
  }
  Check(field.digitsBegin <= field.digitsEnd);
  Check(field.digitsBegin > unit.begin && field.digitsEnd < unit.end);
  for (std::size_t at = field.digitsBegin; at < field.digitsEnd; ++at) {
    Check(format[at] >= '0' && format[at] <= '9');
  }
}

void CheckUnits(const char* format, std::size_t length) {
  using tavutil::detail::FormatUnit;
  tavutil::detail::FormatParser parser(format, length);
  std::size_t previousEnd = 0;
  for (FormatUnit unit; parser.Next(unit);) {
    Check(unit.begin >= previousEnd && unit.begin < unit.end && unit.end <= length);
    Check(format[unit.begin] == '%');
    Check(unit.flagsBegin > unit.begin && unit.flagsBegin <= unit.flagsEnd &&
          unit.flagsEnd <= unit.end);
    if (unit.type == FormatUnit::Type::conversion) {
      Check(format[unit.end - 1] == unit.conversion);
      Check(tavutil::detail::KindOfConversion(unit.conversion) == unit.kind);
      CheckField(unit.width, unit, format);
      CheckField(unit.precision, unit, format);
    } else if (unit.type == FormatUnit::Type::percent) {
      Check(format[unit.end - 1] == '%');
    }
    previousEnd = unit.end;
  }
}

void CheckInteger(std::uint8_t selector, std::uint8_t flags, std::uint16_t width,
                  std::uint16_t precision, std::uint32_t bits) {
  constexpr char kConversions[] = "diouxX";
  const char conversion = kConversions[selector % 6];
  const bool isSigned = conversion == 'd' || conversion == 'i';
  const bool hasWidth = width != 0xFFFF;
  const bool hasPrecision = precision != 0xFFFF;
  const std::uint32_t widthValue = hasWidth ? width % 4097u : 0;
  const std::uint32_t precisionValue = hasPrecision ? precision % 4097u : 0;

  std::string directive = "%";
  const char flagCharacters[] = "-+ #0";
  const std::string allowed = isSigned ? "-+ 0" : "-#0";
  for (unsigned bit = 0; bit < 5; ++bit) {
    if ((flags & (1u << bit)) != 0 && allowed.find(flagCharacters[bit]) != std::string::npos) {
      directive += flagCharacters[bit];
    }
  }
  if (hasWidth) {
    directive += std::to_string(widthValue);
  }
  if (hasPrecision) {
    directive += "." + std::to_string(precisionValue);
  }
  directive += conversion;
  static char expected[10000];
  if (isSigned) {
    std::snprintf(expected, sizeof expected, directive.c_str(), static_cast<int>(bits));
  } else {
    std::snprintf(expected, sizeof expected, directive.c_str(), bits);
  }
  const tavutil::detail::IntegerLayout layout = tavutil::detail::LayOutInteger(
      conversion, flags, hasWidth, widthValue, hasPrecision, precisionValue, bits);
  const std::string laidOut =
      std::string(layout.leadingSpaces, ' ') + std::string(layout.prefix, layout.prefixLength) +
      std::string(layout.zeros, '0') + std::string(layout.digits, layout.digitCount) +
      std::string(layout.trailingSpaces, ' ');
  Check(laidOut == expected);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto selector = Take<std::uint8_t>(data, size);
  const auto flags = Take<std::uint8_t>(data, size);
  const auto width = Take<std::uint16_t>(data, size);
  const auto precision = Take<std::uint16_t>(data, size);
  const auto bits = Take<std::uint32_t>(data, size);
  CheckInteger(selector, flags, width, precision, bits);
  // The format in a buffer of its own size, so that a read past it trips the sanitizer.
  const std::unique_ptr<char[]> format(new char[size != 0 ? size : 1]);
  if (size != 0) {
    std::memcpy(format.get(), data, size);
  }
  CheckUnits(format.get(), size);
  return 0;
}
