// utility/mutexsem.cpp: TMutexSemaphore and its failure trace points.
// Licensed under the Apache License, Version 2.0.
//
// Operating-system independent: the mutex itself is the platform's (platform/platform.h).
#include <tavutil/mutexsem.h>
#include <tavutil/trace.h>

#include "internal/raise.h"
#include "internal/tracepoint.h"
#include "platform/platform.h"

#include <cstring>
#include <new>

namespace {

using tavutil::detail::SourceLine;

constexpr char kSource[] = "utility/MUTEXSEM";
constexpr char kUnnamed[] = "unnamed";
/// Both trace points are errors (level 4) under the Utility category.
constexpr unsigned long kTraceLevel = 0x4;
constexpr char kCreateFailed[] = "Error %d from CreateMutex(%s)"; // fixed: on every platform
constexpr char kCloseFailed[] = "Error %d from CloseHandle(%s)";  // fixed: on every platform
constexpr unsigned long kLineCreateFailed = 71;
constexpr unsigned long kLineCloseFailed = 103; // fixed: a quoted line, not this file's

/// Traces a failure of the system's mutex with the error code (unsigned) and the mutex name.
/// A mutex never throws: a trace entry that cannot be built is dropped.
void ReportFailure(const char* text, unsigned long line, int errorCode, const char* name) noexcept {
  tavutil::detail::TracePointNoThrow(kTraceLevel, TUtilityTraceCategory::Utility,
                                     SourceLine{kSource, line}, text,
                                     static_cast<unsigned long>(static_cast<unsigned>(errorCode)),
                                     name != nullptr ? name : kUnnamed);
}

} // namespace

TMutexSemaphore::TMutexSemaphore(const char* name) noexcept : fHandle(nullptr) {
  if (name != nullptr) {
    const std::size_t length = std::strlen(name);
    fName.reset(new (std::nothrow) char[length + 1]);
    if (fName == nullptr) {
      ReportFailure(kCreateFailed, kLineCreateFailed, tavutil::platform::kErrorNoMemory, name);
      return;
    }
    std::memcpy(fName.get(), name, length + 1);
  }
  int error = 0;
  fHandle = tavutil::platform::OpenMutexHandle(fName.get(), error);
  if (fHandle == nullptr) {
    ReportFailure(kCreateFailed, kLineCreateFailed, error, fName.get());
  }
}

TMutexSemaphore::~TMutexSemaphore() {
  if (fHandle != nullptr) {
    const int error = tavutil::platform::CloseMutex(fHandle);
    if (error != 0) {
      ReportFailure(kCloseFailed, kLineCloseFailed, error, fName.get());
    }
  }
}

TMutexSemaphore::EState TMutexSemaphore::Lock(long timeout) noexcept {
  if (fHandle == nullptr) {
    return failed;
  }
  switch (tavutil::platform::LockMutex(*fHandle, timeout)) {
  case tavutil::platform::MutexLockResult::acquired:
    return locked;
  case tavutil::platform::MutexLockResult::timedOut:
    return timedOut;
  default:
    return failed;
  }
}

void TMutexSemaphore::Unlock() noexcept {
  if (fHandle != nullptr) {
    tavutil::platform::UnlockMutex(*fHandle);
  }
}
