// utility/platform/posix/sharedfile.cpp: a text file appended by several processes, for POSIX.
// Licensed under the Apache License, Version 2.0.
//
// Each writer keeps a shared flock on its descriptor for as long as it has the file open. An
// opener that can take the exclusive lock without waiting is the only writer, and only then
// empties the file: a file another writer still appends to is never emptied or removed from
// under it, which is what a file held open by another process gives on other systems.
#include "platform/platform.h"

#include <cerrno>
#include <fcntl.h>
#include <new>
#include <sys/file.h>
#include <unistd.h>

namespace tavutil::platform {

struct SharedFileHandle {
  int descriptor;
};

namespace {

/// flock, repeated when a signal interrupts it.
int Flock(int descriptor, int operation) noexcept {
  int result = 0;
  do {
    result = ::flock(descriptor, operation);
  } while (result != 0 && errno == EINTR);
  return result;
}

} // namespace

SharedFileHandle* OpenSharedFile(const char* path, int& error) noexcept {
  if (path == nullptr || *path == '\0') {
    error = ENOENT;
    return nullptr;
  }
  const int descriptor =
      ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0666);
  if (descriptor < 0) {
    error = errno;
    return nullptr;
  }
  // Only the sole writer starts the file afresh. Turning the exclusive lock into a shared one
  // is not atomic, but an opener that slips into that gap finds an empty file with no lines
  // of ours yet, so emptying it again loses nothing.
  if (Flock(descriptor, LOCK_EX | LOCK_NB) == 0) {
    if (::ftruncate(descriptor, 0) != 0) {
      error = errno;
      ::close(descriptor);
      return nullptr;
    }
  }
  if (Flock(descriptor, LOCK_SH) != 0) {
    error = errno;
    ::close(descriptor);
    return nullptr;
  }
  auto* file = new (std::nothrow) SharedFileHandle{descriptor};
  if (file == nullptr) {
    error = ENOMEM;
    ::close(descriptor);
  }
  return file;
}

int AppendSharedFile(SharedFileHandle& file, const char* data, std::size_t size) noexcept {
  // O_APPEND puts every write at the end of the file as it is at that moment.
  while (size > 0) {
    const ssize_t written = ::write(file.descriptor, data, size);
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      return errno;
    }
    if (written == 0) {
      return EIO;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return 0;
}

void CloseSharedFile(SharedFileHandle* file) noexcept {
  if (file == nullptr) {
    return;
  }
  ::close(file->descriptor); // also drops the shared lock
  delete file;
}

} // namespace tavutil::platform
