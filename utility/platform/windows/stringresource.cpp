// utility/platform/windows/stringresource.cpp: string resources (LoadStringW) for Windows.
// Licensed under the Apache License, Version 2.0.
//
// A language resource library is a resource-only DLL made by windres from a catalogue; its
// STRINGTABLE resources are read in place, so that the cut at the buffer's end can keep whole
// characters.
#include "platform/platform.h"
#include "platform/windows/win32.h"

namespace tavutil::platform {

namespace {

/// Notes the first string block in the flag that `found` points to, and stops there.
BOOL CALLBACK StopAtFirst(HMODULE, LPCSTR, LPSTR, LONG_PTR found) {
  *reinterpret_cast<bool*>(found) = true;
  return FALSE;
}

/// Whether `module` holds any string table at all.
bool HasStringTable(HMODULE module) noexcept {
  bool found = false;
  ::EnumResourceNamesA(module, MAKEINTRESOURCEA(6) /* RT_STRING */, StopAtFirst,
                       reinterpret_cast<LONG_PTR>(&found));
  return found;
}

} // namespace

std::size_t LoadStringResource(void* library, unsigned long id, char16_t* buffer,
                               std::size_t capacity, int& error) noexcept {
  if (library == nullptr || buffer == nullptr || capacity == 0) {
    error = library == nullptr || buffer == nullptr ? ERROR_INVALID_PARAMETER
                                                    : ERROR_INSUFFICIENT_BUFFER;
    return 0;
  }
  buffer[0] = u'\0';
  const auto module = static_cast<HMODULE>(library);
  // With no room given, LoadStringW gives the text in place, not terminated, and its length.
  const wchar_t* text = nullptr;
  const int length = id <= 0xFFFF ? ::LoadStringW(module, static_cast<UINT>(id),
                                                  reinterpret_cast<LPWSTR>(&text), 0)
                                  : 0;
  if (length <= 0 || text == nullptr) {
    error = HasStringTable(module) ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND;
    return 0;
  }
  const auto whole = static_cast<std::size_t>(length);
  std::size_t units = whole < capacity - 1 ? whole : capacity - 1;
  // A cut text keeps whole characters: half a surrogate pair would be no character at all.
  if (units < whole && units > 0 && text[units - 1] >= 0xD800 && text[units - 1] <= 0xDBFF) {
    --units;
  }
  if (units == 0) {
    error = ERROR_INSUFFICIENT_BUFFER;
    return 0;
  }
  for (std::size_t i = 0; i < units; ++i) {
    buffer[i] = static_cast<char16_t>(text[i]);
  }
  buffer[units] = u'\0';
  return units;
}

} // namespace tavutil::platform
