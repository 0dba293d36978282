// utility/platform/windows/sharedmemory.cpp: named shared-memory sections for Windows.
// Licensed under the Apache License, Version 2.0.
//
// A section is a file mapping backed by the paging file, mapped whole for reading and writing.
// The system keeps it while any handle or view of it is open, so it goes with its last user.
// Mappings and mutexes share one namespace of kernel objects: a name in use by a mutex cannot
// name a section.
#include "platform/platform.h"
#include "platform/windows/win32.h"

#include <cstdint>
#include <new>

namespace tavutil::platform {

/// A section as the library holds it: the mapping's handle and the view of it.
struct SectionHandle {
  HANDLE mapping;
  void* address;
};

namespace {

/// Maps all of `mapping` and wraps it; null with `error` set (the handle closed) on failure.
SectionHandle* MapWhole(HANDLE mapping, int& error) noexcept {
  void* address = ::MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0);
  if (address == nullptr) {
    error = static_cast<int>(::GetLastError());
    ::CloseHandle(mapping);
    return nullptr;
  }
  auto* section = new (std::nothrow) SectionHandle{mapping, address};
  if (section == nullptr) {
    error = ERROR_NOT_ENOUGH_MEMORY;
    ::UnmapViewOfFile(address);
    ::CloseHandle(mapping);
  }
  return section;
}

} // namespace

SectionResult CreateSection(const char* name, std::size_t size, SectionHandle*& section,
                            int& error) noexcept {
  section = nullptr;
  error = 0;
  if (name == nullptr || *name == '\0' || size == 0) {
    error = ERROR_INVALID_PARAMETER;
    return SectionResult::failed;
  }
  const auto wide = static_cast<std::uint64_t>(size);
  const HANDLE mapping =
      ::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE,
                           static_cast<DWORD>(wide >> 32), static_cast<DWORD>(wide), name);
  if (mapping == nullptr) {
    error = static_cast<int>(::GetLastError());
    return SectionResult::failed;
  }
  if (::GetLastError() == ERROR_ALREADY_EXISTS) {
    // The call opened the existing section; this one never joins it.
    ::CloseHandle(mapping);
    error = ERROR_ALREADY_EXISTS;
    return SectionResult::exists;
  }
  section = MapWhole(mapping, error);
  return section != nullptr ? SectionResult::ok : SectionResult::failed;
}

SectionResult OpenSection(const char* name, SectionHandle*& section, int& error) noexcept {
  section = nullptr;
  error = 0;
  if (name == nullptr || *name == '\0') {
    error = ERROR_INVALID_PARAMETER;
    return SectionResult::failed;
  }
  const HANDLE mapping = ::OpenFileMappingA(FILE_MAP_WRITE, FALSE, name);
  if (mapping == nullptr) {
    error = static_cast<int>(::GetLastError());
    return error == ERROR_FILE_NOT_FOUND ? SectionResult::notFound : SectionResult::failed;
  }
  section = MapWhole(mapping, error);
  return section != nullptr ? SectionResult::ok : SectionResult::failed;
}

void* SectionAddress(const SectionHandle& section) noexcept {
  return section.address;
}

int CloseSection(SectionHandle* section) noexcept {
  if (section == nullptr) {
    return 0;
  }
  int error = 0;
  if (::UnmapViewOfFile(section->address) == FALSE) {
    error = static_cast<int>(::GetLastError());
  }
  if (::CloseHandle(section->mapping) == FALSE && error == 0) {
    error = static_cast<int>(::GetLastError());
  }
  delete section;
  return error;
}

} // namespace tavutil::platform
