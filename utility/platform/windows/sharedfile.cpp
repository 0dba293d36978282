// utility/platform/windows/sharedfile.cpp: a text file appended by several processes, for
// Windows.
// Licensed under the Apache License, Version 2.0.
//
// Every writer opens the file with read and write sharing but without delete sharing. Starting
// afresh is deleting the file by name: the system refuses that while any other process has the
// file open, so a file another writer still appends to keeps its lines and the new ones go
// after them. The handle has append access only, so each write lands at the end of the file as
// it is at that moment.
#include "platform/platform.h"
#include "platform/windows/win32.h"

#include <algorithm>
#include <new>

namespace tavutil::platform {

struct SharedFileHandle {
  HANDLE handle;
};

SharedFileHandle* OpenSharedFile(const char* path, int& error) noexcept {
  error = 0;
  if (path == nullptr || *path == '\0') {
    error = ERROR_FILE_NOT_FOUND;
    return nullptr;
  }
  // Fails, and is meant to, while another process holds the file (or when there is none).
  ::DeleteFileA(path);
  // A reparse point (a symbolic link) is opened as itself, never followed, and refused below.
  const HANDLE handle =
      ::CreateFileA(path, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    error = static_cast<int>(::GetLastError());
    return nullptr;
  }
  BY_HANDLE_FILE_INFORMATION information{};
  if (::GetFileInformationByHandle(handle, &information) == FALSE) {
    error = static_cast<int>(::GetLastError());
    ::CloseHandle(handle);
    return nullptr;
  }
  if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    error = ERROR_CANT_ACCESS_FILE;
    ::CloseHandle(handle);
    return nullptr;
  }
  auto* file = new (std::nothrow) SharedFileHandle{handle};
  if (file == nullptr) {
    error = ERROR_NOT_ENOUGH_MEMORY;
    ::CloseHandle(handle);
  }
  return file;
}

int AppendSharedFile(SharedFileHandle& file, const char* data, std::size_t size) noexcept {
  while (size > 0) {
    // WriteFile takes a 32-bit count; a longer text goes in pieces.
    const auto chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1U << 30));
    DWORD written = 0;
    if (::WriteFile(file.handle, data, chunk, &written, nullptr) == FALSE) {
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

void CloseSharedFile(SharedFileHandle* file) noexcept {
  if (file == nullptr) {
    return;
  }
  ::CloseHandle(file->handle);
  delete file;
}

} // namespace tavutil::platform
