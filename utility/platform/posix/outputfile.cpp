// utility/platform/posix/outputfile.cpp: files written from their start, for POSIX systems.
// Licensed under the Apache License, Version 2.0.
//
// A trace file is a file given by name (namedfile.h): it may be planted by another user, and
// the process may run under a file-size limit. A write past the limit fails with EFBIG instead
// of raising SIGXFSZ, whose default action ends the process. The signal is blocked around each
// write only when a limit was in force at the open: a process that sets its first limit after
// opening a trace file is not covered (two system calls per line are the price of covering it).
#include "platform/platform.h"
#include "platform/posix/namedfile.h"

#include <cerrno>
#include <climits>
#include <memory>
#include <new>
#include <unistd.h>

namespace tavutil::platform {

struct OutputFile {
  int fd;
  bool sizeLimited; ///< a file-size limit was in force when the file was opened
};

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

NamedFileResult OpenOutputFile(const char* path, OutputFile*& file, int& error) noexcept {
  file = nullptr;
  std::unique_ptr<OutputFile> opened(new (std::nothrow) OutputFile{-1, false});
  if (opened == nullptr) {
    error = ENOMEM;
    return NamedFileResult::failed;
  }
  // The process's own standard error, named "/dev/stderr", is a stream it may write.
  const NamedFileResult result =
      posix::OpenNamedFile(path, posix::FileAccess::truncate, true, opened->fd, error);
  if (result == NamedFileResult::opened) {
    opened->sizeLimited = posix::FileSizeLimited();
    file = opened.release();
  }
  return result;
}

int WriteOutputFile(OutputFile& file, const char* data, std::size_t size) noexcept {
  int error = 0;
  posix::WriteWithinSizeLimit(file.fd, data, size, file.sizeLimited, error);
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
