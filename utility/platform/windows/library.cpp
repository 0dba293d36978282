// utility/platform/windows/library.cpp: dynamic libraries (LoadLibraryA, GetProcAddress,
// GetModuleFileNameA) for Windows.
// Licensed under the Apache License, Version 2.0.
#include "platform/platform.h"
#include "platform/windows/namedfile.h"
#include "platform/windows/win32.h"

#include <cstring>

namespace tavutil::platform {

namespace {

/// The system's text for `error`, for a loader failure.
std::string LoaderReason(DWORD error) {
  char text[512];
  return ErrorText(static_cast<int>(error), text, sizeof text);
}

} // namespace

const char* LibrarySuffix() noexcept {
  return ".dll";
}

void* OpenLibrary(const char* file, std::string& reason, int& error) {
  if (file == nullptr || *file == '\0') {
    reason = "no library name given";
    error = ERROR_INVALID_PARAMETER;
    return nullptr;
  }
  // A path is a file given by name: only a disk file is handed to the loader. What cannot be
  // opened at all is left to the loader, whose reason says why.
  if (std::strpbrk(file, "/\\") != nullptr) {
    HANDLE handle = INVALID_HANDLE_VALUE;
    const NamedFileResult result =
        windows::OpenNamedFile(file, windows::FileAccess::read, handle, error);
    if (result == NamedFileResult::opened) {
      ::CloseHandle(handle);
    } else if (result == NamedFileResult::notRegular || result == NamedFileResult::isLink) {
      reason = std::string(file) + (result == NamedFileResult::isLink
                                        ? ": a symbolic link that is not followed"
                                        : ": not a regular file");
      return nullptr;
    }
  }
  // A missing or broken library is reported to the caller, never in a message box.
  DWORD previousMode = 0;
  const bool modeSet =
      ::SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previousMode) != 0;
  // The loader resolves every import at load time: a missing dependency fails here.
  HMODULE module = ::LoadLibraryA(windows::NativeSeparators(file).c_str());
  const DWORD failure = module == nullptr ? ::GetLastError() : 0;
  if (modeSet) {
    ::SetThreadErrorMode(previousMode, nullptr);
  }
  if (module == nullptr) {
    error = static_cast<int>(failure);
    reason = LoaderReason(failure);
  }
  return reinterpret_cast<void*>(module);
}

void* FindSymbol(void* library, const char* name, std::string& reason) {
  if (library == nullptr || name == nullptr) {
    reason = "no library or symbol name given";
    return nullptr;
  }
  FARPROC symbol = ::GetProcAddress(static_cast<HMODULE>(library), name);
  if (symbol == nullptr) {
    reason = LoaderReason(::GetLastError());
    return nullptr;
  }
  // The address of a function, kept as a data pointer: both are 64 or 32 bits here.
  return reinterpret_cast<void*>(symbol);
}

bool LibraryPath(void* library, std::string& path) {
  return library != nullptr && windows::ModulePath(static_cast<HMODULE>(library), path);
}

} // namespace tavutil::platform
