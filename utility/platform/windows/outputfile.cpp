// utility/platform/windows/outputfile.cpp: files written from their start (trace files), for
// Windows.
// Licensed under the Apache License, Version 2.0.
//
// The file is a file given by name (namedfile.h): a symbolic link (a reparse point) at its last
// component is not followed, and only a disk file is taken. Other processes may read it, and
// write or delete it, while it is open, as on POSIX systems.
#include "platform/platform.h"
#include "platform/windows/namedfile.h"
#include "platform/windows/win32.h"

#include <memory>
#include <new>

namespace tavutil::platform {

struct OutputFile {
  HANDLE handle;
};

namespace {

/// The longest file name in one component (NTFS, FAT32 long names).
constexpr std::size_t kLongestName = 255;

/// Whether `ch` separates directories.
bool IsSeparator(char ch) noexcept {
  return ch == '/' || ch == '\\';
}

} // namespace

bool PathFits(const char* path) noexcept {
  std::size_t length = 0;
  std::size_t component = 0;
  for (const char* c = path; *c != '\0'; ++c) {
    ++length;
    component = IsSeparator(*c) ? 0 : component + 1;
    if (component > kLongestName || length >= MAX_PATH) {
      return false; // MAX_PATH counts the terminating NUL
    }
  }
  return true;
}

NamedFileResult OpenOutputFile(const char* path, OutputFile*& file, int& error) noexcept {
  file = nullptr;
  std::unique_ptr<OutputFile> opened(new (std::nothrow) OutputFile{INVALID_HANDLE_VALUE});
  if (opened == nullptr) {
    error = ERROR_NOT_ENOUGH_MEMORY;
    return NamedFileResult::failed;
  }
  const NamedFileResult result =
      windows::OpenNamedFile(path, windows::FileAccess::truncate, opened->handle, error);
  if (result == NamedFileResult::opened) {
    file = opened.release();
  }
  return result;
}

int WriteOutputFile(OutputFile& file, const char* data, std::size_t size) noexcept {
  while (size != 0) {
    const DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!::WriteFile(file.handle, data, chunk, &written, nullptr)) {
      return static_cast<int>(::GetLastError());
    }
    if (written == 0) {
      return ERROR_WRITE_FAULT;
    }
    data += written;
    size -= written;
  }
  return 0;
}

int CloseOutputFile(OutputFile* file) noexcept {
  if (file == nullptr) {
    return 0;
  }
  const std::unique_ptr<OutputFile> closing(file);
  return ::CloseHandle(closing->handle) ? 0 : static_cast<int>(::GetLastError());
}

} // namespace tavutil::platform
