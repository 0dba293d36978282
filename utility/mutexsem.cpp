// utility/mutexsem.cpp: TMutexSemaphore and its failure trace points.
// Licensed under the Apache License, Version 2.0.
//
// Operating-system independent: the mutex itself is the platform's (platform/platform.h).
#include <tavutil/mutexsem.h>
#include <tavutil/trace.h>

#include "internal/raise.h"
#include "platform/platform.h"

#include <cerrno>
#include <cstring>
#include <new>

namespace {

using tavutil::detail::SourceLine;

constexpr char kSource[] = "utility/MUTEXSEM";
constexpr char kUnnamed[] = "unnamed";
/// Both trace points are errors of the Utility component, under the Utility category.
constexpr unsigned long kTraceLevel = 0x4;
constexpr unsigned long kTraceComponent = 0x1;

/// A fixed trace point: its text and where it says it is.
struct TracePoint {
  const char* text;
  SourceLine where;
};

constexpr TracePoint kCreateFailed{"Error %d from CreateMutex(%s)", {kSource, 71}};
constexpr TracePoint kCloseFailed{"Error %d from CloseHandle(%s)", {kSource, 103}};

/// Traces a failure of the system's mutex: `point`'s text with the error code (unsigned
/// integer) and the mutex name, at level 4 under TUtilityTraceCategory::Utility.
void ReportFailure(const TracePoint& point, int errorCode, const char* name) noexcept {
  if (!TTrace::IsGlobalTracing(kTraceLevel, kTraceComponent)) {
    return;
  }
  // Not written yet: the entry needs the message and trace-state classes, which do not exist
  // yet. Writing it is one TTrace::Base::WriteEntry call with these values.
  static_cast<void>(point);
  static_cast<void>(errorCode);
  static_cast<void>(name);
}

/// "Error %d from CreateMutex(%s)", line 71.
void ReportCreateFailure(int errorCode, const char* name) noexcept {
  ReportFailure(kCreateFailed, errorCode, name != nullptr ? name : kUnnamed);
}

/// "Error %d from CloseHandle(%s)", line 103.
void ReportCloseFailure(int errorCode, const char* name) noexcept {
  ReportFailure(kCloseFailed, errorCode, name != nullptr ? name : kUnnamed);
}

} // namespace

TMutexSemaphore::TMutexSemaphore(const char* name) : fHandle(nullptr) {
  if (name != nullptr) {
    const std::size_t length = std::strlen(name);
    fName.reset(new (std::nothrow) char[length + 1]);
    if (fName == nullptr) {
      ReportCreateFailure(ENOMEM, name);
      return;
    }
    std::memcpy(fName.get(), name, length + 1);
  }
  int error = 0;
  fHandle = tavutil::platform::OpenMutex(fName.get(), error);
  if (fHandle == nullptr) {
    ReportCreateFailure(error, fName.get());
  }
}

TMutexSemaphore::~TMutexSemaphore() {
  if (fHandle != nullptr) {
    const int error = tavutil::platform::CloseMutex(fHandle);
    if (error != 0) {
      ReportCloseFailure(error, fName.get());
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
