// tavutil/mutexsem.h: TMutexSemaphore, a recursive mutex of the system, and its scope lock.
// Licensed under the Apache License, Version 2.0.
//
// An unnamed mutex is private to the process; a named one is the same mutex in every process
// that uses the name. The trace state is guarded by one, the shared trace file by a named one.
#ifndef TAVUTIL_MUTEXSEM_H
#define TAVUTIL_MUTEXSEM_H

#include <memory>
#include <tavutil/config.h>

namespace tavutil::platform {
struct MutexHandle;
} // namespace tavutil::platform

/// A recursive mutex of the operating system, unnamed or shared between processes by name.
///
/// It is locked and unlocked only through TMutexSemaphoreEntry. The thread that holds it may
/// lock it again and must unlock it as often. When its holder ends without unlocking it, thread
/// or whole process, the next lock acquires it and gives `locked`. Names are compared exactly
/// (case matters) and may hold any bytes; a named mutex exists as long as some process has a
/// TMutexSemaphore of that name. A child forked without exec that keeps an inherited object is
/// one more user of it. Names belong to a user: processes of different users never share a
/// named mutex (on Windows the session namespace and the object's security decide), and an
/// object that another user placed under this user's name is refused, not joined. That is the
/// one denial another user can still cause on POSIX systems (the shared-memory directory is
/// writable by all): making an object under this user's name first blocks the name until
/// that user or root removes it. Avoid it with names others cannot guess (a random part the
/// processes agree on) or a shared-memory directory of the user's own (a private mount
/// namespace). Names whose processes were all killed are reclaimed at the user's next
/// creation or opening of a named object.
///
///   TMutexSemaphore guard("shared.counter");
///   {
///     TMutexSemaphoreEntry entry(guard, 500);
///     if (entry.State() == TMutexSemaphore::locked) { /* only one process here */ }
///   }
class TAVUTIL_API TMutexSemaphore {
public:
  /// The result of a lock.
  enum EState {
    locked = 0,   ///< held by the calling thread, also when its previous holder died with it
    timedOut = 1, ///< the time-out passed first
    failed = 2,   ///< the wait failed, for instance because the mutex could not be made
  };
  /// The time-out that waits without limit.
  static constexpr long fsInfinite = -1;

  /// Makes an unnamed mutex (null or empty name), or opens the mutex of that name and makes it
  /// when no process has it. On failure the object stays without a mutex, every lock gives
  /// `failed`, and the failure is traced with the system's error code (the access failure, 13
  /// on Linux, for an object of the name that another user owns or that has another mode than
  /// this user's objects). Throws nothing.
  explicit TMutexSemaphore(const char* name = nullptr) noexcept;
  /// Releases what the calling thread still holds and closes the mutex; a failure to close is
  /// traced. Another thread of the process must not hold it any more. Throws nothing.
  ~TMutexSemaphore();
  TMutexSemaphore(const TMutexSemaphore&) = delete;
  TMutexSemaphore& operator=(const TMutexSemaphore&) = delete;

protected:
  /// Waits up to `timeout` milliseconds: 0 tries once, fsInfinite (or any negative value)
  /// waits for ever. Gives `failed` when there is no mutex. Throws nothing.
  EState Lock(long timeout) noexcept;
  /// Releases one hold of the calling thread; does nothing when it holds none. Throws nothing.
  void Unlock() noexcept;

private:
  friend class TMutexSemaphoreEntry;

  tavutil::platform::MutexHandle* fHandle; ///< null when the mutex could not be made
  std::unique_ptr<char[]> fName;           ///< copy of the name; null for an unnamed mutex
};

/// Holds a TMutexSemaphore for its own lifetime when the lock succeeded.
///
/// The destructor unlocks only when the constructor's lock gave `locked`; after a time-out
/// or a failure it does nothing.
class TAVUTIL_API TMutexSemaphoreEntry {
public:
  /// Locks `mutex`, waiting up to `timeout` milliseconds (see TMutexSemaphore::Lock).
  /// Throws nothing.
  TMutexSemaphoreEntry(TMutexSemaphore& mutex, long timeout) noexcept
      : fMutex(&mutex), fState(mutex.Lock(timeout)) {}
  /// Unlocks when the lock gave `locked`. Throws nothing.
  ~TMutexSemaphoreEntry() {
    if (fState == TMutexSemaphore::locked) {
      fMutex->Unlock();
    }
  }
  TMutexSemaphoreEntry(const TMutexSemaphoreEntry&) = delete;
  TMutexSemaphoreEntry& operator=(const TMutexSemaphoreEntry&) = delete;

  /// What the lock gave. Throws nothing.
  TMutexSemaphore::EState State() const noexcept { return fState; }

private:
  TMutexSemaphore* fMutex;
  TMutexSemaphore::EState fState;
};

#endif // TAVUTIL_MUTEXSEM_H
