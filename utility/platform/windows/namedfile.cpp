// utility/platform/windows/namedfile.cpp: files given by name, opened by one set of rules, for
// Windows.
// Licensed under the Apache License, Version 2.0.
//
// A name may lead to a named pipe, a device (NUL, CON, COM1: in any directory) or a directory,
// or be a symbolic link. Every open takes the name as it is (FILE_FLAG_OPEN_REPARSE_POINT) and
// then looks at what it got through the handle. Windows has no file-size limit that ends a
// process, so writes need nothing more than WriteFile.
//
// This file depends on no other file of the backend: tavrc compiles it as well.
#include "platform/windows/namedfile.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>

namespace tavutil::platform {

namespace windows {
namespace {

/// Closes a handle at the end of its scope unless released.
class Handle {
public:
  explicit Handle(HANDLE handle = INVALID_HANDLE_VALUE) noexcept : fHandle(handle) {}
  ~Handle() {
    if (fHandle != INVALID_HANDLE_VALUE) {
      ::CloseHandle(fHandle);
    }
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const noexcept { return fHandle; }
  void reset(HANDLE handle) noexcept {
    if (fHandle != INVALID_HANDLE_VALUE) {
      ::CloseHandle(fHandle);
    }
    fHandle = handle;
  }
  HANDLE release() noexcept {
    const HANDLE handle = fHandle;
    fHandle = INVALID_HANDLE_VALUE;
    return handle;
  }

private:
  HANDLE fHandle;
};

/// What an open handle is: `opened` for a disk file that is no directory and no reparse point.
NamedFileResult Examine(HANDLE handle, int& error) noexcept {
  if (::GetFileType(handle) != FILE_TYPE_DISK) {
    error = ERROR_NOT_SUPPORTED;
    return NamedFileResult::notRegular;
  }
  BY_HANDLE_FILE_INFORMATION information{};
  if (::GetFileInformationByHandle(handle, &information) == FALSE) {
    error = static_cast<int>(::GetLastError());
    return NamedFileResult::failed;
  }
  if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    error = ERROR_CANT_ACCESS_FILE;
    return NamedFileResult::isLink;
  }
  if ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    error = ERROR_NOT_SUPPORTED;
    return NamedFileResult::notRegular;
  }
  return NamedFileResult::opened;
}

/// Writes all `size` bytes; 0 or the system's error code.
int WriteAll(HANDLE handle, const char* data, std::size_t size) noexcept {
  while (size > 0) {
    const auto chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1U << 30));
    DWORD written = 0;
    if (::WriteFile(handle, data, chunk, &written, nullptr) == FALSE) {
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

bool IsMissing(DWORD error) noexcept {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

} // namespace

NamedFileResult OpenNamedFile(const char* path, FileAccess access, HANDLE& handle,
                              int& error) noexcept {
  handle = INVALID_HANDLE_VALUE;
  error = 0;
  if (path == nullptr || *path == '\0') {
    error = ERROR_FILE_NOT_FOUND;
    return NamedFileResult::failed;
  }
  DWORD desired = GENERIC_READ;
  DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  DWORD disposition = OPEN_EXISTING;
  if (access == FileAccess::truncate) {
    desired = GENERIC_WRITE;
    disposition = OPEN_ALWAYS;
  } else if (access == FileAccess::append) {
    // Append access only: each write lands at the end of the file as it then is. No delete
    // sharing: the shared trace file is started afresh by deleting it, refused while it is open.
    desired = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
    share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    disposition = OPEN_ALWAYS;
  }
  // Opened (or made) as it is, a link included; emptied only once it is known to be a file.
  Handle opened(::CreateFileA(path, desired, share, nullptr, disposition,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (opened.get() == INVALID_HANDLE_VALUE) {
    error = static_cast<int>(::GetLastError());
    // A directory cannot be opened as a file at all.
    const DWORD attributes = ::GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      error = ERROR_NOT_SUPPORTED;
      return NamedFileResult::notRegular;
    }
    return IsMissing(static_cast<DWORD>(error)) ? NamedFileResult::missing
                                                : NamedFileResult::failed;
  }
  const NamedFileResult result = Examine(opened.get(), error);
  if (result != NamedFileResult::opened) {
    return result;
  }
  if (access == FileAccess::truncate && ::SetEndOfFile(opened.get()) == FALSE) {
    error = static_cast<int>(::GetLastError());
    return NamedFileResult::failed;
  }
  handle = opened.release();
  return NamedFileResult::opened;
}

} // namespace windows

NamedFileResult ReadNamedFile(const char* path, std::size_t limit, std::string& contents,
                              int& error) {
  HANDLE handle = INVALID_HANDLE_VALUE;
  const NamedFileResult result =
      windows::OpenNamedFile(path, windows::FileAccess::read, handle, error);
  if (result != NamedFileResult::opened) {
    return result;
  }
  const windows::Handle file(handle);
  LARGE_INTEGER size{};
  if (::GetFileSizeEx(handle, &size) != FALSE && static_cast<ULONGLONG>(size.QuadPart) > limit) {
    return NamedFileResult::tooLarge;
  }
  contents.clear();
  char buffer[65536];
  for (;;) {
    DWORD got = 0;
    if (::ReadFile(handle, buffer, sizeof buffer, &got, nullptr) == FALSE) {
      error = static_cast<int>(::GetLastError());
      return NamedFileResult::failed;
    }
    if (got == 0) {
      return NamedFileResult::opened;
    }
    if (got > limit - contents.size()) {
      return NamedFileResult::tooLarge; // it grew meanwhile
    }
    contents.append(buffer, got);
  }
}

namespace {

/// Whether `path` may be replaced, looked at without reading it: `opened` when nothing is
/// there or a file is; Examine's refusal, or `failed` with the error, otherwise.
NamedFileResult CheckReplaceable(const char* path, int& error) noexcept {
  const windows::Handle existing(::CreateFileA(
      path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
      FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (existing.get() != INVALID_HANDLE_VALUE) {
    return windows::Examine(existing.get(), error);
  }
  if (!windows::IsMissing(::GetLastError())) {
    error = static_cast<int>(::GetLastError());
    return NamedFileResult::failed;
  }
  return NamedFileResult::opened;
}

/// Makes the new file for `path` beside it, under a name nobody else uses: it is made
/// exclusively, and only it is ever removed. Its name goes to `temporary`. False, with the
/// error, when no such file could be made.
bool MakeReplacement(const char* path, char (&temporary)[MAX_PATH], windows::Handle& file,
                     int& error) noexcept {
  const char* separator = nullptr;
  for (const char* at = path; *at != '\0'; ++at) {
    if (*at == '/' || *at == '\\') {
      separator = at;
    }
  }
  const int directoryLength = separator != nullptr ? static_cast<int>(separator - path) + 1 : 0;
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100 && file.get() == INVALID_HANDLE_VALUE; ++attempt) {
    const int length = std::snprintf(
        temporary, sizeof temporary, "%.*s.replacing-%lu-%u.tmp", directoryLength, path,
        static_cast<unsigned long>(::GetCurrentProcessId()), counter.fetch_add(1));
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof temporary) {
      error = ERROR_FILENAME_EXCED_RANGE;
      return false;
    }
    file.reset(::CreateFileA(temporary, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    const DWORD failure = file.get() == INVALID_HANDLE_VALUE ? ::GetLastError() : 0;
    if (failure != 0 && failure != ERROR_FILE_EXISTS && failure != ERROR_ALREADY_EXISTS) {
      error = static_cast<int>(failure);
      return false;
    }
  }
  if (file.get() == INVALID_HANDLE_VALUE) {
    error = ERROR_FILE_EXISTS;
    return false;
  }
  return true;
}

} // namespace

NamedFileResult ReplaceWholeFile(const char* path, const char* data, std::size_t size,
                                 int& error) noexcept {
  error = 0;
  if (path == nullptr || *path == '\0') {
    error = ERROR_FILE_NOT_FOUND;
    return NamedFileResult::failed;
  }
  const NamedFileResult replaceable = CheckReplaceable(path, error);
  if (replaceable != NamedFileResult::opened) {
    return replaceable;
  }
  char temporary[MAX_PATH];
  windows::Handle file;
  if (!MakeReplacement(path, temporary, file, error)) {
    return NamedFileResult::failed;
  }
  error = windows::WriteAll(file.get(), data, size);
  const bool closed = ::CloseHandle(file.release()) != FALSE;
  if (error == 0 && !closed) {
    error = static_cast<int>(::GetLastError());
  }
  if (error == 0 && ::MoveFileExA(temporary, path, MOVEFILE_REPLACE_EXISTING) == FALSE) {
    error = static_cast<int>(::GetLastError());
  }
  if (error != 0) {
    ::DeleteFileA(temporary);
    return NamedFileResult::failed;
  }
  return NamedFileResult::opened;
}

} // namespace tavutil::platform
