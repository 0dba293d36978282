// utility/platform/posix/namedobject.h: create, open and remove the library's named objects in
// POSIX shared memory.
// Licensed under the Apache License, Version 2.0.
//
// Internal to the POSIX platform layer; named mutexes and shared-memory sections both live in
// such objects. Never installed.
#ifndef TAVUTIL_PLATFORM_POSIX_NAMEDOBJECT_H
#define TAVUTIL_PLATFORM_POSIX_NAMEDOBJECT_H

#include "platform/posix/ipclayout.h"

#include <cstddef>
#include <sys/types.h>

namespace tavutil::platform::posix {

/// What AcquireNamedObject may do.
enum class NamedObjectMode {
  create,       ///< make a new object; an object of that name in use is refused
  open,         ///< join an object in use; never make one
  createOrOpen, ///< join the object in use, or make it when there is none
};

/// The outcome of AcquireNamedObject.
enum class NamedObjectResult { created, opened, exists, notFound, failed };

/// Fills the payload of a new object; gives 0 or an error code. Called once, by the creator,
/// before any other process can use the object.
using PayloadInitialiser = int (*)(void* payload) noexcept;

/// What to acquire.
struct NamedObjectRequest {
  IpcKind kind;
  const char* name;
  std::size_t nameLength;
  NamedObjectMode mode;
  std::size_t payloadSize;       ///< size of a new object's payload (create modes)
  std::size_t payloadAlignment;  ///< alignment of a new object's payload, a power of two
  PayloadInitialiser initialise; ///< may be null: the payload is then all zero bytes
  std::size_t expectedPayload;   ///< an opened object's payload must have this size; 0: any
};

/// One process's hold on a named object: its descriptor (which carries a shared flock(2) lock
/// for as long as the hold lasts) and its mapping. While held, the object is known to the
/// process's fork handlers, so it must not move.
struct NamedObject {
  int fd = -1;
  void* base = nullptr;
  std::size_t length = 0;
  void* payload = nullptr;
  std::size_t payloadSize = 0;
  pid_t process = 0; ///< the process whose hold `fd` carries
  char osName[kIpcNameCapacity] = {};
  int forkFd = -1;                 ///< a child's own hold, made while a fork is under way
  NamedObject* previous = nullptr; ///< the process's list of held objects
  NamedObject* next = nullptr;
};
/// Makes or joins the object named by `request` in the namespace of the process's effective
/// user and maps all of it into `object`. An object of that name that another user owns, or
/// whose mode is not owner read and write, is refused: `failed` with EACCES. On `failed`,
/// `error` holds the system's error code; on any result but created and opened, `object`
/// holds nothing. A process that creates or opens an object also removes the names of its
/// user's objects whose users have all ended.
NamedObjectResult AcquireNamedObject(const NamedObjectRequest& request, NamedObject& object,
                                     int& error) noexcept;

/// Unmaps the object and gives up the hold; the last holder removes the name. A child forked
/// without exec holds what its parent held as a user of its own. Gives 0, or the error code of
/// the first step that failed.
int ReleaseNamedObject(NamedObject& object) noexcept;

} // namespace tavutil::platform::posix

#endif // TAVUTIL_PLATFORM_POSIX_NAMEDOBJECT_H
