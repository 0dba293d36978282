// utility/platform/windows/mutex.cpp: unnamed and named recursive mutexes for Windows.
// Licensed under the Apache License, Version 2.0.
//
// A kernel mutex already is everything the contract asks for: recursive for its owning
// thread, shared by name between processes (create-or-open), gone with its last handle, and
// handed to the next waiter with WAIT_ABANDONED when its owner ends without releasing it. That
// next waiter owns it, so an abandoned mutex is reported as acquired, as on POSIX systems.
#include "platform/platform.h"
#include "platform/windows/win32.h"

#include <new>

namespace tavutil::platform {

/// A mutex as the library holds it: this process's handle to the kernel object.
struct MutexHandle {
  HANDLE handle;
};

MutexHandle* OpenMutexHandle(const char* name, int& error) noexcept {
  error = 0;
  const bool named = name != nullptr && *name != '\0';
  // No initial owner and default security. For an existing name this opens that mutex
  // (GetLastError then says ERROR_ALREADY_EXISTS, which is no failure here).
  const HANDLE handle = ::CreateMutexA(nullptr, FALSE, named ? name : nullptr);
  if (handle == nullptr) {
    error = static_cast<int>(::GetLastError());
    return nullptr;
  }
  auto* mutex = new (std::nothrow) MutexHandle{handle};
  if (mutex == nullptr) {
    error = ERROR_NOT_ENOUGH_MEMORY;
    ::CloseHandle(handle);
  }
  return mutex;
}

MutexLockResult LockMutex(MutexHandle& mutex, long timeoutMs) noexcept {
  const DWORD wait = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
  switch (::WaitForSingleObject(mutex.handle, wait)) {
  case WAIT_OBJECT_0:
  case WAIT_ABANDONED: // the owner ended holding it: the mutex is now the caller's
    return MutexLockResult::acquired;
  case WAIT_TIMEOUT:
    return MutexLockResult::timedOut;
  default:
    return MutexLockResult::failed;
  }
}

void UnlockMutex(MutexHandle& mutex) noexcept {
  // Fails with ERROR_NOT_OWNER, changing nothing, when the calling thread holds none.
  ::ReleaseMutex(mutex.handle);
}

int CloseMutex(MutexHandle* mutex) noexcept {
  if (mutex == nullptr) {
    return 0;
  }
  // A handle closed while its thread still owns the mutex would leave it owned until that
  // thread ends; release every hold of the calling thread first.
  while (::ReleaseMutex(mutex->handle) != FALSE) {
  }
  const int error = ::CloseHandle(mutex->handle) != FALSE ? 0 : static_cast<int>(::GetLastError());
  delete mutex;
  return error;
}

} // namespace tavutil::platform
