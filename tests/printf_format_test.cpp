// tests/printf_format_test.cpp: the format parser's units and the integer layout.
// Licensed under the Apache License, Version 2.0.
#include "internal/printf_format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using tavutil::detail::ConversionKind;
using tavutil::detail::FormatParser;
using tavutil::detail::FormatUnit;
using tavutil::detail::IntegerLayout;
using tavutil::detail::LayOutInteger;

/// The units of a format, each as "type[begin,end)" plus "#argument" for conversions and
/// "*argument" for each '*' field.
std::string Units(const std::string& format) {
  std::string out;
  FormatParser parser(format.data(), format.size());
  for (FormatUnit unit; parser.Next(unit);) {
    out += unit.type == FormatUnit::Type::conversion ? unit.conversion
           : unit.type == FormatUnit::Type::percent  ? '%'
                                                     : '=';
    out += "[" + std::to_string(unit.begin) + "," + std::to_string(unit.end) + ")";
    if (unit.type == FormatUnit::Type::conversion) {
      if (unit.width.fromArgument) {
        out += "*" + std::to_string(unit.width.argument);
      }
      if (unit.precision.fromArgument) {
        out += ".*" + std::to_string(unit.precision.argument);
      }
      out += "#" + std::to_string(unit.argument);
    }
    out += ' ';
  }
  return out;
}

std::string Assemble(const IntegerLayout& layout) {
  return std::string(layout.leadingSpaces, ' ') + std::string(layout.prefix, layout.prefixLength) +
         std::string(layout.zeros, '0') + std::string(layout.digits, layout.digitCount) +
         std::string(layout.trailingSpaces, ' ');
}

TEST(FormatParser, UnitsTheirExtentsAndArgumentNumbers) {
  struct Case {
    const char* format;
    const char* units;
  };
  const Case cases[] = {
      {"plain text", ""},
      {"a %d b %s", "d[2,4)#1 s[7,9)#2 "},
      {"%%|%5%|%y|%d", "%[0,2) %[3,6) =[7,9) d[10,12)#1 "}, // none of the first three counts
      {"%*.*d %d", "d[0,5)*1.*2#3 d[6,8)#4 "},
      {"%2$s %1$d %*3$d", "s[0,4)#2 d[5,9)#1 d[10,15)*3#1 "}, // "n$" takes no number
      {"%-+ #0ld %Lf %hc", "d[0,8)#1 f[9,12)#2 c[13,16)#3 "},
      {"%*y%d", "=[0,3) d[3,5)#1 "}, // a unit that is no conversion gives its numbers back
      {"%n%p", "n[0,2)#1 p[2,4)#2 "},
      {"ends %", ""},    // a last '%' is literal text
      {"%5", "=[0,2) "}, // cut short
      {"%.", "=[0,2) "},
      {"%1$", "=[0,3) "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    EXPECT_EQ(Units(c.format), c.units);
  }
  EXPECT_EQ(Units(std::string("%\0d%d", 5)), "=[0,2) d[3,5)#1 ");
}

TEST(FormatParser, FieldsFlagsAndLengthAsWritten) {
  const std::string format = "%0-7.03lx%99999999999.d";
  FormatParser parser(format.data(), format.size());
  FormatUnit unit;
  ASSERT_TRUE(parser.Next(unit));
  EXPECT_EQ(unit.kind, ConversionKind::integer);
  EXPECT_EQ(unit.flags, tavutil::detail::kFlagZero | tavutil::detail::kFlagLeft);
  EXPECT_EQ(format.substr(unit.flagsBegin, unit.flagsEnd - unit.flagsBegin), "0-");
  EXPECT_TRUE(unit.width.present && !unit.width.fromArgument);
  EXPECT_EQ(unit.width.value, 7u);
  EXPECT_EQ(format.substr(unit.precision.digitsBegin, 2), "03");
  EXPECT_EQ(unit.precision.value, 3u);
  EXPECT_EQ(unit.lengthModifier, 'l');
  ASSERT_TRUE(parser.Next(unit));
  EXPECT_EQ(unit.width.value, 0xFFFFFFFFu); // saturated
  EXPECT_TRUE(unit.precision.present);      // a bare '.' is precision 0
  EXPECT_EQ(unit.precision.value, 0u);
  EXPECT_EQ(unit.precision.digitsBegin, unit.precision.digitsEnd);
  EXPECT_FALSE(parser.Next(unit));
}

// Every integer conversion, flag set, width, precision and a spread of values, against the C
// formatter given the flags the standard defines for that conversion.
TEST(IntegerLayout, MatchesTheCFormatter) {
  const std::vector<std::uint32_t> values = {
      0, 1, 7, 8, 16, 255, 12345, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0xFFFFFFF9};
  const int fields[] = {-1, 0, 1, 3, 12};
  const char flagCharacters[] = {'-', '+', ' ', '#', '0'};
  int compared = 0;
  for (const char conversion : std::string("diouxX")) {
    const bool isSigned = conversion == 'd' || conversion == 'i';
    const std::string allowed = isSigned ? "-+ 0" : "-#0";
    for (unsigned flags = 0; flags < 32; ++flags) {
      std::string directive = "%";
      for (unsigned bit = 0; bit < 5; ++bit) {
        if ((flags & (1u << bit)) != 0 && allowed.find(flagCharacters[bit]) != std::string::npos) {
          directive += flagCharacters[bit];
        }
      }
      for (const int width : fields) {
        for (const int precision : fields) {
          const std::string full = directive + (width >= 0 ? std::to_string(width) : "") +
                                   (precision >= 0 ? "." + std::to_string(precision) : "") +
                                   conversion;
          // The standard's '#' makes the first octal digit a 0, so %#.0o of 0 is "0" as %#.1o
          // is; the Windows C library prints nothing there.
          const bool octalZero =
              conversion == 'o' && precision == 0 && directive.find('#') != std::string::npos;
          for (const std::uint32_t bits : values) {
            const std::string format =
                octalZero && bits == 0 ? full.substr(0, full.size() - 2) + "1o" : full;
            char expected[64];
            if (isSigned) {
              std::snprintf(expected, sizeof expected, format.c_str(), static_cast<int>(bits));
            } else {
              std::snprintf(expected, sizeof expected, format.c_str(), bits);
            }
            const IntegerLayout layout =
                LayOutInteger(conversion, static_cast<std::uint8_t>(flags), width >= 0,
                              static_cast<std::uint32_t>(width), precision >= 0,
                              static_cast<std::uint32_t>(precision), bits);
            ASSERT_EQ(Assemble(layout), expected) << full << " of " << bits;
            ++compared;
          }
        }
      }
    }
  }
  EXPECT_EQ(compared, 6 * 32 * 5 * 5 * 11);
}

} // namespace
