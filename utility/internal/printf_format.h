// utility/internal/printf_format.h: the printf-style format engine behind message rendering.
// Licensed under the Apache License, Version 2.0.
//
// Knows formats and numbers only: what arguments are and how diagnostics are reported is the
// message code's business. Internal to the library; never installed.
#ifndef TAVUTIL_INTERNAL_PRINTF_FORMAT_H
#define TAVUTIL_INTERNAL_PRINTF_FORMAT_H

#include <cstddef>
#include <cstdint>

namespace tavutil::detail {

/// The most bytes a rendered message holds. Rendering stops once it is reached, so time and
/// memory stay proportional to the format plus this much output, whatever widths the format
/// asks for; a text made from Unicode is cut before a UTF-8 sequence it would split.
inline constexpr std::size_t kRenderLimit = std::size_t{16} << 20;

/// The flags of a conversion, as bits.
enum FormatFlag : std::uint8_t {
  kFlagLeft = 1,      ///< '-'
  kFlagPlus = 2,      ///< '+'
  kFlagSpace = 4,     ///< ' '
  kFlagAlternate = 8, ///< '#'
  kFlagZero = 16      ///< '0'
};

/// What a conversion character takes.
enum class ConversionKind : std::uint8_t { none, integer, real, character, text, pointer, count };

/// The kind of a conversion character; `none` for a character that is not one.
ConversionKind KindOfConversion(int character) noexcept;

/// A width or a precision as written.
struct FormatField {
  bool present = false;        ///< written at all (a precision: a '.' was written)
  bool fromArgument = false;   ///< written '*': the value comes from argument `argument`
  std::uint32_t value = 0;     ///< the literal number, saturated at 2^32 - 1; 0 for a bare '.'
  std::uint32_t argument = 0;  ///< the 1-based argument of a '*'
  std::size_t digitsBegin = 0; ///< where the literal digits lie in the format
  std::size_t digitsEnd = 0;
};

/// One unit of a format that starts with '%'.
struct FormatUnit {
  enum class Type : std::uint8_t {
    conversion, ///< a valid conversion that takes arguments
    percent,    ///< a unit ending in '%' ("%%", "%5%"): prints one '%'
    literal     ///< anything else (an unknown character, or cut short): prints as written
  };
  Type type = Type::literal;
  std::size_t begin = 0; ///< the '%'
  std::size_t end = 0;   ///< one past the unit's last byte
  std::uint8_t flags = 0;
  std::size_t flagsBegin = 0; ///< the flag characters as written, repeats included
  std::size_t flagsEnd = 0;
  FormatField width;
  FormatField precision;
  char lengthModifier = 0; ///< 'h', 'l', 'L' or 0
  char conversion = 0;     ///< the conversion character (conversions only)
  ConversionKind kind = ConversionKind::none;
  std::uint32_t argument = 0; ///< the 1-based argument of the value
};

/// Walks the '%' units of a format in order, numbering arguments as the C formatter does:
/// each '*' and each value takes the next number unless written with "n$". A unit that is not
/// a conversion takes no numbers. A '%' that is the format's last byte starts no unit.
///
///   FormatParser parser(text, length);
///   for (FormatUnit unit; parser.Next(unit);) { ... }
class FormatParser {
public:
  FormatParser(const char* format, std::size_t length) noexcept
      : fFormat(format), fLength(length) {}

  /// The next unit; false when the rest of the format is literal text.
  bool Next(FormatUnit& unit) noexcept;
  /// Goes on from `position` (the next unit is looked for there) with `nextArgument` as the
  /// next sequential argument number: for a caller that read the units before it itself.
  void Seek(std::size_t position, std::uint32_t nextArgument) noexcept {
    fSearchFrom = position;
    fNextArgument = nextArgument;
  }
  /// The number the next sequential conversion takes.
  std::uint32_t NextArgument() const noexcept { return fNextArgument; }

private:
  /// The byte at `position`, or -1 past the end.
  int At(std::size_t position) const noexcept;
  /// Reads decimal digits at `position` (advancing it), saturating at 2^32 - 1; `any` tells
  /// whether there were any.
  std::uint32_t ReadNumber(std::size_t& position, bool& any) const noexcept;
  /// After a '*': the number of a following "n$" (skipped), else the next argument number.
  std::uint32_t StarArgument(std::size_t& position) noexcept;
  /// Reads a position "n$" at `position` into the unit's argument number (advancing past
  /// it); false, reading nothing, when there is none.
  bool ReadPosition(std::size_t& position, FormatUnit& unit) const noexcept;
  /// Reads a width or precision at `position`: a '*' with its argument number, or digits
  /// (none is a value of 0).
  void ReadField(std::size_t& position, FormatField& field) noexcept;
  /// Reads flags, width, precision and length modifier, from `position` to the conversion
  /// character.
  void ReadSpecification(std::size_t& position, FormatUnit& unit) noexcept;

  const char* fFormat;
  std::size_t fLength;
  std::size_t fSearchFrom = 0;
  std::uint32_t fNextArgument = 1;
};

/// An integer conversion laid out as the C formatter prints it: leading spaces, sign or
/// "0x" prefix, zeros, digits, trailing spaces.
struct IntegerLayout {
  std::size_t leadingSpaces = 0;
  char prefix[2] = {};
  std::size_t prefixLength = 0;
  std::size_t zeros = 0;
  char digits[12] = {};
  std::size_t digitCount = 0;
  std::size_t trailingSpaces = 0;
};

/// Lays out `bits` for the conversion `conversion` ('d', 'i', 'o', 'u', 'x' or 'X'; d and i
/// read the bits as signed) with `flags`, and a width and precision when `hasWidth` and
/// `hasPrecision`. Flags the C standard leaves undefined for the conversion are ignored.
IntegerLayout LayOutInteger(char conversion, std::uint8_t flags, bool hasWidth, std::uint32_t width,
                            bool hasPrecision, std::uint32_t precision,
                            std::uint32_t bits) noexcept;

} // namespace tavutil::detail

#endif // TAVUTIL_INTERNAL_PRINTF_FORMAT_H
