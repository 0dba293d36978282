// utility/platform/windows/tempfile.cpp: temporary files for Windows.
// Licensed under the Apache License, Version 2.0.
//
// The file is made under a fresh name in the temporary directory with no sharing (no other
// handle can open it) and FILE_FLAG_DELETE_ON_CLOSE: the system deletes it when its one handle
// closes, and the system closes every handle of a process that ends, however it ends.
#include "platform/platform.h"
#include "platform/windows/win32.h"

#include <atomic>
#include <cstdio>
#include <new>
#include <string>

namespace tavutil::platform {

struct TempFileHandle {
  HANDLE handle;
};

namespace {

/// Names made by this process so far; with the process id and the tick count, a fresh name.
std::atomic<unsigned> gNamesMade{0};

/// Tries `attempts` fresh names in `directory`; the handle or INVALID_HANDLE_VALUE, `error`
/// set.
HANDLE CreateUnique(const std::string& directory, int& error) noexcept {
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[64];
    std::snprintf(name, sizeof name, "tavutil-%lx-%x-%lx.tmp",
                  static_cast<unsigned long>(::GetCurrentProcessId()),
                  gNamesMade.fetch_add(1, std::memory_order_relaxed),
                  static_cast<unsigned long>(::GetTickCount()));
    std::string path;
    try {
      path = directory + name;
    } catch (...) {
      error = ERROR_NOT_ENOUGH_MEMORY;
      return INVALID_HANDLE_VALUE;
    }
    HANDLE handle = ::CreateFileA(
        path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
        FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_FLAG_DELETE_ON_CLOSE,
        nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      return handle;
    }
    error = static_cast<int>(::GetLastError());
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
      break;
    }
  }
  return INVALID_HANDLE_VALUE;
}

} // namespace

TempFileHandle* OpenTempFile(int& error) noexcept {
  error = 0;
  char directory[MAX_PATH + 2];
  const DWORD length = ::GetTempPathA(static_cast<DWORD>(sizeof directory), directory);
  if (length == 0 || length >= sizeof directory) {
    error = length == 0 ? static_cast<int>(::GetLastError()) : ERROR_BUFFER_OVERFLOW;
    return nullptr;
  }
  HANDLE handle = CreateUnique(std::string(directory, length), error);
  if (handle == INVALID_HANDLE_VALUE) {
    return nullptr;
  }
  auto* file = new (std::nothrow) TempFileHandle{handle};
  if (file == nullptr) {
    ::CloseHandle(handle);
    error = ERROR_NOT_ENOUGH_MEMORY;
  }
  return file;
}

std::size_t WriteTempFile(TempFileHandle& file, const void* data, std::size_t size,
                          int& error) noexcept {
  error = 0;
  const auto* bytes = static_cast<const char*>(data);
  std::size_t done = 0;
  while (done < size) {
    const std::size_t left = size - done;
    const DWORD chunk = left > 0x40000000 ? 0x40000000 : static_cast<DWORD>(left);
    DWORD written = 0;
    if (!::WriteFile(file.handle, bytes + done, chunk, &written, nullptr)) {
      error = static_cast<int>(::GetLastError());
      break;
    }
    if (written == 0) {
      error = ERROR_DISK_FULL;
      break;
    }
    done += written;
  }
  return done;
}

std::size_t ReadTempFile(TempFileHandle& file, void* data, std::size_t size, int& error) noexcept {
  error = 0;
  auto* bytes = static_cast<char*>(data);
  std::size_t done = 0;
  while (done < size) {
    const std::size_t left = size - done;
    const DWORD chunk = left > 0x40000000 ? 0x40000000 : static_cast<DWORD>(left);
    DWORD got = 0;
    if (!::ReadFile(file.handle, bytes + done, chunk, &got, nullptr)) {
      error = static_cast<int>(::GetLastError());
      break;
    }
    if (got == 0) {
      break;
    }
    done += got;
  }
  return done;
}

namespace {

/// Moves the position by `distance` from `method`; the position reached, or -1.
std::int64_t Move(TempFileHandle& file, std::int64_t distance, DWORD method) noexcept {
  LARGE_INTEGER move{};
  move.QuadPart = distance;
  LARGE_INTEGER reached{};
  return ::SetFilePointerEx(file.handle, move, &reached, method) ? reached.QuadPart : -1;
}

} // namespace

std::int64_t SeekTempFile(TempFileHandle& file, std::uint64_t offset) noexcept {
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.handle, &size)) {
    return -1;
  }
  if (offset >= static_cast<std::uint64_t>(size.QuadPart)) {
    return Move(file, 0, FILE_END);
  }
  return Move(file, static_cast<std::int64_t>(offset), FILE_BEGIN);
}

std::int64_t TellTempFile(TempFileHandle& file) noexcept {
  return Move(file, 0, FILE_CURRENT);
}

void CloseTempFile(TempFileHandle* file) noexcept {
  if (file != nullptr) {
    ::CloseHandle(file->handle);
    delete file;
  }
}

} // namespace tavutil::platform
