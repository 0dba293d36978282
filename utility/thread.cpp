// utility/thread.cpp: TSemaphore and TThread, and their failure trace points.
// Licensed under the Apache License, Version 2.0.
//
// Operating-system independent: the thread start, the semaphore and its clock are the
// platform's (platform/platform.h). Start and the new thread meet only through the signal
// semaphore and the atomic flags.
#include <tavutil/exception.h>
#include <tavutil/thread.h>
#include <tavutil/trace.h>

#include "internal/raise.h"
#include "internal/tracepoint.h"
#include "platform/platform.h"

#include <new>

#if defined(__GLIBCXX__)
#include <cxxabi.h>
#endif

namespace {

using tavutil::detail::SourceLine;
using tavutil::detail::TracePointNoThrow;

constexpr char kSource[] = "utility/THREAD";
/// Failures of the system's semaphore and thread start are errors (level 0x4); exceptions
/// caught from a thread's work are level 0x2.
constexpr unsigned long kFailureLevel = 0x4;
constexpr unsigned long kCaughtLevel = 0x2;

constexpr char kCreateFailed[] = "Unable to create semaphore, error=x%08X";
constexpr unsigned long kLineCreateFailed = 56;
constexpr char kWaitAbandoned[] = "Wait for semaphore abandoned";
constexpr unsigned long kLineWaitAbandoned = 101;
constexpr char kWaitFailed[] = "Unable to wait for semaphore, return=x%08X, error=x%08X";
constexpr unsigned long kLineWaitFailed = 105;
constexpr char kPostFailed[] = "Unable to post semaphore, error=x%08X";
constexpr unsigned long kLinePostFailed = 155;
constexpr char kCaught[] = "Caught: %s";
constexpr unsigned long kLineCaught = 243;
constexpr char kCaughtUnknown[] = "Caught unknown exception";
constexpr unsigned long kLineCaughtUnknown = 246; // fixed: a quoted line, not this file's
constexpr char kStartFailed[] = "Unable to start thread";
constexpr unsigned long kLineStartFailed = 282; // fixed: a quoted line, not this file's

/// A system code as the trace shows it: an unsigned 32-bit value.
unsigned long Code(int code) noexcept {
  return static_cast<unsigned>(code);
}

/// Writes a failure entry of the semaphore or thread code, under the Utility category.
template <class... Arguments>
void ReportFailure(unsigned long line, const char* format, const Arguments&... arguments) noexcept {
  TracePointNoThrow(kFailureLevel, TUtilityTraceCategory::Utility, SourceLine{kSource, line},
                    format, arguments...);
}

} // namespace

// -------------------------------------------------------------- semaphore ----

TSemaphore::TSemaphore(int initial) noexcept : fHandle(nullptr) {
  int error = 0;
  fHandle = tavutil::platform::NewSemaphore(initial != 0, error);
  if (fHandle == nullptr) {
    ReportFailure(kLineCreateFailed, kCreateFailed, Code(error));
  }
}

TSemaphore::~TSemaphore() {
  tavutil::platform::CloseSemaphore(fHandle);
}

int TSemaphore::Wait(long timeout) noexcept {
  if (fHandle == nullptr) {
    // No semaphore to wait on: reported as the system reports a wait on an invalid handle.
    ReportFailure(kLineWaitFailed, kWaitFailed, Code(-1), Code(tavutil::platform::kErrorBadHandle));
    return -1;
  }
  int code = 0;
  int error = 0;
  switch (tavutil::platform::WaitSemaphore(*fHandle, timeout, code, error)) {
  case tavutil::platform::SemaphoreWaitResult::acquired:
    return 0;
  case tavutil::platform::SemaphoreWaitResult::timedOut:
    return 1;
  case tavutil::platform::SemaphoreWaitResult::abandoned:
    ReportFailure(kLineWaitAbandoned, kWaitAbandoned);
    return -1;
  case tavutil::platform::SemaphoreWaitResult::failed:
  default:
    ReportFailure(kLineWaitFailed, kWaitFailed, Code(code), Code(error));
    return -1;
  }
}

int TSemaphore::Post() noexcept {
  int error = tavutil::platform::kErrorBadHandle;
  if (fHandle != nullptr && tavutil::platform::PostSemaphore(*fHandle, error) ==
                                tavutil::platform::SemaphorePostResult::posted) {
    return 0;
  }
  ReportFailure(kLinePostFailed, kPostFailed, Code(error));
  return 1;
}

int TSemaphore::PostSignal() noexcept {
  int error = tavutil::platform::kErrorBadHandle;
  const tavutil::platform::SemaphorePostResult result =
      fHandle != nullptr ? tavutil::platform::PostSemaphore(*fHandle, error)
                         : tavutil::platform::SemaphorePostResult::failed;
  switch (result) {
  case tavutil::platform::SemaphorePostResult::posted:
    return 0;
  case tavutil::platform::SemaphorePostResult::full:
    return 1;
  case tavutil::platform::SemaphorePostResult::failed:
  default:
    ReportFailure(kLinePostFailed, kPostFailed, Code(error));
    return 1;
  }
}

int TSemaphore::Clear() noexcept {
  return Wait(0);
}

int TSemaphore::ClearAndWait() noexcept {
  Clear();
  return Wait(-1);
}

// ----------------------------------------------------------------- thread ----

namespace {

/// The new thread's entry: the thread holds a reference to its object while it runs, so the
/// object outlives its work, and is deleted here when nobody else holds it. Not noexcept on
/// purpose: a thread that exits from inside Run unwinds through it.
void RunThreadObject(void* argument) {
  const TReference<TThread> self(static_cast<TThread*>(argument));
  self->MainThread();
}

/// Runs the thread's work; an exception that escapes it is traced and gives -1.
#if defined(__GLIBCXX__)
// A forced unwind carries no exception object, so its handler binds a null reference by
// design; the sanitizer's null check must not stop the unwinding there.
__attribute__((no_sanitize("null")))
#endif
int RunUnderHandler(TThread& thread) {
  try {
    return thread.Run();
  } catch (const TException& exception) {
    if (TTrace::IsGlobalTracing(kCaughtLevel, TUtilityTraceCategory::Utility.QueryComponent())) {
      try {
        tavutil::detail::TracePoint(kCaughtLevel, TUtilityTraceCategory::Utility,
                                    SourceLine{kSource, kLineCaught}, kCaught,
                                    TTraceException::FormatException(exception));
      } catch (...) {
        // The report could not be made: the entry is lost, the result is still -1.
      }
    }
#if defined(__GLIBCXX__)
  } catch (abi::__forced_unwind&) {
    // The thread is being cancelled or exits from inside Run: this must go on unwinding.
    throw;
#endif
  } catch (...) {
    TracePointNoThrow(kCaughtLevel, TUtilityTraceCategory::Utility,
                      SourceLine{kSource, kLineCaughtUnknown}, kCaughtUnknown);
  }
  return -1;
}

/// Runs a function when the scope ends, however it is left: also during a forced unwind (the
/// thread exiting from inside Run).
template <class Function> class AtScopeEnd {
public:
  explicit AtScopeEnd(Function function) noexcept : fFunction(function) {}
  AtScopeEnd(const AtScopeEnd&) = delete;
  AtScopeEnd& operator=(const AtScopeEnd&) = delete;
  ~AtScopeEnd() { fFunction(); }

private:
  Function fFunction;
};

} // namespace

TThread::TThread() noexcept
    : fSignal(new (std::nothrow) TSemaphore(0)), fFinished(0), fRunning(0), fResult(-1),
      fStackSize(0) {}

TThread::~TThread() = default;

int TThread::Start() noexcept {
  // The object may be deleted by its thread before Start returns (when nobody else holds
  // it): from the thread's start on, only this reference to the signal is used.
  const TReference<TSemaphore> signal = fSignal;
  if (signal.IsNull() || fRunning.load(std::memory_order_acquire) != 0) {
    ReportFailure(kLineStartFailed, kStartFailed);
    return 1;
  }
  fFinished.store(0, std::memory_order_release);
  signal->Clear();
  int error = 0;
  if (!tavutil::platform::StartThread(RunThreadObject, this, fStackSize, error)) {
    ReportFailure(kLineStartFailed, kStartFailed);
    return 1;
  }
  signal->Wait(-1);
  // A run that already ended may have posted again; its waiter sees the running flag clear.
  signal->Clear();
  return 0;
}

int TThread::MainThread() {
  TSemaphore* signal = fSignal.QueryPointer();
  fRunning.store(1, std::memory_order_release);
  if (signal != nullptr) {
    signal->PostSignal();
  }
  int result = -1;
  const AtScopeEnd end([this, signal, &result]() noexcept {
    fResult.store(result, std::memory_order_release);
    fFinished.store(1, std::memory_order_release);
    fRunning.store(0, std::memory_order_release);
    if (signal != nullptr) {
      // The signal may still hold the start's post when the work was quick; that post then
      // serves as this one.
      signal->PostSignal();
    }
  });
  result = RunUnderHandler(*this);
  return result;
}

void TThread::WaitForTermination(long timeout) noexcept {
  if (fRunning.load(std::memory_order_acquire) != 0 && !fSignal.IsNull()) {
    fSignal->Wait(timeout);
  }
}
