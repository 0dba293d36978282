// utility/platform/stringtable.h: the string table that a language resource library exports.
// Licensed under the Apache License, Version 2.0.
//
// Where the system has no string resources of its own, a resource library is a shared object
// built from a catalogue by tavrc: it exports one table under kStringTableSymbol, and the
// library's string-resource loader reads it. This header is that table's layout, shared by
// the loader and the compiler; it holds no operating-system code. Never installed.
#ifndef TAVUTIL_PLATFORM_STRINGTABLE_H
#define TAVUTIL_PLATFORM_STRINGTABLE_H

#include <cstdint>

namespace tavutil::platform {

/// The exported name of the table (a C symbol).
inline constexpr char kStringTableSymbol[] = "tavutil_string_table";
/// The first word of every table: "TAVR" read as a little-endian number.
inline constexpr std::uint32_t kStringTableMagic = 0x52564154;
/// The layout version this header describes.
inline constexpr std::uint32_t kStringTableVersion = 1;

/// The exported table. String i (0 <= i < count) has the id ids[i] and the UTF-16 units
/// units[offsets[i]] up to units[offsets[i + 1]] (not NUL-terminated). Ids ascend strictly,
/// offsets ascend, and offsets[count] is the number of units.
struct StringTable {
  std::uint32_t magic;
  std::uint32_t version;
  std::uint32_t count;
  const std::uint32_t* ids;     ///< count ids
  const std::uint32_t* offsets; ///< count + 1 offsets into units
  const char16_t* units;
};

} // namespace tavutil::platform

#endif // TAVUTIL_PLATFORM_STRINGTABLE_H
