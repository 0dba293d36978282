// tests/windows/library_platform.h: what the dynamic-library tests ask of the system directly.
// Licensed under the Apache License, Version 2.0.
#ifndef TAVUTIL_TESTS_LIBRARY_PLATFORM_H
#define TAVUTIL_TESTS_LIBRARY_PLATFORM_H

#include <string>
#include <windows.h>

/// A loaded module that holds no string table (the test program itself).
inline void* LoadLibraryWithoutStrings() {
  return reinterpret_cast<void*>(::GetModuleHandleA(nullptr));
}

/// The system's codes for a string the library lacks, and for a library without strings.
constexpr int kNoSuchStringError = ERROR_RESOURCE_NAME_NOT_FOUND;
constexpr int kNoStringTableError = ERROR_RESOURCE_TYPE_NOT_FOUND;

/// The system's text for `code`, without its closing full stop and blanks.
inline std::string SystemText(DWORD code) {
  char text[512];
  DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                                      FORMAT_MESSAGE_MAX_WIDTH_MASK,
                                  nullptr, code, 0, text, sizeof text, nullptr);
  while (length > 0 && (text[length - 1] == ' ' || text[length - 1] == '.' ||
                        text[length - 1] == '\r' || text[length - 1] == '\n')) {
    --length;
  }
  return std::string(text, length);
}

/// What the failure text holds for a library file that is not there (the code of
/// ERROR_MOD_NOT_FOUND), and for a symbol the library lacks (the system's text for
/// ERROR_PROC_NOT_FOUND; GetProcAddress's failure has no code of the loader's own).
inline std::string MissingLibraryFragment(const std::string&) {
  return "rc=x0000007E";
}
inline std::string MissingSymbolFragment(const char*) {
  return SystemText(ERROR_PROC_NOT_FOUND);
}
/// A DLL is linked with every import resolved: one with an unresolved symbol cannot be built.
constexpr bool kHasUnresolvedLibrary = false;

#endif // TAVUTIL_TESTS_LIBRARY_PLATFORM_H
