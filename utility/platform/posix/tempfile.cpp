// utility/platform/posix/tempfile.cpp: anonymous temporary files for POSIX systems.
// Licensed under the Apache License, Version 2.0.
//
// 64-bit file offsets on 32-bit builds too: a temporary file may outgrow 2 GiB. A write past
// the process's file-size limit fails (EFBIG) and never ends the process.
#define _FILE_OFFSET_BITS 64 // NOLINT(bugprone-reserved-identifier)

#include "platform/platform.h"
#include "platform/posix/namedfile.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace tavutil::platform {

/// The file's descriptor; the file has no name.
struct TempFileHandle {
  int descriptor;
  bool sizeLimited; ///< a file-size limit was in force when the file was made
};

namespace {

constexpr mode_t kOwnerOnly = S_IRUSR | S_IWUSR;

/// TMPDIR when it is set and not empty, else /tmp.
const char* TempDirectory() noexcept {
  const char* directory = std::getenv("TMPDIR");
  return directory != nullptr && *directory != '\0' ? directory : "/tmp";
}

/// Whether a failed O_TMPFILE open means "not supported here" rather than a real failure.
bool TmpFileUnsupported(int error) noexcept {
  return error == EOPNOTSUPP || error == EISDIR || error == EINVAL;
}

/// For file systems without O_TMPFILE: a fresh owner-only file, unlinked at once. Its name
/// exists for the few instructions in between and is known only to this process.
int CreateAndUnlink(const char* directory, int& error) {
  std::string path(directory);
  path += "/tavutil-XXXXXX";
  const int descriptor = ::mkostemp(path.data(), O_CLOEXEC);
  if (descriptor < 0) {
    error = errno;
    return -1;
  }
  if (::unlink(path.c_str()) != 0 || ::fchmod(descriptor, kOwnerOnly) != 0) {
    error = errno;
    ::close(descriptor);
    ::unlink(path.c_str());
    return -1;
  }
  return descriptor;
}

} // namespace

TempFileHandle* OpenTempFile(int& error) noexcept {
  error = 0;
  const char* directory = TempDirectory();
  int descriptor = -1;
#if defined(O_TMPFILE)
  descriptor = ::open(directory, O_TMPFILE | O_RDWR | O_CLOEXEC, kOwnerOnly);
  if (descriptor < 0) {
    error = errno;
    if (!TmpFileUnsupported(error)) {
      return nullptr;
    }
  }
#endif
  if (descriptor < 0) {
    try {
      descriptor = CreateAndUnlink(directory, error);
    } catch (...) {
      error = ENOMEM;
      return nullptr;
    }
    if (descriptor < 0) {
      return nullptr;
    }
  }
  auto* file = new (std::nothrow) TempFileHandle{descriptor, posix::FileSizeLimited()};
  if (file == nullptr) {
    ::close(descriptor);
    error = ENOMEM;
  }
  return file;
}

std::size_t WriteTempFile(TempFileHandle& file, const void* data, std::size_t size,
                          int& error) noexcept {
  return posix::WriteWithinSizeLimit(file.descriptor, data, size, file.sizeLimited, error);
}

std::size_t ReadTempFile(TempFileHandle& file, void* data, std::size_t size, int& error) noexcept {
  error = 0;
  auto* bytes = static_cast<char*>(data);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t got = ::read(file.descriptor, bytes + done, size - done);
    if (got < 0) {
      if (errno == EINTR) {
        continue;
      }
      error = errno;
      break;
    }
    if (got == 0) {
      break;
    }
    done += static_cast<std::size_t>(got);
  }
  return done;
}

std::int64_t SeekTempFile(TempFileHandle& file, std::uint64_t offset) noexcept {
  const off_t end = ::lseek(file.descriptor, 0, SEEK_END);
  if (end < 0) {
    return -1;
  }
  if (offset >= static_cast<std::uint64_t>(end)) {
    return end;
  }
  return ::lseek(file.descriptor, static_cast<off_t>(offset), SEEK_SET);
}

std::int64_t TellTempFile(TempFileHandle& file) noexcept {
  return ::lseek(file.descriptor, 0, SEEK_CUR);
}

void CloseTempFile(TempFileHandle* file) noexcept {
  if (file != nullptr) {
    ::close(file->descriptor);
    delete file;
  }
}

} // namespace tavutil::platform
