// utility/platform/posix/error.cpp: the error codes of the POSIX backend (errno values) and
// their texts.
// Licensed under the Apache License, Version 2.0.
#include "platform/platform.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace tavutil::platform {

const int kErrorNoMemory = ENOMEM;
const int kErrorBadHandle = EBADF;
const int kErrorNotFound = ENOENT;
const int kErrorNoStringTable = ENOEXEC;
const int kErrorBufferTooSmall = ERANGE;
const int kErrorInvalidArgument = EINVAL;
const int kErrorFileTooLarge = EFBIG;

namespace {

// strerror_r comes in two forms: the XSI one fills the buffer and gives 0, the GNU one gives
// the text (in the buffer or a constant one).
[[maybe_unused]] const char* StrerrorResult(int result, const char* buffer) noexcept {
  return result == 0 ? buffer : "Unknown error";
}
[[maybe_unused]] const char* StrerrorResult(const char* result, const char* /*buffer*/) noexcept {
  return result;
}

} // namespace

const char* ErrorText(int error, char* buffer, std::size_t size) noexcept {
  if (size > 0) {
    char text[256] = {};
    std::snprintf(buffer, size, "%s", StrerrorResult(strerror_r(error, text, sizeof text), text));
  }
  return buffer;
}

} // namespace tavutil::platform
