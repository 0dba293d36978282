// utility/platform/posix/namedobject.cpp: create, open and remove the library's named objects in
// POSIX shared memory.
// Licensed under the Apache License, Version 2.0.
//
// A named object must behave like a kernel object that dies with its last handle, and a process
// may die at any point, SIGKILL included. So the count of users is kept by the kernel, not in
// the object: every process that uses an object holds a shared flock(2) lock on its own open
// file description of it, which the kernel drops however the process ends.
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
//
// Names live in a namespace per effective user, and an object that another user owns or that
// has another mode than owner read and write is never joined: /dev/shm is writable by every
// user, who could otherwise make an object under another user's name and share its data.
//
// A lock belongs to an open file description, which a child forked without exec shares with its
// parent; the two would count as one user, and the first to let go would remove the name from
// under the other. So the fork handlers give the child a description of its own for every
// object the process holds: made and locked in the parent before the fork, kept by the child,
// closed by the parent after it. Both hold a lock at every moment.
//
// A name whose users were all killed would stay until someone used it again; a process that
// creates or opens an object sweeps its user's namespace and removes every such name.
#include "platform/posix/namedobject.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <new>
#include <pthread.h>
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
/// Age in seconds after which an unfinished object that nobody holds counts as abandoned when
/// a sweep finds it; a creator takes its lock microseconds after making the object.
constexpr time_t kUnfinishedAbandonedAfter = 10;

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

/// With a shared lock held on `fd`: maps the object and, when it is ready and is the one the
/// request names, gives it to `object` (with `fd`).
Step MapShared(Descriptor& fd, const NamedObjectRequest& request, NamedObject& object,
               int& error) noexcept {
  const bool mayWait = request.mode != NamedObjectMode::open;
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0) {
    error = errno;
    return Step::failed;
  }
  if (status.st_nlink == 0) {
    return Step::retry; // its last user removed it while this process waited for the lock
  }
  // Once the creator has finished, an object of this user has exactly the creator's mode.
  if (!S_ISREG(status.st_mode) || (status.st_mode & 07777) != kObjectMode) {
    error = EACCES;
    return Step::failed;
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

/// Joins an object that exists under the name, reclaims it when nobody holds it, or reports
/// that it is in use (create mode).
Step AttachExisting(int openedFd, const NamedObjectRequest& request, NamedObject& object,
                    int& notReadySeen, int& error) noexcept {
  Descriptor fd(openedFd);
  const bool mayWait = request.mode != NamedObjectMode::open;
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0) {
    error = errno;
    return Step::failed;
  }
  // Checked before any lock: another user's object could hold its lock for ever.
  if (status.st_uid != ::geteuid()) {
    error = EACCES;
    return Step::failed;
  }
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
  return MapShared(fd, request, object, error);
}

// ------------------------------------------------ the process's objects and fork ----

/// Every object the process holds, for the fork handlers. Plain data, so it needs no
/// constructor at load.
pthread_mutex_t gHeldLock = PTHREAD_MUTEX_INITIALIZER;
NamedObject* gHeld = nullptr;
pthread_once_t gForkHandlersOnce = PTHREAD_ONCE_INIT;

/// A new open file description of the object `object` holds, with a shared lock on it; -1 when
/// none can be made. The name cannot change meanwhile: nobody removes a name while this
/// process holds the object.
int OpenOwnHold(const NamedObject& object) noexcept {
  Descriptor fd(::shm_open(object.osName, O_RDWR | O_CLOEXEC, 0));
  struct stat held {};
  struct stat named {};
  if (fd.get() < 0 || ::fstat(object.fd, &held) != 0 || ::fstat(fd.get(), &named) != 0 ||
      held.st_dev != named.st_dev || held.st_ino != named.st_ino ||
      Flock(fd.get(), LOCK_SH | LOCK_NB) != 0) {
    return -1;
  }
  return fd.release();
}

/// Before a fork: a description and a lock for the child, for every object held. The list
/// stays locked until the fork is over, so that no object comes or goes meanwhile.
void PrepareFork() noexcept {
  ::pthread_mutex_lock(&gHeldLock);
  for (NamedObject* object = gHeld; object != nullptr; object = object->next) {
    object->forkFd = OpenOwnHold(*object);
  }
}

/// In the parent after a fork (or a failed one): the child's descriptors are the child's. The
/// lock on each stays as long as the child keeps its copy.
void ParentAfterFork() noexcept {
  for (NamedObject* object = gHeld; object != nullptr; object = object->next) {
    if (object->forkFd >= 0) {
      ::close(object->forkFd);
      object->forkFd = -1;
    }
  }
  ::pthread_mutex_unlock(&gHeldLock);
}

/// In the child after a fork: each object is held through the child's own description. The
/// parent's, still open here, is closed, which leaves the parent's lock alone. An object
/// whose own description could not be made stays on the parent's, with the parent's process
/// id, so that this child never removes its name.
void ChildAfterFork() noexcept {
  const pid_t self = ::getpid();
  for (NamedObject* object = gHeld; object != nullptr; object = object->next) {
    if (object->forkFd >= 0) {
      ::close(object->fd);
      object->fd = std::exchange(object->forkFd, -1);
      object->process = self;
    }
  }
  ::pthread_mutex_unlock(&gHeldLock);
}

void InstallForkHandlers() noexcept {
  ::pthread_atfork(PrepareFork, ParentAfterFork, ChildAfterFork);
}

/// Adds a newly held object to the process's list.
void Register(NamedObject& object) noexcept {
  ::pthread_once(&gForkHandlersOnce, InstallForkHandlers);
  ::pthread_mutex_lock(&gHeldLock);
  object.previous = nullptr;
  object.next = gHeld;
  if (gHeld != nullptr) {
    gHeld->previous = &object;
  }
  gHeld = &object;
  ::pthread_mutex_unlock(&gHeldLock);
}

/// Takes an object out of the process's list, when it is in it.
void Unregister(NamedObject& object) noexcept {
  ::pthread_mutex_lock(&gHeldLock);
  if (object.previous != nullptr) {
    object.previous->next = object.next;
  } else if (gHeld == &object) {
    gHeld = object.next;
  }
  if (object.next != nullptr) {
    object.next->previous = object.previous;
  }
  object.previous = nullptr;
  object.next = nullptr;
  ::pthread_mutex_unlock(&gHeldLock);
}

// ------------------------------------------------------------ abandoned names ----

/// Removes the name `osName` when it denotes an object of `user` that nobody holds: finished,
/// or unfinished and older than a creator could be.
void ReclaimIfAbandoned(const char* osName, uid_t user, time_t now) noexcept {
  const Descriptor fd(::shm_open(osName, O_RDWR | O_CLOEXEC, 0));
  struct stat status {};
  if (fd.get() < 0 || ::fstat(fd.get(), &status) != 0 || status.st_uid != user) {
    return;
  }
  if (Flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    return; // in use, or being made or removed
  }
  if (IsReady(fd.get()) || now - status.st_ctime > kUnfinishedAbandonedAfter) {
    RemoveName(osName, fd.get());
  }
}

/// Whether this process holds the object of the file name `fileName` (its shm name less the
/// '/'): then it is in use, and the sweep needs no system call to know it.
bool IsHeldHere(const char* fileName) noexcept {
  ::pthread_mutex_lock(&gHeldLock);
  const NamedObject* object = gHeld;
  while (object != nullptr && std::strcmp(object->osName + 1, fileName) != 0) {
    object = object->next;
  }
  ::pthread_mutex_unlock(&gHeldLock);
  return object != nullptr;
}

/// Removes the names of the user's objects whose users have all ended. What cannot be read
/// is left alone: the sweep only spares memory, nothing depends on it.
void SweepAbandoned(uid_t user) noexcept {
  char prefix[kIpcPrefixCapacity];
  const std::size_t prefixLength = MakeIpcNamespacePrefix(user, prefix);
  const std::unique_ptr<DIR, int (*)(DIR*)> directory(::opendir(kIpcDirectory), ::closedir);
  if (directory == nullptr || prefixLength == 0) {
    return;
  }
  const time_t now = ::time(nullptr);
  char osName[kIpcNameCapacity];
  while (const dirent* entry = ::readdir(directory.get())) {
    if (std::strncmp(entry->d_name, prefix, prefixLength) == 0 && !IsHeldHere(entry->d_name) &&
        std::snprintf(osName, sizeof osName, "/%s", entry->d_name) <
            static_cast<int>(sizeof osName)) {
      ReclaimIfAbandoned(osName, user, now);
    }
  }
}

/// One attempt to make the object afresh: InitialiseCreated's step when this process made the
/// name, `exists` when something holds the name already (to be joined), `failed` with the
/// error otherwise.
Step TryCreate(const NamedObjectRequest& request, std::size_t offset, std::size_t total,
               NamedObject& object, int& error) noexcept {
  const int fd = ::shm_open(object.osName, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, kObjectMode);
  if (fd >= 0) {
    return InitialiseCreated(fd, request, offset, total, object, error);
  }
  if (errno != EEXIST) {
    error = errno;
    return Step::failed;
  }
  return Step::exists;
}

/// One attempt to join the object of the name: AttachExisting's step, or, when there is none,
/// `notFound` (open mode) or `retry` (it went since the create attempt: make it again).
Step TryJoin(const NamedObjectRequest& request, NamedObject& object, int& notReadySeen,
             int& error) noexcept {
  const int fd = ::shm_open(object.osName, O_RDWR | O_CLOEXEC, 0);
  if (fd < 0) {
    if (errno != ENOENT) {
      error = errno;
      return Step::failed;
    }
    return request.mode == NamedObjectMode::open ? Step::notFound : Step::retry;
  }
  return AttachExisting(fd, request, object, notReadySeen, error);
}

} // namespace

NamedObjectResult AcquireNamedObject(const NamedObjectRequest& request, NamedObject& object,
                                     int& error) noexcept {
  object = NamedObject{};
  error = 0;
  const uid_t user = ::geteuid();
  MakeIpcName(request.kind, user, request.name, request.nameLength, object.osName);
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
      const Step created = TryCreate(request, offset, total, object, error);
      if (created == Step::done) {
        Register(object);
        SweepAbandoned(user);
        return NamedObjectResult::created;
      }
      if (created == Step::failed) {
        return NamedObjectResult::failed;
      }
      if (created == Step::retry) {
        continue;
      }
    }
    switch (TryJoin(request, object, notReadySeen, error)) {
    case Step::done:
      Register(object);
      SweepAbandoned(user);
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
  Unregister(object);
  int error = 0;
  if (object.base != nullptr && ::munmap(object.base, object.length) != 0) {
    error = errno;
  }
  if (object.fd >= 0) {
    // A descriptor still shared with another process (a child forked where the fork handlers
    // could not give it one of its own, or did not run) carries that process's lock too:
    // only the process whose hold it is may remove the name.
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
