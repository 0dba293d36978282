// tavutil/sharedmemory.h: ipcSharedMemory, a named section of memory shared between processes.
// Licensed under the Apache License, Version 2.0.
//
// The library offers sections to its users and does not use them itself. A section gives no
// synchronisation of the memory it maps: pair it with a named TMutexSemaphore.
#ifndef TAVUTIL_SHAREDMEMORY_H
#define TAVUTIL_SHAREDMEMORY_H

#include <cstdint>
#include <memory>
#include <tavutil/config.h>

/// The platform side of a section: its handle, mapping and name. Internal to the library.
class osSharedMemory;

/// A named section of memory shared between processes, created by this process or opened
/// after another one created it.
///
/// The constructors report failure in the state, never by an exception; check `!section` or
/// rdstate():
///
///   0  the section is mapped and usable
///   1  creating failed: the name is in use, or it could not be made or mapped; also either
///      constructor when memory runs out
///   2  the name is null or empty
///   3  opening failed: no section of that name exists, or it could not be mapped
/// Names belong to a user: processes of different users never share a section (on Windows the
/// session namespace and the object's security decide). A section of the name that another
/// user owns, or whose mode is not the one this user's sections have, is refused (state 1 or
/// 3), never joined. Another user can so deny a name on POSIX systems (the shared-memory
/// directory is writable by all) until that user or root removes the object: where that
/// matters, use names others cannot guess or a shared-memory directory of the user's own (a
/// private mount namespace); see TMutexSemaphore. A child forked without exec that keeps an
/// inherited object is one more user of the section.
/// The section's bytes start zeroed and exist as long as some object maps them. To create a
/// section or else join it, try the creating constructor and, on state 1, the opening one:
///
///   auto section = std::make_unique<ipcSharedMemory>("stats", 4096);
///   if (section->rdstate() == 1) {
///     section = std::make_unique<ipcSharedMemory>("stats"); // Owner() 0: joined
///   }
class TAVUTIL_API ipcSharedMemory {
public:
  /// Creates a new section of `size` bytes (1 to 2^31 - 1) under `name` and maps all of it
  /// for reading and writing; never joins a section that exists. Owner() is 1. Throws
  /// nothing.
  ipcSharedMemory(const char* name, long size) noexcept;
  /// Opens the section of that name and maps all of it for reading and writing. Owner() is 0
  /// and Size() 0. Throws nothing.
  explicit ipcSharedMemory(const char* name) noexcept;
  /// Unmaps the section; it goes when no object maps it any more. Throws nothing.
  virtual ~ipcSharedMemory();
  ipcSharedMemory(const ipcSharedMemory&) = delete;
  ipcSharedMemory& operator=(const ipcSharedMemory&) = delete;

  /// 1 when the state is not 0. Throws nothing.
  int operator!() const noexcept { return fState != 0; }
  /// The state (see the class comment). Throws nothing.
  int rdstate() const noexcept { return fState; }
  /// The copy of the name; null when the name was null or empty, or memory ran out.
  /// Throws nothing.
  char* Name() const noexcept;
  /// The first byte of the section; null when nothing is mapped. Throws nothing.
  void* Pointer() const noexcept;
  /// 1 for the creating constructor, 0 for the opening one (and when memory ran out).
  /// Throws nothing.
  int Owner() const noexcept;
  /// The size given to the creating constructor; 0 for the opening one. Throws nothing.
  long Size() const noexcept { return fSize; }

private:
  std::unique_ptr<osSharedMemory> fPlatform; ///< null when it could not be allocated
  std::int32_t fState;
  long fSize;
};

#endif // TAVUTIL_SHAREDMEMORY_H
