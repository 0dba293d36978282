// tests/mutexsem_test.cpp: TMutexSemaphore and TMutexSemaphoreEntry between threads, unnamed
// and named.
// Licensed under the Apache License, Version 2.0.
#include <tavutil/mutexsem.h>

#include "open_mutex.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kLocked = TMutexSemaphore::locked;
constexpr auto kTimedOut = TMutexSemaphore::timedOut;
constexpr long kForever = TMutexSemaphore::fsInfinite;

/// Gives each test mutex a name no other test process uses.
class TMutexSemaphoreThreaded : public ::testing::Test {
protected:
  static std::string Unique(const std::string& tag) {
    static const std::string process = std::to_string(std::random_device{}());
    static int counter = 0;
    return "tavutil-test." + process + "." + std::to_string(++counter) + "." + tag;
  }
};

TEST_F(TMutexSemaphoreThreaded, LocksOnAMutexHeldElsewhereTimeOut) {
  OpenMutex unnamed;
  OpenMutex named(Unique("timeouts").c_str());
  for (OpenMutex* mutex : {&unnamed, &named}) {
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
  OpenMutex unnamed;
  OpenMutex named(name.c_str());
  for (OpenMutex* mutex : {&unnamed, &named}) {
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
  auto doomed = std::make_unique<OpenMutex>(name.c_str());
  ASSERT_EQ(doomed->Lock(0), kLocked);
  ASSERT_EQ(doomed->Lock(0), kLocked);
  std::thread([&] { doomed->Unlock(); }).join(); // holds nothing, so changes nothing
  EXPECT_EQ(TryElsewhere(named), kTimedOut);
  doomed.reset();
  EXPECT_EQ(TryElsewhere(named), kLocked);
}

TEST_F(TMutexSemaphoreThreaded, EntriesKeepACounterExact) {
  OpenMutex unnamed;
  OpenMutex named(Unique("counter").c_str());
  for (OpenMutex* mutex : {&unnamed, &named}) {
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

} // namespace
