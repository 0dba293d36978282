// utility/platform/windows/sharedfile.cpp: a text file appended by several processes, for
// Windows.
// Licensed under the Apache License, Version 2.0.
//
// Every writer opens the file with read and write sharing but without delete sharing. Starting
// afresh is deleting the file by name: the system refuses that while any other process has the
// file open, so a file another writer still appends to keeps its lines and the new ones go
// after them. The handle has append access only, so each write lands at the end of the file as
// it is at that moment. The name is a file given by name (namedfile.h): a link is refused, and
// only a disk file is taken. Unlike POSIX, the file's owner is not checked: an administrator's
// files belong to the Administrators group, so the process's own user would not match.
#include "platform/platform.h"
#include "platform/windows/namedfile.h"
#include "platform/windows/win32.h"

#include <algorithm>
#include <new>

namespace tavutil::platform {

struct SharedFileHandle {
  HANDLE handle;
};

NamedFileResult OpenSharedFile(const char* path, SharedFileHandle*& file, int& error) noexcept {
  file = nullptr;
  error = 0;
  if (path == nullptr || *path == '\0') {
    error = ERROR_FILE_NOT_FOUND;
    return NamedFileResult::failed;
  }
  // Fails, and is meant to, while another process holds the file (or when there is none).
  ::DeleteFileA(path);
  HANDLE handle = INVALID_HANDLE_VALUE;
  const NamedFileResult result =
      windows::OpenNamedFile(path, windows::FileAccess::append, handle, error);
  if (result != NamedFileResult::opened) {
    return result;
  }
  file = new (std::nothrow) SharedFileHandle{handle};
  if (file == nullptr) {
    error = ERROR_NOT_ENOUGH_MEMORY;
    ::CloseHandle(handle);
    return NamedFileResult::failed;
  }
  return NamedFileResult::opened;
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
