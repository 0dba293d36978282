// utility/platform/posix/sharedfile.cpp: a text file appended by several processes, for POSIX.
// Licensed under the Apache License, Version 2.0.
//
// Each writer keeps a shared flock on its descriptor for as long as it has the file open. An
// opener that can take the exclusive lock without waiting is the only writer, and only then
// empties the file: a file another writer still appends to is never emptied or removed from
// under it, which is what a file held open by another process gives on other systems.
//
// The lock only decides whether to start afresh; no write waits for it. Anyone who can read
// the file can lock it, so the open never waits for a lock without limit: after a bounded
// time it goes on without its shared lock (the file is not started afresh), and each write
// tries once more to take it. The writers of one file run as one user: a file another user
// owns is refused (its owner could empty it, or another user's writers could not write it).
#include "platform/platform.h"
#include "platform/posix/namedfile.h"

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <new>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tavutil::platform {

struct SharedFileHandle {
  int descriptor;
  bool locked;      ///< holds its shared lock (may not, after another process's long lock)
  bool sizeLimited; ///< a file-size limit was in force when the file was opened
};

namespace {

/// How long an opener waits for another process's exclusive lock on the file, in milliseconds:
/// a writer that starts the file afresh holds it for microseconds.
constexpr long kLockPatienceMs = 1000;

/// flock, repeated when a signal interrupts it; 0 or the error code.
int Flock(int descriptor, int operation) noexcept {
  int result = 0;
  do {
    result = ::flock(descriptor, operation);
  } while (result != 0 && errno == EINTR);
  return result == 0 ? 0 : errno;
}

/// Takes the shared lock, waiting at most kLockPatienceMs for a process that holds the file
/// exclusively. False when it is still held then (or the lock fails).
bool TakeSharedLock(int descriptor) noexcept {
  for (long waited = 0;; ++waited) {
    const int error = Flock(descriptor, LOCK_SH | LOCK_NB);
    if (error != EWOULDBLOCK) {
      return error == 0;
    }
    if (waited >= kLockPatienceMs) {
      return false;
    }
    const timespec pause{0, 1000000L};
    ::nanosleep(&pause, nullptr);
  }
}

/// Whether `size` more bytes would pass the process's file-size limit.
bool PassesSizeLimit(int descriptor, std::size_t size) noexcept {
  rlimit limit{};
  struct stat status {};
  return ::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
         ::fstat(descriptor, &status) == 0 &&
         (static_cast<rlim_t>(status.st_size) > limit.rlim_cur ||
          size > limit.rlim_cur - static_cast<rlim_t>(status.st_size));
}

} // namespace

NamedFileResult OpenSharedFile(const char* path, SharedFileHandle*& file, int& error) noexcept {
  file = nullptr;
  int descriptor = -1;
  const NamedFileResult result =
      posix::OpenNamedFile(path, posix::FileAccess::append, false, descriptor, error);
  if (result != NamedFileResult::opened) {
    return result;
  }
  struct stat status {};
  if (::fstat(descriptor, &status) != 0) {
    error = errno;
    ::close(descriptor);
    return NamedFileResult::failed;
  }
  if (status.st_uid != ::geteuid()) {
    error = EACCES;
    ::close(descriptor);
    return NamedFileResult::foreignOwner;
  }
  // Only the sole writer starts the file afresh. Turning the exclusive lock into a shared one
  // is not atomic, but an opener that slips into that gap finds an empty file with no lines
  // of ours yet, so emptying it again loses nothing.
  if (Flock(descriptor, LOCK_EX | LOCK_NB) == 0 && ::ftruncate(descriptor, 0) != 0) {
    error = errno;
    ::close(descriptor);
    return NamedFileResult::failed;
  }
  file = new (std::nothrow)
      SharedFileHandle{descriptor, TakeSharedLock(descriptor), posix::FileSizeLimited()};
  if (file == nullptr) {
    error = ENOMEM;
    ::close(descriptor);
    return NamedFileResult::failed;
  }
  return NamedFileResult::opened;
}

int AppendSharedFile(SharedFileHandle& file, const char* data, std::size_t size) noexcept {
  if (!file.locked) {
    file.locked = Flock(file.descriptor, LOCK_SH | LOCK_NB) == 0;
  }
  // Lines are written whole or not at all: other processes append after them. The caller
  // holds the named mutex, so no other writer moves the end meanwhile.
  if (file.sizeLimited && PassesSizeLimit(file.descriptor, size)) {
    return EFBIG;
  }
  // O_APPEND puts every write at the end of the file as it is at that moment.
  int error = 0;
  posix::WriteWithinSizeLimit(file.descriptor, data, size, file.sizeLimited, error);
  return error;
}

void CloseSharedFile(SharedFileHandle* file) noexcept {
  if (file == nullptr) {
    return;
  }
  ::close(file->descriptor); // also drops the shared lock
  delete file;
}

} // namespace tavutil::platform
