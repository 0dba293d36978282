// utility/platform/windows/outputfile.cpp: files written from their start (trace files), for
// Windows.
// Licensed under the Apache License, Version 2.0.
//
// The file is opened without following a symbolic link (a reparse point) at its last
// component: a link planted in a shared directory must not turn the output onto its target.
// Other processes may read it, and write or delete it, while it is open, as on POSIX systems.
#include "platform/platform.h"
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

bool IsSeparator(char c) noexcept {
  return c == '/' || c == '\\';
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

OpenOutputResult OpenOutputFile(const char* path, OutputFile*& file, int& error) noexcept {
  file = nullptr;
  error = 0;
  std::unique_ptr<OutputFile> opened(new (std::nothrow) OutputFile{INVALID_HANDLE_VALUE});
  if (opened == nullptr) {
    error = ERROR_NOT_ENOUGH_MEMORY;
    return OpenOutputResult::failed;
  }
  // Opened (or made) as it is, a link included; emptied only once it is known to be a file.
  opened->handle = ::CreateFileA(
      path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (opened->handle == INVALID_HANDLE_VALUE) {
    error = static_cast<int>(::GetLastError());
    return OpenOutputResult::failed;
  }
  BY_HANDLE_FILE_INFORMATION information{};
  if (!::GetFileInformationByHandle(opened->handle, &information)) {
    error = static_cast<int>(::GetLastError());
    ::CloseHandle(opened->handle);
    return OpenOutputResult::failed;
  }
  if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    ::CloseHandle(opened->handle);
    return OpenOutputResult::isLink;
  }
  if (!::SetEndOfFile(opened->handle)) {
    error = static_cast<int>(::GetLastError());
    ::CloseHandle(opened->handle);
    return OpenOutputResult::failed;
  }
  file = opened.release();
  return OpenOutputResult::opened;
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
