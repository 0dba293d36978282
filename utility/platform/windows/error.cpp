// utility/platform/windows/error.cpp: the error codes of the Windows backend (Win32 error
// codes) and their texts.
// Licensed under the Apache License, Version 2.0.
#include "platform/platform.h"
#include "platform/windows/win32.h"

#include <cstdio>

namespace tavutil::platform {

const int kErrorNoMemory = ERROR_NOT_ENOUGH_MEMORY;
const int kErrorBadHandle = ERROR_INVALID_HANDLE;
const int kErrorNotFound = ERROR_RESOURCE_NAME_NOT_FOUND;
const int kErrorNoStringTable = ERROR_RESOURCE_TYPE_NOT_FOUND;
const int kErrorBufferTooSmall = ERROR_INSUFFICIENT_BUFFER;
const int kErrorInvalidArgument = ERROR_INVALID_PARAMETER;
const int kErrorFileTooLarge = ERROR_FILE_TOO_LARGE;

const char* ErrorText(int error, char* buffer, std::size_t size) noexcept {
  if (size == 0) {
    return buffer;
  }
  const DWORD room = size > 0xFFFF ? 0xFFFF : static_cast<DWORD>(size);
  DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                                      FORMAT_MESSAGE_MAX_WIDTH_MASK,
                                  nullptr, static_cast<DWORD>(error), 0, buffer, room, nullptr);
  if (length == 0) {
    std::snprintf(buffer, size, "Unknown error %d", error);
    return buffer;
  }
  // The system's texts end with a full stop and blanks; one line without them reads better.
  while (length > 0 && (buffer[length - 1] == ' ' || buffer[length - 1] == '\r' ||
                        buffer[length - 1] == '\n' || buffer[length - 1] == '.')) {
    --length;
  }
  buffer[length] = '\0';
  return buffer;
}

} // namespace tavutil::platform
