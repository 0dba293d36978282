// utility/platform/posix/outputfile.cpp: files written from their start, for POSIX systems.
// Licensed under the Apache License, Version 2.0.
//
// A trace file may be named in a directory other users can write to, and the process may run
// under a file-size limit: the file is opened without following a link at its last component,
// and a write past the limit fails with EFBIG instead of raising SIGXFSZ, whose default
// action ends the process. The signal is blocked around each write only when a limit was in
// force at the open: a process that sets its first limit after opening a trace file is not
// covered (two system calls per line are the price of covering it).
#include "platform/platform.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <new>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tavutil::platform {

struct OutputFile {
  int fd;
  bool sizeLimited; ///< a file-size limit was in force when the file was opened
};

namespace {

/// Writes all of `data` at the file's offset, resumed after signals; 0 or the error code.
int WriteAll(int fd, const char* data, std::size_t size) noexcept {
  while (size != 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      return errno;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return 0;
}

} // namespace

bool PathFits(const char* path) noexcept {
  std::size_t length = 0;
  std::size_t component = 0;
  for (const char* c = path; *c != '\0'; ++c) {
    ++length;
    component = *c == '/' ? 0 : component + 1;
    if (component > NAME_MAX || length >= PATH_MAX) {
      return false; // PATH_MAX counts the terminating NUL
    }
  }
  return true;
}

OpenOutputResult OpenOutputFile(const char* path, OutputFile*& file, int& error) noexcept {
  file = nullptr;
  error = 0;
  std::unique_ptr<OutputFile> opened(new (std::nothrow) OutputFile{-1, false});
  if (opened == nullptr) {
    error = ENOMEM;
    return OpenOutputResult::failed;
  }
  do {
    opened->fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
  } while (opened->fd < 0 && errno == EINTR);
  if (opened->fd < 0) {
    error = errno;
    // ELOOP also stands for a loop among the directories; only a link at the end is refused.
    struct stat status {};
    if (error == ELOOP && ::lstat(path, &status) == 0 && S_ISLNK(status.st_mode)) {
      return OpenOutputResult::isLink;
    }
    return OpenOutputResult::failed;
  }
  // Without a limit no write can raise SIGXFSZ, and the writes need not block it.
  rlimit limit{};
  opened->sizeLimited = ::getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur != RLIM_INFINITY;
  file = opened.release();
  return OpenOutputResult::opened;
}

int WriteOutputFile(OutputFile& file, const char* data, std::size_t size) noexcept {
  if (!file.sizeLimited) {
    return WriteAll(file.fd, data, size);
  }
  // The kernel raises SIGXFSZ at the thread that writes past its limit. Blocked, the signal
  // stays pending and the write gives EFBIG; it is then taken off before the mask is
  // restored. A caller that blocks SIGXFSZ itself keeps its mask and its pending signal.
  sigset_t fileSize;
  sigemptyset(&fileSize);
  sigaddset(&fileSize, SIGXFSZ);
  sigset_t previous;
  const bool blocked = ::pthread_sigmask(SIG_BLOCK, &fileSize, &previous) == 0 &&
                       sigismember(&previous, SIGXFSZ) == 0;
  const int error = WriteAll(file.fd, data, size);
  if (blocked) {
    if (error == EFBIG) {
      const timespec now{0, 0};
      while (::sigtimedwait(&fileSize, nullptr, &now) == SIGXFSZ) {
      }
    }
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  }
  return error;
}

int CloseOutputFile(OutputFile* file) noexcept {
  if (file == nullptr) {
    return 0;
  }
  const std::unique_ptr<OutputFile> closing(file);
  // Linux closes the descriptor even when close reports EINTR: never retried.
  return ::close(closing->fd) == 0 ? 0 : errno;
}

} // namespace tavutil::platform
