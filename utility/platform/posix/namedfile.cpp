// utility/platform/posix/namedfile.cpp: files given by name, opened by one set of rules, and
// writes that a file-size limit cannot turn into the end of the process, for POSIX systems.
// Licensed under the Apache License, Version 2.0.
//
// A name may lead to a FIFO (whose open waits for a peer, and whose writes wait for a reader),
// a device (whose open may do something), a directory, or through a symbolic link that another
// user planted in a shared directory. So every open asks not to wait (O_NONBLOCK), never
// follows a link at the last component by itself (O_NOFOLLOW), and then looks at what it got
// (fstat of the descriptor, not of the name). A link is followed only when its owner is the
// effective user or the owner of the directory holding it, the rule of Linux's
// protected_symlinks, here in every directory. The link is judged and then opened through one
// descriptor of its directory, and judged again after the open: whoever could swap it in
// between would have to own the directory, and is trusted by the rule anyway.
//
// This file depends on no other file of the backend: tavrc compiles it as well.
#include "platform/posix/namedfile.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace tavutil::platform {

namespace posix {
namespace {

#if defined(O_PATH)
constexpr int kLookOnly = O_PATH; // no read permission needed, nothing opened but the name
#else
constexpr int kLookOnly = O_RDONLY;
#endif

/// Closes a descriptor at the end of its scope unless released.
class Descriptor {
public:
  explicit Descriptor(int fd = -1) noexcept : fFd(fd) {}
  ~Descriptor() {
    if (fFd >= 0) {
      ::close(fFd);
    }
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const noexcept { return fFd; }
  void reset(int fd) noexcept {
    if (fFd >= 0) {
      ::close(fFd);
    }
    fFd = fd;
  }
  int release() noexcept { return std::exchange(fFd, -1); }

private:
  int fFd;
};

/// openat(2), resumed after signals; new files get 0666 less the umask.
int OpenAt(int directory, const char* name, int flags) noexcept {
  int fd = -1;
  do {
    fd = ::openat(directory, name, flags, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

/// Whether `status` is the file one of the process's standard streams has open.
bool IsStandardStream(const struct stat& status) noexcept {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    struct stat stream {};
    if (::fstat(fd, &stream) == 0 && stream.st_dev == status.st_dev &&
        stream.st_ino == status.st_ino) {
      return true;
    }
  }
  return false;
}

/// The error code that goes with a refusal of a file of this type.
int NotRegularError(mode_t mode) noexcept {
  return S_ISDIR(mode) ? EISDIR : EINVAL;
}

/// The directory holding the last component of `path`, open for lookups, and that component.
/// -1, with `error` set, when the directory cannot be opened.
int OpenParent(const char* path, const char*& base, int& error) noexcept {
  const char* slash = std::strrchr(path, '/');
  base = slash != nullptr ? slash + 1 : path;
  char parent[PATH_MAX];
  if (slash == nullptr) {
    std::snprintf(parent, sizeof parent, ".");
  } else if (slash == path) {
    std::snprintf(parent, sizeof parent, "/");
  } else if (static_cast<std::size_t>(slash - path) < sizeof parent) {
    std::memcpy(parent, path, static_cast<std::size_t>(slash - path));
    parent[slash - path] = '\0';
  } else {
    error = ENAMETOOLONG;
    return -1;
  }
  const int fd = OpenAt(AT_FDCWD, parent, kLookOnly | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    error = errno;
  }
  return fd;
}

/// Whether the link `link` in the directory `directory` may be followed: it belongs to the
/// effective user or to the directory's owner.
bool MayFollow(const struct stat& link, const struct stat& directory) noexcept {
  return link.st_uid == ::geteuid() || link.st_uid == directory.st_uid;
}

/// Whether both describe one symbolic link with one owner (nothing swapped it in between).
bool SameLink(const struct stat& first, const struct stat& second) noexcept {
  return S_ISLNK(first.st_mode) && S_ISLNK(second.st_mode) && first.st_dev == second.st_dev &&
         first.st_ino == second.st_ino && first.st_uid == second.st_uid;
}

/// After a failed open of `name`: `notRegular` when it leads to something other than a
/// regular file (a FIFO without a reader, a socket, a directory opened for writing),
/// `missing` when there is nothing, else `failed`; `reported` gets the error code.
NamedFileResult Classify(int directory, const char* name, int error, int& reported) noexcept {
  struct stat status {};
  if (::fstatat(directory, name, &status, 0) == 0 && !S_ISREG(status.st_mode)) {
    reported = NotRegularError(status.st_mode);
    return NamedFileResult::notRegular;
  }
  reported = error;
  return error == ENOENT || error == ENOTDIR ? NamedFileResult::missing : NamedFileResult::failed;
}

/// The open through a symbolic link at the last component of `path`, when the rule lets it be
/// followed. `isLink` when it may not, or when it changed while it was being opened.
NamedFileResult OpenThroughLink(const char* path, int flags, Descriptor& opened,
                                int& error) noexcept {
  const char* base = nullptr;
  const Descriptor directory(OpenParent(path, base, error));
  if (directory.get() < 0) {
    return error == ENOENT || error == ENOTDIR ? NamedFileResult::missing : NamedFileResult::failed;
  }
  struct stat link {};
  struct stat holder {};
  if (::fstatat(directory.get(), base, &link, AT_SYMLINK_NOFOLLOW) != 0 ||
      ::fstat(directory.get(), &holder) != 0) {
    error = errno;
    return NamedFileResult::failed;
  }
  if (!S_ISLNK(link.st_mode)) {
    error = ELOOP; // a loop among the directories, not a link at the end
    return NamedFileResult::failed;
  }
  if (!MayFollow(link, holder)) {
    error = ELOOP;
    return NamedFileResult::isLink;
  }
  opened.reset(OpenAt(directory.get(), base, flags));
  if (opened.get() < 0) {
    return Classify(directory.get(), base, errno, error);
  }
  struct stat again {};
  if (::fstatat(directory.get(), base, &again, AT_SYMLINK_NOFOLLOW) != 0 ||
      !SameLink(link, again)) {
    opened.reset(-1);
    error = ELOOP;
    return NamedFileResult::isLink;
  }
  return NamedFileResult::opened;
}

} // namespace

NamedFileResult OpenNamedFile(const char* path, FileAccess access, bool standardStreams,
                              int& descriptor, int& error) noexcept {
  descriptor = -1;
  error = 0;
  if (path == nullptr || *path == '\0') {
    error = ENOENT;
    return NamedFileResult::failed;
  }
  int flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  switch (access) {
  case FileAccess::read:
    flags |= O_RDONLY;
    break;
  case FileAccess::truncate:
    flags |= O_WRONLY | O_CREAT;
    break;
  case FileAccess::append:
    flags |= O_WRONLY | O_CREAT | O_APPEND;
    break;
  }
  Descriptor opened(OpenAt(AT_FDCWD, path, flags | O_NOFOLLOW));
  if (opened.get() < 0) {
    const int openError = errno;
    if (openError == ELOOP) {
      const NamedFileResult result = OpenThroughLink(path, flags, opened, error);
      if (result != NamedFileResult::opened) {
        return result;
      }
    } else {
      return Classify(AT_FDCWD, path, openError, error);
    }
  }
  struct stat status {};
  if (::fstat(opened.get(), &status) != 0) {
    error = errno;
    return NamedFileResult::failed;
  }
  if (!S_ISREG(status.st_mode) && !(standardStreams && IsStandardStream(status))) {
    error = NotRegularError(status.st_mode);
    return NamedFileResult::notRegular;
  }
  // The open must not wait; the writes and reads after it may, as on any file.
  const int current = ::fcntl(opened.get(), F_GETFL);
  if (current < 0 || ::fcntl(opened.get(), F_SETFL, current & ~O_NONBLOCK) != 0 ||
      (access == FileAccess::truncate && S_ISREG(status.st_mode) &&
       ::ftruncate(opened.get(), 0) != 0)) {
    error = errno;
    return NamedFileResult::failed;
  }
  descriptor = opened.release();
  return NamedFileResult::opened;
}

bool FileSizeLimited() noexcept {
  rlimit limit{};
  return ::getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur != RLIM_INFINITY;
}

std::size_t WriteWithinSizeLimit(int descriptor, const void* data, std::size_t size,
                                 bool sizeLimited, int& error) noexcept {
  error = 0;
  // The kernel raises SIGXFSZ at the thread that writes past its limit. Blocked, the signal
  // stays pending and the write gives EFBIG; it is then taken off before the mask is restored.
  sigset_t fileSize;
  sigset_t previous;
  bool blocked = false;
  if (sizeLimited) {
    sigemptyset(&fileSize);
    sigaddset(&fileSize, SIGXFSZ);
    blocked = ::pthread_sigmask(SIG_BLOCK, &fileSize, &previous) == 0 &&
              sigismember(&previous, SIGXFSZ) == 0;
  }
  const auto* bytes = static_cast<const char*>(data);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t written = ::write(descriptor, bytes + done, size - done);
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      error = errno;
      break;
    }
    if (written == 0) {
      error = EIO;
      break;
    }
    done += static_cast<std::size_t>(written);
  }
  if (blocked) {
    if (error == EFBIG) {
      const timespec now{0, 0};
      while (::sigtimedwait(&fileSize, nullptr, &now) == SIGXFSZ) {
      }
    }
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  }
  return done;
}

} // namespace posix

NamedFileResult ReadNamedFile(const char* path, std::size_t limit, std::string& contents,
                              int& error) {
  int fd = -1;
  const NamedFileResult result =
      posix::OpenNamedFile(path, posix::FileAccess::read, true, fd, error);
  if (result != NamedFileResult::opened) {
    return result;
  }
  const posix::Descriptor file(fd);
  struct stat status {};
  if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
      static_cast<std::uint64_t>(status.st_size) > limit) {
    return NamedFileResult::tooLarge;
  }
  contents.clear();
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) {
        continue;
      }
      error = errno;
      return NamedFileResult::failed;
    }
    if (got == 0) {
      return NamedFileResult::opened;
    }
    if (static_cast<std::size_t>(got) > limit - contents.size()) {
      return NamedFileResult::tooLarge; // it grew, or a stream of the process gave more
    }
    contents.append(buffer, static_cast<std::size_t>(got));
  }
}

namespace {

/// Whether `path` may be replaced: `opened` when nothing is there or a regular file is;
/// `isLink`, `notRegular` or `failed` with the error otherwise.
NamedFileResult CheckReplaceable(const char* path, int& error) noexcept {
  struct stat existing {};
  if (::lstat(path, &existing) == 0) {
    if (S_ISLNK(existing.st_mode)) {
      error = ELOOP;
      return NamedFileResult::isLink;
    }
    if (!S_ISREG(existing.st_mode)) {
      error = posix::NotRegularError(existing.st_mode);
      return NamedFileResult::notRegular;
    }
  } else if (errno != ENOENT) {
    error = errno;
    return NamedFileResult::failed;
  }
  return NamedFileResult::opened;
}

/// Makes the new file for `path` beside it (a rename does not cross file systems), under a
/// name nobody else uses: it is made exclusively, and only it is ever removed. Its name goes
/// to `temporary`. False, with the error, when no such file could be made.
bool MakeReplacement(const char* path, char (&temporary)[PATH_MAX], posix::Descriptor& file,
                     int& error) noexcept {
  const char* slash = std::strrchr(path, '/');
  const int directoryLength = slash != nullptr ? static_cast<int>(slash - path) + 1 : 0;
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100 && file.get() < 0; ++attempt) {
    const int length =
        std::snprintf(temporary, sizeof temporary, "%.*s.replacing-%ld-%u.tmp", directoryLength,
                      path, static_cast<long>(::getpid()), counter.fetch_add(1));
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof temporary) {
      error = ENAMETOOLONG;
      return false;
    }
    file.reset(posix::OpenAt(AT_FDCWD, temporary,
                             O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY));
    if (file.get() < 0 && errno != EEXIST) {
      error = errno;
      return false;
    }
  }
  if (file.get() < 0) {
    error = EEXIST;
    return false;
  }
  return true;
}

} // namespace

NamedFileResult ReplaceWholeFile(const char* path, const char* data, std::size_t size,
                                 int& error) noexcept {
  error = 0;
  if (path == nullptr || *path == '\0') {
    error = ENOENT;
    return NamedFileResult::failed;
  }
  const NamedFileResult replaceable = CheckReplaceable(path, error);
  if (replaceable != NamedFileResult::opened) {
    return replaceable;
  }
  char temporary[PATH_MAX];
  posix::Descriptor file;
  if (!MakeReplacement(path, temporary, file, error)) {
    return NamedFileResult::failed;
  }
  const bool written =
      posix::WriteWithinSizeLimit(file.get(), data, size, posix::FileSizeLimited(), error) == size;
  // A file system may report a failed write only at close.
  const bool closed = ::close(file.release()) == 0;
  if (written && !closed) {
    error = errno;
  }
  if (!written || !closed || ::rename(temporary, path) != 0) {
    if (error == 0) {
      error = errno;
    }
    ::unlink(temporary);
    return NamedFileResult::failed;
  }
  return NamedFileResult::opened;
}

} // namespace tavutil::platform
