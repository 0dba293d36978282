// utility/platform/posix/namedobject.cpp: create, open and remove the library's named objects in
// POSIX shared memory.
// Licensed under the Apache License, Version 2.0.
//
// A named object must behave like a kernel object that dies with its last handle, and a process
// may die at any point, SIGKILL included. So the count of users is kept by the kernel, not in
// the object: every process that uses an object holds a shared flock(2) lock on its own
// descriptor of it, which the kernel drops however the process ends.
// - A creator makes the object with O_EXCL, takes an exclusive lock, sizes it, writes header
//   and payload, marks it ready, and only then turns its lock into a shared one.
// - An opener first tries an exclusive lock without waiting. If it gets it, nobody uses the
//   object (its last user was killed, or its creator died before finishing): the opener
//   removes the name and starts over, or reports "not found" when it may only open. Otherwise
//   it waits for a shared lock, which waits out a creator that is still initialising.
// - Whoever gives up a hold tries for the exclusive lock without waiting; the one that gets it
//   is the last user and removes the name.
// A name is removed only while holding the exclusive lock on a descriptor that is still linked
// (st_nlink > 0), so a process always removes the object it holds and never a successor made
// under the same name. Neither open-then-lock nor downgrading a flock is atomic, so every
// process checks st_nlink after each lock it takes and starts over if its object was removed
// in between; an opener can therefore never attach to a dying object.
#include "platform/posix/namedobject.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <limits>
#include <new>
#include <sched.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace tavutil::platform::posix {
namespace {

/// Rounds of create-or-open before giving up; with the growing pause about two seconds.
constexpr int kMaxAttempts = 2000;
/// Times an unlocked, unfinished object is seen before it counts as abandoned by a creator
/// that died; until then it is taken for a creator between shm_open and its first lock.
constexpr int kAbandonedAfter = 200;
/// Owner read and write: named objects are private to the user that makes them.
constexpr mode_t kObjectMode = S_IRUSR | S_IWUSR;

/// Where a step of AcquireNamedObject leaves the caller.
enum class Step { done, retry, exists, notFound, failed };

/// Closes a descriptor at the end of its scope unless released.
class Descriptor {
public:
  explicit Descriptor(int fd) noexcept : fFd(fd) {}
  ~Descriptor() {
    if (fFd >= 0) {
      ::close(fFd);
    }
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const noexcept { return fFd; }
  int release() noexcept { return std::exchange(fFd, -1); }

private:
  int fFd;
};

/// Unmaps a mapping at the end of its scope unless released.
class Mapping {
public:
  Mapping(void* base, std::size_t length) noexcept : fBase(base), fLength(length) {}
  ~Mapping() {
    if (fBase != nullptr) {
      ::munmap(fBase, fLength);
    }
  }
  Mapping(const Mapping&) = delete;
  Mapping& operator=(const Mapping&) = delete;
  char* get() const noexcept { return static_cast<char*>(fBase); }
  void* release() noexcept { return std::exchange(fBase, nullptr); }

private:
  void* fBase;
  std::size_t fLength;
};

/// flock(2), resumed after signals; gives 0 or the error code.
int Flock(int fd, int operation) noexcept {
  int rc = 0;
  do {
    rc = ::flock(fd, operation);
  } while (rc != 0 && errno == EINTR);
  return rc == 0 ? 0 : errno;
}

/// Whether the object behind `fd` still has its name.
bool IsLinked(int fd) noexcept {
  struct stat status {};
  return ::fstat(fd, &status) == 0 && status.st_nlink > 0;
}

/// Removes the name of the object behind `fd`, which the caller holds exclusively: while that
/// lock lasts and the object is linked, the name can denote no other object.
void RemoveName(const char* osName, int fd) noexcept {
  if (IsLinked(fd)) {
    ::shm_unlink(osName);
  }
}

/// Whether the object behind `fd` is marked ready. Only for a caller holding it exclusively,
/// so that nobody writes the flag meanwhile.
bool IsReady(int fd) noexcept {
  std::uint32_t ready = 0;
  return ::pread(fd, &ready, sizeof ready, 0) == static_cast<ssize_t>(sizeof ready) &&
         ready == kIpcReady;
}

/// Yields at first, then sleeps a little longer each round, up to a millisecond.
void Pause(int attempt) noexcept {
  if (attempt < 8) {
    ::sched_yield();
    return;
  }
  const timespec pause{0, std::min(attempt, 100) * 10000L};
  ::nanosleep(&pause, nullptr);
}

/// Offset of the payload and size of a new object, or false when they cannot be represented.
bool Placement(const NamedObjectRequest& request, std::size_t& offset,
               std::size_t& total) noexcept {
  constexpr std::size_t kMax = static_cast<std::size_t>(std::numeric_limits<off_t>::max());
  const std::size_t align = request.payloadAlignment == 0 ? 1 : request.payloadAlignment;
  if (request.nameLength > kMax - sizeof(IpcObjectHeader) - align) {
    return false;
  }
  offset = (sizeof(IpcObjectHeader) + request.nameLength + align - 1) & ~(align - 1);
  if (request.payloadSize > kMax - offset) {
    return false;
  }
  total = offset + request.payloadSize;
  return true;
}

/// Finishes an object this process has just made with O_EXCL.
Step InitialiseCreated(int newFd, const NamedObjectRequest& request, std::size_t offset,
                       std::size_t total, NamedObject& object, int& error) noexcept {
  Descriptor fd(newFd);
  // Failing here leaves an unfinished object that nobody holds; the next user reclaims it.
  if ((error = Flock(fd.get(), LOCK_EX)) != 0) {
    return Step::failed;
  }
  if (!IsLinked(fd.get())) {
    return Step::retry; // taken for abandoned before this process could lock it
  }
  const auto abandon = [&](int code) {
    error = code;
    RemoveName(object.osName, fd.get());
    return Step::failed;
  };
  // shm_open applied the umask to the mode; the object is for its owner only, whatever the umask.
  if (::fchmod(fd.get(), kObjectMode) != 0) {
    return abandon(errno);
  }
  if (::ftruncate(fd.get(), static_cast<off_t>(total)) != 0) {
    return abandon(errno);
  }
  void* base = ::mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(), 0);
  if (base == MAP_FAILED) {
    return abandon(errno);
  }
  Mapping mapping(base, total);
  auto* header = new (base) IpcObjectHeader{};
  header->kind = static_cast<std::uint32_t>(request.kind);
  header->nameLength = request.nameLength;
  header->payloadOffset = offset;
  header->payloadSize = request.payloadSize;
  if (request.nameLength != 0) {
    std::memcpy(mapping.get() + sizeof(IpcObjectHeader), request.name, request.nameLength);
  }
  char* payload = mapping.get() + offset;
  if (request.initialise != nullptr) {
    const int rc = request.initialise(payload);
    if (rc != 0) {
      return abandon(rc);
    }
  }
  header->ready.store(kIpcReady, std::memory_order_release);
  // Failing here leaves a finished object that nobody holds; the next user reclaims it.
  if ((error = Flock(fd.get(), LOCK_SH)) != 0) {
    return Step::failed;
  }
  if (!IsLinked(fd.get())) {
    return Step::retry; // reclaimed in the moment between the two locks
  }
  object.fd = fd.release();
  object.base = mapping.release();
  object.length = total;
  object.payload = payload;
  object.payloadSize = request.payloadSize;
  return Step::done;
}

/// Whether a mapped, ready object is the one the request names.
bool Matches(const char* base, std::size_t length, const NamedObjectRequest& request) noexcept {
  const auto* header = reinterpret_cast<const IpcObjectHeader*>(base);
  const std::uint64_t nameEnd = sizeof(IpcObjectHeader) + header->nameLength;
  return header->kind == static_cast<std::uint32_t>(request.kind) &&
         header->nameLength == request.nameLength && nameEnd <= header->payloadOffset &&
         header->payloadOffset <= length && header->payloadSize <= length - header->payloadOffset &&
         (request.expectedPayload == 0 || header->payloadSize == request.expectedPayload) &&
         std::memcmp(base + sizeof(IpcObjectHeader), request.name, request.nameLength) == 0;
}

/// Joins an object that exists under the name, reclaims it when nobody holds it, or reports
/// that it is in use (create mode).
Step AttachExisting(int openedFd, const NamedObjectRequest& request, NamedObject& object,
                    int& notReadySeen, int& error) noexcept {
  Descriptor fd(openedFd);
  const bool mayWait = request.mode != NamedObjectMode::open;
  const int exclusive = Flock(fd.get(), LOCK_EX | LOCK_NB);
  if (exclusive == 0) {
    // Nobody holds the object: its last user died without removing it, its creator died
    // before finishing, or its creator is between shm_open and its first lock.
    const bool abandoned = IsReady(fd.get()) || (mayWait && ++notReadySeen >= kAbandonedAfter);
    if (abandoned) {
      RemoveName(object.osName, fd.get());
    }
    return mayWait ? Step::retry : Step::notFound;
  }
  if (exclusive != EWOULDBLOCK) {
    error = exclusive;
    return Step::failed;
  }
  if (request.mode == NamedObjectMode::create) {
    return Step::exists;
  }
  if ((error = Flock(fd.get(), LOCK_SH)) != 0) {
    return Step::failed;
  }
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0) {
    error = errno;
    return Step::failed;
  }
  if (status.st_nlink == 0) {
    return Step::retry; // its last user removed it while this process waited for the lock
  }
  const auto length = static_cast<std::size_t>(status.st_size);
  if (length < sizeof(IpcObjectHeader)) {
    return mayWait ? Step::retry : Step::notFound;
  }
  void* base = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(), 0);
  if (base == MAP_FAILED) {
    error = errno;
    return Step::failed;
  }
  Mapping mapping(base, length);
  const auto* header = static_cast<const IpcObjectHeader*>(base);
  if (header->ready.load(std::memory_order_acquire) != kIpcReady) {
    return mayWait ? Step::retry : Step::notFound;
  }
  if (!Matches(mapping.get(), length, request)) {
    error = EINVAL; // another name with the same hash, or an object the library did not make
    return Step::failed;
  }
  object.fd = fd.release();
  object.base = mapping.release();
  object.length = length;
  object.payload = static_cast<char*>(object.base) + header->payloadOffset;
  object.payloadSize = static_cast<std::size_t>(header->payloadSize);
  return Step::done;
}

} // namespace

NamedObjectResult AcquireNamedObject(const NamedObjectRequest& request, NamedObject& object,
                                     int& error) noexcept {
  object = NamedObject{};
  error = 0;
  MakeIpcName(request.kind, request.name, request.nameLength, object.osName);
  object.process = ::getpid();
  std::size_t offset = 0;
  std::size_t total = 0;
  if (request.mode != NamedObjectMode::open && !Placement(request, offset, total)) {
    error = EINVAL;
    return NamedObjectResult::failed;
  }
  int notReadySeen = 0;
  for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
    if (attempt > 0) {
      Pause(attempt);
    }
    if (request.mode != NamedObjectMode::open) {
      const int fd = ::shm_open(object.osName, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, kObjectMode);
      if (fd >= 0) {
        const Step step = InitialiseCreated(fd, request, offset, total, object, error);
        if (step == Step::done) {
          return NamedObjectResult::created;
        }
        if (step == Step::failed) {
          return NamedObjectResult::failed;
        }
        continue;
      }
      if (errno != EEXIST) {
        error = errno;
        return NamedObjectResult::failed;
      }
    }
    const int fd = ::shm_open(object.osName, O_RDWR | O_CLOEXEC, 0);
    if (fd < 0) {
      if (errno != ENOENT) {
        error = errno;
        return NamedObjectResult::failed;
      }
      if (request.mode == NamedObjectMode::open) {
        return NamedObjectResult::notFound;
      }
      continue; // removed since the create attempt: try to make it again
    }
    switch (AttachExisting(fd, request, object, notReadySeen, error)) {
    case Step::done:
      return NamedObjectResult::opened;
    case Step::exists:
      return NamedObjectResult::exists;
    case Step::notFound:
      return NamedObjectResult::notFound;
    case Step::failed:
      return NamedObjectResult::failed;
    case Step::retry:
      break;
    }
  }
  error = EAGAIN;
  return NamedObjectResult::failed;
}

int ReleaseNamedObject(NamedObject& object) noexcept {
  int error = 0;
  if (object.base != nullptr && ::munmap(object.base, object.length) != 0) {
    error = errno;
  }
  if (object.fd >= 0) {
    // A child forked without exec shares this descriptor, and its lock, with its parent: it
    // leaves the name to the parent.
    if (object.process == ::getpid() && Flock(object.fd, LOCK_EX | LOCK_NB) == 0) {
      RemoveName(object.osName, object.fd);
    }
    if (::close(object.fd) != 0 && error == 0) {
      error = errno;
    }
  }
  object.fd = -1;
  object.base = nullptr;
  object.payload = nullptr;
  object.length = 0;
  object.payloadSize = 0;
  return error;
}

} // namespace tavutil::platform::posix
