// tests/thread_test.cpp: TSemaphore and TThread, also under ThreadSanitizer.
// Licensed under the Apache License, Version 2.0.
#include <tavutil/exception.h>
#include <tavutil/thread.h>

#include "helpers/trace_entry.h"
#include "test_platform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

/// Where the thread family's diagnostics come from.
const TraceSource kThread{TUtilityTraceCategory::Utility, "utility/THREAD"};

/// Posts `semaphore` from another thread after `delayMs`.
std::thread PostLater(TSemaphore& semaphore, int delayMs) {
  return std::thread([&semaphore, delayMs] {
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    semaphore.Post();
  });
}

// ---------------------------------------------------------------- TSemaphore ----

TEST(TSemaphoreThreaded, CountsAtMostOneAndAFullPostFailsWithATrace) {
  TRecording trace;
  TSemaphore semaphore(1);
  EXPECT_EQ(semaphore.Wait(0), 0);
  EXPECT_EQ(semaphore.Wait(0), 1);
  EXPECT_EQ(semaphore.Post(), 0);
  EXPECT_EQ(semaphore.Post(), 1);
  EXPECT_EQ(semaphore.Clear(), 0);
  EXPECT_EQ(semaphore.Clear(), 1); // already 0: stays 0
  EXPECT_EQ(semaphore.Wait(0), 1);
  char text[64];
  std::snprintf(text, sizeof text, "Unable to post semaphore, error=x%08X", kTooManyPostsError);
  ExpectEntries(trace, kThread, {{0x4, 155, text}});
}

TEST(TSemaphoreThreaded, WaitsTimeOutOrTakeALatePost) {
  TSemaphore semaphore;
  const auto start = Clock::now();
  EXPECT_EQ(semaphore.Wait(50), 1);
  EXPECT_GE(Clock::now() - start, 50ms);

  std::thread poster = PostLater(semaphore, 30);
  EXPECT_EQ(semaphore.Wait(-1), 0);
  poster.join();
  poster = PostLater(semaphore, 30);
  EXPECT_EQ(semaphore.Wait(60000), 0);
  poster.join();

  semaphore.Post(); // ClearAndWait drops this one and waits for the next
  const auto cleared = Clock::now();
  poster = PostLater(semaphore, 40);
  EXPECT_EQ(semaphore.ClearAndWait(), 0);
  EXPECT_GE(Clock::now() - cleared, 40ms);
  poster.join();
}

TEST(TSemaphoreThreaded, PingPongHandsDataBackAndForth) {
  TSemaphore ping;
  TSemaphore pong;
  int shared = 0; // written in turn; only the semaphores order the writes
  std::thread partner([&] {
    for (int i = 0; i < 1000 && ping.Wait(-1) == 0; ++i, pong.Post()) {
      ++shared;
    }
  });
  for (int i = 0; i < 1000 && ping.Post() == 0 && pong.Wait(-1) == 0; ++i) {
    ++shared;
  }
  partner.join();
  EXPECT_EQ(shared, 2000);
}

// ------------------------------------------------------------------- TThread ----

/// A thread whose work is given as a function; it posts `destroyed` (if any) when it dies.
class TJob : public TThread {
public:
  explicit TJob(std::function<int()> work, TSemaphore* destroyed = nullptr)
      : fWork(std::move(work)), fDestroyed(destroyed) {}
  ~TJob() override {
    if (fDestroyed != nullptr) {
      fDestroyed->Post();
    }
  }
  int Run() override { return fWork(); }

private:
  std::function<int()> fWork;
  TSemaphore* fDestroyed;
};

TEST(TThreadThreaded, EscapingExceptionsBecomeMinusOneAndATrace) {
  TRecording trace;
  TAccessError error("disk full", 3, TException::recoverable);
  error.setErrorCodeGroup("Jobs").addLocation(TExceptionLocation("job.cpp", "Run", 12));
  const std::function<int()> throwers[] = {[&]() -> int { throw error; },
                                           []() -> int { throw 42; }};
  for (const auto& work : throwers) {
    TReference<TJob> job(new TJob(work));
    ASSERT_EQ(job->Start(), 0);
    job->WaitForTermination(-1);
    EXPECT_EQ(job->QueryResult(), -1);
  }
  const std::string report(TTraceException::FormatException(error));
  ExpectEntries(trace, kThread,
                {{0x2, 243, "Caught: " + report}, {0x2, 246, "Caught unknown exception"}});
}

TEST(TThreadThreaded, StartReturnsOnceTheThreadRunsAndTheWaitCanTimeOut) {
  TSemaphore gate;
  TReference<TJob> job(new TJob([&] { return gate.Wait(-1); }));
  ASSERT_EQ(job->Start(), 0);
  EXPECT_EQ(job->IsRunning(), 1);
  const auto start = Clock::now();
  job->WaitForTermination(50);
  EXPECT_GE(Clock::now() - start, 50ms);
  EXPECT_EQ(job->IsRunning(), 1);
  EXPECT_EQ(job->IsFinished(), 0);

  TRecording trace;
  EXPECT_EQ(job->Start(), 1); // one run at a time
  ExpectEntries(trace, kThread, {{0x4, 282, "Unable to start thread"}});
  gate.Post();
  job->WaitForTermination(-1);
  EXPECT_EQ(job->QueryResult(), 0);
  EXPECT_EQ(job->IsRunning(), 0);
}

TEST(TThreadThreaded, TheThreadKeepsItsObjectAliveAndDeletesItLast) {
  TSemaphore destroyed;
  TSemaphore gate;
  std::atomic<int> runs{0};
  {
    TReference<TJob> job(new TJob(
        [&] {
          ++runs;
          return gate.Wait(-1);
        },
        &destroyed));
    ASSERT_EQ(job->Start(), 0);
  } // the caller's last reference goes while Run waits
  EXPECT_EQ(destroyed.Wait(0), 1);
  gate.Post();
  EXPECT_EQ(destroyed.Wait(60000), 0);

  // An object nobody ever held is deleted when its thread ends.
  ASSERT_EQ((new TJob([&] { return ++runs; }, &destroyed))->Start(), 0);
  EXPECT_EQ(destroyed.Wait(60000), 0);
  EXPECT_EQ(runs, 2);
}

TEST(TThreadThreaded, AHundredThreadsRunRestartAndKeepTheirResults) {
  std::atomic<int> runs{0};
  std::vector<TReference<TJob>> jobs;
  for (int i = 0; i < 100; ++i) {
    jobs.emplace_back(new TJob([&runs, i] {
      ++runs;
      return i;
    }));
    EXPECT_EQ(jobs.back()->QueryResult(), -1);
    jobs.back()->WaitForTermination(-1); // never started: returns at once
    ASSERT_EQ(jobs.back()->Start(), 0) << i;
  }
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < 100; ++i) {
      jobs[i]->WaitForTermination(-1);
      EXPECT_EQ(jobs[i]->QueryResult(), i);
      EXPECT_TRUE(jobs[i]->IsRunning() == 0 && jobs[i]->IsFinished() == 1);
      if (round == 0) {
        ASSERT_EQ(jobs[i]->Start(), 0) << "restart " << i;
      }
    }
  }
  EXPECT_EQ(runs, 200);
}

TEST(TThreadThreaded, StackSizeIsHonouredAndRaisedToTheMinimum) {
  constexpr unsigned long kLarge = 48ul << 20; // above any default stack
  std::atomic<std::size_t> seen{0};
  TReference<TJob> job(new TJob([&] {
    seen = OwnStackSize();
    return 0;
  }));
  job->SetStackSize(kLarge + 1);
  ASSERT_EQ(job->Start(), 0);
  job->WaitForTermination(-1);
  EXPECT_GT(seen.load(), kLarge);
  // The system refuses a stack below its minimum: the start succeeds only when raised to it.
  job->SetStackSize(1);
  ASSERT_EQ(job->Start(), 0);
  job->WaitForTermination(-1);
}

TEST(TThreadThreaded, AStackTheSystemCannotGiveFailsTheStartWithATrace) {
  if (kUngivableStackSize == 0) {
    GTEST_SKIP() << kNoUngivableStackReason;
  }
  TReference<TJob> job(new TJob([] { return 0; }));
  TRecording trace;
  job->SetStackSize(kUngivableStackSize);
  EXPECT_EQ(job->Start(), 1);
  EXPECT_EQ(job->IsRunning(), 0);
  ExpectEntries(trace, kThread, {{0x4, 282, "Unable to start thread"}});
}

TEST(TThreadThreaded, AThreadThatExitsFromRunStillFinishes) {
  if (kNoThreadExitReason != nullptr) {
    GTEST_SKIP() << kNoThreadExitReason;
  }
  TReference<TJob> job(new TJob([]() -> int { ExitThisThread(); }));
  ASSERT_EQ(job->Start(), 0);
  job->WaitForTermination(-1);
  EXPECT_EQ(job->IsRunning(), 0);
  EXPECT_EQ(job->QueryResult(), -1);
}

} // namespace
