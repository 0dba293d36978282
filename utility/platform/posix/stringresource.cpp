// utility/platform/posix/stringresource.cpp: string resources of language resource libraries.
// Licensed under the Apache License, Version 2.0.
//
// A resource library here is a shared object built by tavrc; it exports one string table
// (platform/stringtable.h) that is searched by id.
#include "platform/platform.h"
#include "platform/stringtable.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <dlfcn.h>

namespace tavutil::platform {

std::size_t LoadStringResource(void* library, unsigned long id, char16_t* buffer,
                               std::size_t capacity, int& error) noexcept {
  if (library == nullptr || buffer == nullptr || capacity == 0) {
    error = library == nullptr || buffer == nullptr ? EINVAL : ERANGE;
    return 0;
  }
  buffer[0] = u'\0';
  const auto* table = static_cast<const StringTable*>(::dlsym(library, kStringTableSymbol));
  if (table == nullptr || table->magic != kStringTableMagic ||
      table->version != kStringTableVersion || table->ids == nullptr || table->offsets == nullptr ||
      table->units == nullptr) {
    error = ENOEXEC;
    return 0;
  }
  const std::uint32_t* end = table->ids + table->count;
  const std::uint32_t* found = std::lower_bound(table->ids, end, id);
  if (found == end || *found != id) {
    error = ENOENT;
    return 0;
  }
  const auto index = static_cast<std::size_t>(found - table->ids);
  const std::uint32_t first = table->offsets[index];
  const std::uint32_t last = table->offsets[index + 1];
  if (last <= first) {
    error = last == first ? ENOENT : ENOEXEC; // an empty text reads as none, as elsewhere
    return 0;
  }
  std::size_t units = std::min<std::size_t>(last - first, capacity - 1);
  const char16_t* text = table->units + first;
  // A cut text keeps whole characters: half a surrogate pair would be no character at all.
  if (units < last - first && units > 0 && text[units - 1] >= 0xD800 && text[units - 1] <= 0xDBFF) {
    --units;
  }
  if (units == 0) {
    error = ERANGE;
    return 0;
  }
  std::copy(text, text + units, buffer);
  buffer[units] = u'\0';
  return units;
}

} // namespace tavutil::platform
