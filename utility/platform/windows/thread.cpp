// utility/platform/windows/thread.cpp: threads (_beginthreadex) and binary semaphores
// (CreateSemaphoreA, maximum count 1) for Windows.
// Licensed under the Apache License, Version 2.0.
//
// The waits of WaitForSingleObject run on the system's interrupt time, which a change of the
// wall clock does not move: a time-out neither ends early nor stretches.
#include "platform/platform.h"
#include "platform/windows/win32.h"

#include <memory>
#include <new>
#include <process.h>

namespace tavutil::platform {

// ----------------------------------------------------------------- threads ----

namespace {

/// What the new thread needs; made by StartThread, freed by the thread.
struct ThreadStart {
  ThreadEntry entry;
  void* argument;
};

unsigned __stdcall RunThread(void* start) {
  const std::unique_ptr<ThreadStart> owned(static_cast<ThreadStart*>(start));
  owned->entry(owned->argument);
  return 0;
}

} // namespace

bool StartThread(ThreadEntry entry, void* argument, std::size_t stackSize, int& error) noexcept {
  error = 0;
  std::unique_ptr<ThreadStart> start(new (std::nothrow) ThreadStart{entry, argument});
  if (start == nullptr) {
    error = ERROR_NOT_ENOUGH_MEMORY;
    return false;
  }
  if (stackSize > 0xFFFFFFFFu) {
    error = ERROR_INVALID_PARAMETER;
    return false;
  }
  // STACK_SIZE_PARAM_IS_A_RESERVATION: the size reserves address space, as a pthread stack
  // size does; the system rounds it up to its granularity and its minimum.
  ::SetLastError(0);
  const std::uintptr_t thread =
      ::_beginthreadex(nullptr, static_cast<unsigned>(stackSize), RunThread, start.get(),
                       stackSize != 0 ? STACK_SIZE_PARAM_IS_A_RESERVATION : 0, nullptr);
  if (thread == 0) {
    const DWORD failure = ::GetLastError();
    error = failure != 0 ? static_cast<int>(failure) : ERROR_NOT_ENOUGH_MEMORY;
    return false;
  }
  static_cast<void>(start.release()); // the thread owns it now
  // Detached: nobody joins it, and its handle is not needed.
  ::CloseHandle(reinterpret_cast<HANDLE>(thread));
  return true;
}

// -------------------------------------------------------------- semaphores ----

struct SemaphoreHandle {
  HANDLE handle;
};

SemaphoreHandle* NewSemaphore(bool initial, int& error) noexcept {
  error = 0;
  HANDLE handle = ::CreateSemaphoreA(nullptr, initial ? 1 : 0, 1, nullptr);
  if (handle == nullptr) {
    error = static_cast<int>(::GetLastError());
    return nullptr;
  }
  auto* semaphore = new (std::nothrow) SemaphoreHandle{handle};
  if (semaphore == nullptr) {
    ::CloseHandle(handle);
    error = ERROR_NOT_ENOUGH_MEMORY;
  }
  return semaphore;
}

SemaphoreWaitResult WaitSemaphore(SemaphoreHandle& semaphore, long timeoutMs, int& code,
                                  int& error) noexcept {
  code = 0;
  error = 0;
  // A long holds at most 2^31 - 1 here, always below INFINITE.
  const DWORD timeout = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
  const DWORD result = ::WaitForSingleObject(semaphore.handle, timeout);
  switch (result) {
  case WAIT_OBJECT_0:
    return SemaphoreWaitResult::acquired;
  case WAIT_TIMEOUT:
    return SemaphoreWaitResult::timedOut;
  case WAIT_ABANDONED:
    return SemaphoreWaitResult::abandoned;
  default:
    code = static_cast<int>(result);
    error = static_cast<int>(::GetLastError());
    return SemaphoreWaitResult::failed;
  }
}

SemaphorePostResult PostSemaphore(SemaphoreHandle& semaphore, int& error) noexcept {
  error = 0;
  if (::ReleaseSemaphore(semaphore.handle, 1, nullptr)) {
    return SemaphorePostResult::posted;
  }
  error = static_cast<int>(::GetLastError());
  return error == ERROR_TOO_MANY_POSTS ? SemaphorePostResult::full : SemaphorePostResult::failed;
}

int CloseSemaphore(SemaphoreHandle* semaphore) noexcept {
  if (semaphore == nullptr) {
    return 0;
  }
  const std::unique_ptr<SemaphoreHandle> owned(semaphore);
  return ::CloseHandle(owned->handle) ? 0 : static_cast<int>(::GetLastError());
}

// ---------------------------------------------------------- thread-end slots ----

// Not offered: a fiber-local slot's callback would also run, for every thread, on the thread
// that frees the slot when the library unloads, which would free buffers other threads use.
struct ThreadSlot {};

ThreadSlot* NewThreadSlot(void (* /*release*/)(void* value)) noexcept {
  return nullptr;
}

bool SetThreadSlot(ThreadSlot& /*slot*/, void* /*value*/) noexcept {
  return false;
}

void DeleteThreadSlot(ThreadSlot* /*slot*/) noexcept {}

} // namespace tavutil::platform
