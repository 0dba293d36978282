// tests/mutexsem_test.cpp: TMutexSemaphore and TMutexSemaphoreEntry between threads, unnamed
// and named, and named mutexes shared by processes, also with holders killed while they hold one.
// Licensed under the Apache License, Version 2.0.
#include <tavutil/mutexsem.h>

#include "helpers/named_objects.h"
#include "helpers/run_program.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

class TMutexSemaphoreThreaded : public NamedObjectTest {};
class TMutexSemaphoreProcesses : public NamedObjectTest {};

/// What a lock of `mutex` with time-out 0 gives on this thread; a lock taken is let go at once.
TMutexSemaphore::EState TryHere(TMutexSemaphore& mutex) {
  return TMutexSemaphoreEntry(mutex, 0).State();
}
/// What a child answers to "lock" for each state.
const std::string kChildLocked = std::to_string(kLocked);
const std::string kChildTimedOut = std::to_string(kTimedOut);

TEST_F(TMutexSemaphoreThreaded, LocksOnAMutexHeldElsewhereTimeOut) {
  UnscopedMutex unnamed;
  UnscopedMutex named(Unique("timeouts").c_str());
  for (UnscopedMutex* mutex : {&unnamed, &named}) {
    std::promise<void> held;
    std::promise<void> release;
    std::thread holder([&] {
      TMutexSemaphoreEntry entry(*mutex, kForever);
      held.set_value();
      release.get_future().wait();
    });
    held.get_future().wait();
    auto start = Clock::now();
    EXPECT_EQ(mutex->Lock(0), kTimedOut);
    EXPECT_LT(Clock::now() - start, 200ms) << "Lock(0) waited";
    start = Clock::now();
    EXPECT_EQ(TMutexSemaphoreEntry(*mutex, 150).State(), kTimedOut);
    EXPECT_GE(Clock::now() - start, 150ms) << "timed lock gave up early";
    EXPECT_EQ(TryElsewhere(*mutex), kTimedOut) << "an entry that timed out unlocked";
    release.set_value();
    holder.join();
  }
}

TEST_F(TMutexSemaphoreThreaded, HoldsAreCountedPerThreadAndEndWithIt) {
  const std::string name = Unique("holds");
  UnscopedMutex unnamed;
  UnscopedMutex named(name.c_str());
  for (UnscopedMutex* mutex : {&unnamed, &named}) {
    {
      TMutexSemaphoreEntry outer(*mutex, 0);
      ASSERT_EQ(outer.State(), kLocked);
      EXPECT_EQ(TMutexSemaphoreEntry(*mutex, 0).State(), kLocked);
      EXPECT_EQ(TryElsewhere(*mutex), kTimedOut) << "one unlock released two holds";
    }
    EXPECT_EQ(TryElsewhere(*mutex), kLocked);
    // A holder thread that ends leaves it to the next locker, without its count.
    std::thread([mutex] {
      mutex->Lock(kForever);
      mutex->Lock(kForever);
    }).join();
    EXPECT_EQ(mutex->Lock(0), kLocked);
    EXPECT_EQ(TryElsewhere(*mutex), kTimedOut);
    mutex->Unlock();
    EXPECT_EQ(TryElsewhere(*mutex), kLocked);
  }
  // Destroying a mutex ends the holds of its thread: another object of the name is free.
  auto doomed = std::make_unique<UnscopedMutex>(name.c_str());
  ASSERT_EQ(doomed->Lock(0), kLocked);
  ASSERT_EQ(doomed->Lock(0), kLocked);
  std::thread([&] { doomed->Unlock(); }).join(); // holds nothing, so changes nothing
  EXPECT_EQ(TryElsewhere(named), kTimedOut);
  doomed.reset();
  EXPECT_EQ(TryElsewhere(named), kLocked);
}

TEST_F(TMutexSemaphoreThreaded, EntriesKeepACounterExact) {
  UnscopedMutex unnamed;
  UnscopedMutex named(Unique("counter").c_str());
  for (UnscopedMutex* mutex : {&unnamed, &named}) {
    int counter = 0; // plain on purpose: only the mutex orders the threads
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([&, t] {
        for (int done = 0; done < 5000;) {
          TMutexSemaphoreEntry entry(*mutex, t % 2 == 0 ? kForever : 1000);
          if (entry.State() != kLocked) {
            continue; // a timed entry may give up on a busy machine: it then holds nothing
          }
          const int seen = counter;
          std::this_thread::yield();
          counter = seen + 1;
          ++done;
        }
      });
    }
    for (std::thread& thread : threads) {
      thread.join();
    }
    EXPECT_EQ(counter, 4 * 5000);
  }
}

TEST_F(TMutexSemaphoreProcesses, NamedMutexExcludesOtherProcessesUnnamedDoesNot) {
  const std::string name = Unique("exclusion");
  TMutexSemaphore mine(name.c_str());
  ChildProcess holder(Helper("ipc_helper"));
  ChildProcess other(Helper("ipc_helper"));
  ASSERT_EQ(holder.Ask("mutex " + name), "ok");
  ASSERT_EQ(other.Ask("mutex " + name), "ok");
  ASSERT_EQ(holder.Ask("lock 0"), kChildLocked);
  EXPECT_EQ(holder.Ask("lock 0"), kChildLocked); // recursive for its holder
  EXPECT_EQ(TryHere(mine), kTimedOut);
  EXPECT_EQ(other.Ask("lock 50"), kChildTimedOut);
  ASSERT_EQ(holder.Ask("unlock"), "ok");
  EXPECT_EQ(other.Ask("lock 0"), kChildTimedOut); // one hold is left
  ASSERT_EQ(holder.Ask("unlock"), "ok");
  std::optional<TMutexSemaphoreEntry> held(std::in_place, mine, 0);
  ASSERT_EQ(held->State(), kLocked);
  // A process that waits without limit is woken when the holder lets go, and when it is killed.
  ASSERT_TRUE(holder.Send("lock -1"));
  EXPECT_EQ(holder.Read(200), "<none>");
  held.reset();
  EXPECT_EQ(holder.Read(), kChildLocked);
  ASSERT_TRUE(other.Send("lock -1"));
  EXPECT_EQ(other.Read(200), "<none>");
  holder.Kill();
  EXPECT_EQ(other.Read(), kChildLocked);
  EXPECT_EQ(TryHere(mine), kTimedOut);
  ASSERT_EQ(other.Ask("unlock"), "ok");

  // Unnamed mutexes of two processes are two mutexes.
  for (const char* unnamed : {static_cast<const char*>(nullptr), ""}) {
    TMutexSemaphore privateMutex(unnamed);
    const TMutexSemaphoreEntry entry(privateMutex, 0);
    ASSERT_EQ(entry.State(), kLocked);
    ASSERT_EQ(other.Ask("mutex -"), "ok");
    EXPECT_EQ(other.Ask("lock 0"), kChildLocked);
  }
  EXPECT_EQ(other.Finish(), 0);
}

TEST_F(TMutexSemaphoreProcesses, AHolderKilledLeavesItLockedToTheNextLocker) {
  const std::string name = Unique("killed");
  TMutexSemaphore mine(name.c_str());
  {
    ChildProcess victim(Helper("ipc_helper"));
    ASSERT_EQ(victim.Ask("mutex " + name), "ok");
    ASSERT_EQ(victim.Ask("lock -1"), kChildLocked);
    ASSERT_EQ(victim.Ask("lock -1"), kChildLocked); // two holds, neither released
    EXPECT_EQ(TryHere(mine), kTimedOut);
  } // killed, holding it
  std::optional<TMutexSemaphoreEntry> held(std::in_place, mine, 5000);
  ASSERT_EQ(held->State(), kLocked);
  // The lock is real, and consistent again: one unlock hands it to the next process.
  ChildProcess next(Helper("ipc_helper"));
  ASSERT_EQ(next.Ask("mutex " + name), "ok");
  EXPECT_EQ(next.Ask("lock 0"), kChildTimedOut);
  held.reset();
  EXPECT_EQ(next.Ask("lock 0"), kChildLocked);
  EXPECT_EQ(TryHere(mine), kTimedOut);
  EXPECT_EQ(next.Finish(), 0);
}

} // namespace
