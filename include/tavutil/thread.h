// tavutil/thread.h: TSemaphore, a binary semaphore, and TThread, a reference-counted thread.
// Licensed under the Apache License, Version 2.0.
//
// The only way the library starts a thread. Both classes report every failure as a result
// code and a trace entry (category Utility); an exception that escapes a thread's work becomes
// the result -1 and a trace entry with the exception's report.
#ifndef TAVUTIL_THREAD_H
#define TAVUTIL_THREAD_H

#include <atomic>
#include <tavutil/config.h>
#include <tavutil/trefcnt.h>

namespace tavutil::platform {
struct SemaphoreHandle;
} // namespace tavutil::platform

/// A binary semaphore: a count of 0 or 1, taken by Wait and given by Post.
///
///   TReference<TSemaphore> ready(new TSemaphore);
///   // producer:  ready->Post();
///   // consumer:  if (ready->Wait(500) == 0) { /* posted within half a second */ }
///
/// Time-outs are measured on a monotonic clock, so setting the system time neither ends a wait
/// early nor stretches it. Failures are traced at level 0x4 and given as results. Any thread
/// may use a semaphore; it must outlive every wait on it.
class TAVUTIL_API TSemaphore : public TRefCounted {
public:
  /// A semaphore with count 1 when `initial` is non-zero, else 0. When the system's semaphore
  /// cannot be made the failure is traced and every Wait and Post fails. Throws nothing.
  explicit TSemaphore(int initial = 0) noexcept;
  /// Destroys the system's semaphore; no thread may still be waiting on it. Throws nothing.
  ~TSemaphore() override;
  TSemaphore(const TSemaphore&) = delete;
  TSemaphore& operator=(const TSemaphore&) = delete;

  /// Waits up to `timeout` milliseconds (0: only looks; -1 or any negative value: for ever)
  /// for the count to be 1 and takes it. Gives 0 when taken, 1 on time-out, -1 on any other
  /// outcome (traced), also when there is no system semaphore. Throws nothing.
  int Wait(long timeout) noexcept;
  /// Raises the count to 1. Gives 0, or 1 (traced) when the count is 1 already, the maximum,
  /// or the post failed. Throws nothing.
  int Post() noexcept;
  /// Wait(0): takes the count when it is 1, so that it is 0 afterwards; gives Wait's result.
  /// Throws nothing.
  int Clear() noexcept;
  /// Clear(), then Wait(-1); gives the second result. Throws nothing.
  int ClearAndWait() noexcept;

private:
  friend class TThread;
  /// Post() for a signal whose count may already be 1, which is then no failure and is not
  /// traced. Gives 0 when posted, else 1.
  int PostSignal() noexcept;

  tavutil::platform::SemaphoreHandle* fHandle; ///< null when it could not be made
};

/// A thread of work: derive, put the work in Run, and Start it.
///
///   class TCopyJob : public TThread {
///     int Run() override { return CopyFiles() ? 0 : 1; }
///   };
///   TReference<TCopyJob> job(new TCopyJob);
///   if (job->Start() == 0) {
///     job->WaitForTermination(-1);   // job->QueryResult() is Run's result
///   }
///
/// The thread holds its own reference to the object, so the object lives until the thread has
/// ended even when the caller drops its last reference right after Start; an object that
/// nobody else holds is deleted by its thread when it ends, so thread objects must be made
/// with `new`. An exception that escapes Run is traced at level 0x2 ("Caught: " and the
/// exception's report, or "Caught unknown exception") and gives the result -1. One thread runs
/// per object at a time; Start may be called again once it has finished.
class TAVUTIL_API TThread : public TRefCounted {
public:
  /// A thread object that has not run: not running, not finished, result -1, default stack.
  /// Throws nothing; without memory for its signal semaphore every Start fails.
  TThread() noexcept;
  /// Releases the signal semaphore. Throws nothing.
  ~TThread() override;
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  /// The work of the thread; its result becomes the thread's result. Throws what the
  /// implementation throws, which MainThread catches and traces.
  virtual int Run() = 0;

  /// The stack size in bytes that the next Start uses; 0 (the default) is the system's
  /// default, and a size below the system's minimum is raised to it. Throws nothing.
  void SetStackSize(unsigned long stackSize) noexcept { fStackSize = stackSize; }
  /// Starts the thread and returns once it runs. Gives 0 on success; 1 (traced "Unable to
  /// start thread") when no thread could be started or a previous run is still going.
  /// Throws nothing.
  int Start() noexcept;
  /// What the new thread runs: marks the object running, runs Run under a handler, marks it
  /// finished and wakes a waiter. Gives Run's result, or -1 when Run threw. Throws nothing
  /// (a thread that ends itself inside Run unwinds through it).
  int MainThread();
  /// Waits at most `timeout` milliseconds (-1: for ever) for a running thread to finish;
  /// returns at once when none is running. One caller at a time, after Start has returned.
  /// Throws nothing.
  void WaitForTermination(long timeout) noexcept;
  /// 1 from the moment the thread begins until its work has ended. Throws nothing.
  int IsRunning() const noexcept { return fRunning.load(std::memory_order_acquire); }
  /// 1 once the last run's work has ended (0 again when Start is called). Throws nothing.
  int IsFinished() const noexcept { return fFinished.load(std::memory_order_acquire); }
  /// The result of the last finished run: Run's value, or -1 when it threw; -1 before.
  /// Throws nothing.
  int QueryResult() const noexcept { return fResult.load(std::memory_order_acquire); }

private:
  TReference<TSemaphore> fSignal; ///< "has begun" for Start, then "has ended" for waiters
  std::atomic<int> fFinished;
  std::atomic<int> fRunning;
  std::atomic<int> fResult;
  unsigned long fStackSize;
};

#endif // TAVUTIL_THREAD_H
