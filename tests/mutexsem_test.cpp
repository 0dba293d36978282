// tests/mutexsem_test.cpp: TMutexSemaphore and TMutexSemaphoreEntry between threads and
// between processes.
// Licensed under the Apache License, Version 2.0.
#include <tavutil/mutexsem.h>
#include <tavutil/sharedmemory.h>

#include "helpers/ipc_test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace {

using ipctest::ChildProcess;
using ipctest::IpcKind;
using ipctest::ShmExists;
using Clock = std::chrono::steady_clock;

constexpr auto kLocked = TMutexSemaphore::locked;
constexpr auto kTimedOut = TMutexSemaphore::timedOut;

/// A mutex whose lock and unlock the test may call without a scope.
class OpenMutex : public TMutexSemaphore {
public:
  using TMutexSemaphore::Lock;
  using TMutexSemaphore::TMutexSemaphore;
  using TMutexSemaphore::Unlock;
};

/// What Lock(0) gives on another thread, which lets go again at once.
TMutexSemaphore::EState TryElsewhere(OpenMutex& mutex) {
  TMutexSemaphore::EState state = TMutexSemaphore::failed;
  std::thread other([&] {
    state = mutex.Lock(0);
    if (state == kLocked) {
      mutex.Unlock();
    }
  });
  other.join();
  return state;
}

/// Holds a mutex on its own thread until released.
class Holder {
public:
  explicit Holder(OpenMutex& mutex)
      : fThread([this, &mutex] {
          TMutexSemaphoreEntry entry(mutex, TMutexSemaphore::fsInfinite);
          fState = entry.State();
          fHolding = true;
          while (!fRelease) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
          }
        }) {
    while (!fHolding) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  ~Holder() {
    fRelease = true;
    fThread.join();
  }
  Holder(const Holder&) = delete;
  Holder& operator=(const Holder&) = delete;
  TMutexSemaphore::EState State() const { return fState; }

private:
  std::atomic<bool> fHolding{false};
  std::atomic<bool> fRelease{false};
  std::atomic<TMutexSemaphore::EState> fState{TMutexSemaphore::failed};
  std::thread fThread;
};

long ElapsedMs(Clock::time_point since) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

class TMutexSemaphoreThreaded : public ipctest::IpcNames {};
class TMutexSemaphoreProcesses : public ipctest::IpcNames {};

TEST_F(TMutexSemaphoreThreaded, TimeOutsOnAMutexHeldElsewhere) {
  OpenMutex unnamed;
  OpenMutex named(Unique("timeouts").c_str());
  for (OpenMutex* mutex : {&unnamed, &named}) {
    EXPECT_EQ(TryElsewhere(*mutex), kLocked);
    Holder holder(*mutex);
    ASSERT_EQ(holder.State(), kLocked);

    auto start = Clock::now();
    EXPECT_EQ(mutex->Lock(0), kTimedOut);
    EXPECT_LT(ElapsedMs(start), 200) << "Lock(0) waited";

    start = Clock::now();
    {
      TMutexSemaphoreEntry entry(*mutex, 150);
      EXPECT_EQ(entry.State(), kTimedOut);
    }
    EXPECT_GE(ElapsedMs(start), 150) << "timed lock gave up early";
    // The entries that timed out ended without touching the holder's lock.
    EXPECT_EQ(TryElsewhere(*mutex), kTimedOut);
  }
}

TEST_F(TMutexSemaphoreThreaded, RecursiveHoldsNeedAsManyUnlocks) {
  const std::string name = Unique("recursive");
  OpenMutex unnamed;
  OpenMutex named(name.c_str());
  for (OpenMutex* mutex : {&unnamed, &named}) {
    {
      TMutexSemaphoreEntry outer(*mutex, 0);
      ASSERT_EQ(outer.State(), kLocked);
      {
        TMutexSemaphoreEntry inner(*mutex, 0);
        ASSERT_EQ(inner.State(), kLocked);
        EXPECT_EQ(TryElsewhere(*mutex), kTimedOut);
      }
      EXPECT_EQ(TryElsewhere(*mutex), kTimedOut) << "one unlock released two locks";
      mutex->Unlock(); // releases the outer hold early...
      mutex->Unlock(); // ...and this one, by a thread that holds nothing, does nothing
      EXPECT_EQ(TryElsewhere(*mutex), kLocked);
      ASSERT_EQ(mutex->Lock(0), kLocked); // taken again for the outer entry's end to release
      EXPECT_EQ(TryElsewhere(*mutex), kTimedOut);
    }
    EXPECT_EQ(TryElsewhere(*mutex), kLocked);
  }

  // Destroying a mutex ends the holds of its thread: another object of the name is free.
  auto doomed = std::make_unique<OpenMutex>(name.c_str());
  ASSERT_EQ(doomed->Lock(0), kLocked);
  ASSERT_EQ(doomed->Lock(0), kLocked);
  EXPECT_EQ(TryElsewhere(named), kTimedOut);
  doomed.reset();
  EXPECT_EQ(TryElsewhere(named), kLocked);
}

TEST_F(TMutexSemaphoreThreaded, HolderThreadThatEndsLeavesItToTheNextLocker) {
  OpenMutex unnamed;
  OpenMutex named(Unique("abandoned").c_str());
  for (OpenMutex* mutex : {&unnamed, &named}) {
    std::thread([mutex] {
      mutex->Lock(TMutexSemaphore::fsInfinite);
      mutex->Lock(TMutexSemaphore::fsInfinite); // ends holding it twice
    }).join();
    EXPECT_EQ(mutex->Lock(0), kLocked);
    EXPECT_EQ(TryElsewhere(*mutex), kTimedOut);
    EXPECT_EQ(mutex->Lock(0), kLocked);
    mutex->Unlock();
    mutex->Unlock();
    // The dead holder's count did not carry over: two unlocks freed it.
    EXPECT_EQ(TryElsewhere(*mutex), kLocked);
  }
}

TEST_F(TMutexSemaphoreThreaded, EntriesKeepACounterExact) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 5000;
  OpenMutex unnamed;
  OpenMutex named(Unique("counter").c_str());
  for (OpenMutex* mutex : {&unnamed, &named}) {
    int counter = 0; // plain on purpose: only the mutex orders the threads
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        for (int i = 0; i < kRounds; ++i) {
          TMutexSemaphoreEntry entry(*mutex, t % 2 == 0 ? TMutexSemaphore::fsInfinite : 1000);
          ASSERT_EQ(entry.State(), kLocked);
          const int seen = counter;
          std::this_thread::yield();
          counter = seen + 1;
        }
      });
    }
    for (std::thread& thread : threads) {
      thread.join();
    }
    EXPECT_EQ(counter, kThreads * kRounds);
  }
}

TEST_F(TMutexSemaphoreThreaded, NamesMatchExactlyWhateverTheirBytes) {
  const std::string base = Unique("names");
  const std::string longName = Track(base + std::string(1000, 'x'));
  // Each pair: the first names the mutex held, the second must be a different mutex.
  const std::vector<std::pair<std::string, std::string>> pairs = {
      {Track(base + "Case"), Track(base + "case")},
      {Track(base + "/dir/with/slashes"), Track(base + "%2Fdir%2Fwith%2Fslashes")},
      {longName, Track(longName.substr(0, longName.size() - 1) + "y")},
      {longName, Track(longName.substr(0, longName.size() - 1))},
      {Track(base + std::string("\xff\x01 tab\t", 7)), Track(base + "%FF%01%20tab%09")},
  };
  for (const auto& [held, other] : pairs) {
    OpenMutex holder(held.c_str());
    ASSERT_EQ(holder.Lock(0), kLocked) << held;
    OpenMutex same(held.c_str());
    OpenMutex different(other.c_str());
    EXPECT_EQ(TryElsewhere(same), kTimedOut) << held;
    EXPECT_EQ(TryElsewhere(different), kLocked) << other;
    holder.Unlock();
    EXPECT_EQ(TryElsewhere(same), kLocked) << held;
  }

  // Null and empty names both make private mutexes.
  for (const char* name : {static_cast<const char*>(nullptr), ""}) {
    OpenMutex first(name);
    OpenMutex second(name);
    ASSERT_EQ(first.Lock(0), kLocked);
    EXPECT_EQ(TryElsewhere(first), kTimedOut);
    EXPECT_EQ(TryElsewhere(second), kLocked);
    first.Unlock();
  }
}

TEST_F(TMutexSemaphoreProcesses, NamedMutexExcludesOtherProcessesUnnamedDoesNot) {
  const std::string name = Unique("exclusion");
  OpenMutex mine(name.c_str());
  ChildProcess child;
  ASSERT_TRUE(child.Started());
  ASSERT_EQ(child.Ask("mutex " + name), "ok");
  ASSERT_EQ(child.Ask("lock -1"), "0");
  EXPECT_EQ(mine.Lock(0), kTimedOut);
  const auto start = Clock::now();
  EXPECT_EQ(mine.Lock(100), kTimedOut);
  EXPECT_GE(ElapsedMs(start), 100);
  ASSERT_EQ(child.Ask("unlock"), "ok");
  ASSERT_EQ(mine.Lock(0), kLocked);
  EXPECT_EQ(child.Ask("lock 0"), "1");
  EXPECT_EQ(child.Ask("lock 50"), "1");
  mine.Unlock();
  EXPECT_EQ(child.Ask("lock 0"), "0");
  EXPECT_EQ(child.Ask("unlock"), "ok");

  for (const char* unnamed : {static_cast<const char*>(nullptr), ""}) {
    OpenMutex privateMutex(unnamed);
    ASSERT_EQ(privateMutex.Lock(0), kLocked);
    ASSERT_EQ(child.Ask("mutex -"), "ok");
    EXPECT_EQ(child.Ask("lock 0"), "0");
    privateMutex.Unlock();
  }
  EXPECT_EQ(child.Finish(), 0);
}

TEST_F(TMutexSemaphoreProcesses, CounterStaysExactAcrossProcesses) {
  const std::string mutexName = Unique("count.mutex");
  const std::string sectionName = Unique("count.section");
  ipcSharedMemory section(sectionName.c_str(), 4096);
  ASSERT_EQ(section.rdstate(), 0);
  constexpr int kRounds = 3000;
  ChildProcess first;
  ChildProcess second;
  for (ChildProcess* child : {&first, &second}) {
    ASSERT_EQ(child->Ask("mutex " + mutexName), "ok");
    ASSERT_EQ(child->Ask("open " + sectionName), "0 0");
  }
  ASSERT_TRUE(first.Send("count " + std::to_string(kRounds)));
  ASSERT_TRUE(second.Send("count " + std::to_string(kRounds)));
  EXPECT_EQ(first.Read(120000), "done");
  EXPECT_EQ(second.Read(120000), "done");
  EXPECT_EQ(*static_cast<volatile int*>(section.Pointer()), 2 * kRounds);
  EXPECT_EQ(first.Finish(), 0);
  EXPECT_EQ(second.Finish(), 0);
}

TEST_F(TMutexSemaphoreProcesses, ProcessKilledHoldingItLeavesItToTheNextLocker) {
  const std::string name = Unique("killed");
  OpenMutex mine(name.c_str());
  {
    ChildProcess victim;
    ASSERT_EQ(victim.Ask("mutex " + name), "ok");
    ASSERT_EQ(victim.Ask("lock -1"), "0");
    ASSERT_EQ(victim.Ask("lock -1"), "0");
    EXPECT_EQ(mine.Lock(0), kTimedOut);
    victim.Kill();
  }
  EXPECT_EQ(mine.Lock(5000), kLocked);
  EXPECT_EQ(mine.Lock(0), kLocked);
  mine.Unlock();
  ChildProcess next;
  ASSERT_EQ(next.Ask("mutex " + name), "ok");
  EXPECT_EQ(next.Ask("lock 0"), "1");
  mine.Unlock();
  // Consistent again and shared as before: the next process takes it and keeps it from us.
  EXPECT_EQ(next.Ask("lock 0"), "0");
  EXPECT_EQ(mine.Lock(0), kTimedOut);
  EXPECT_EQ(next.Ask("unlock"), "ok");
  EXPECT_EQ(mine.Lock(0), kLocked);
  mine.Unlock();
  EXPECT_EQ(next.Finish(), 0);
}

TEST_F(TMutexSemaphoreProcesses, MutexOfAKilledLastUserIsMadeAfresh) {
  const std::string name = Unique("stale");
  {
    ChildProcess victim;
    ASSERT_EQ(victim.Ask("mutex " + name), "ok");
    ASSERT_EQ(victim.Ask("lock -1"), "0");
    victim.Kill();
  }
  EXPECT_TRUE(ShmExists(IpcKind::mutex, name)) << "nobody removed it: the killed user could not";
  {
    OpenMutex mine(name.c_str());
    EXPECT_EQ(mine.Lock(0), kLocked);
    EXPECT_EQ(TryElsewhere(mine), kTimedOut);
    mine.Unlock();
  }
  EXPECT_FALSE(ShmExists(IpcKind::mutex, name));
}

TEST_F(TMutexSemaphoreProcesses, ObjectIsOwnerOnlyAndGoesWithItsLastUser) {
  const std::string name = Unique("lifetime");
  const mode_t saved = ::umask(0377); // the object must be 0600 whatever the umask
  auto first = std::make_unique<OpenMutex>(name.c_str());
  ::umask(saved);
  struct stat status {};
  ASSERT_EQ(::stat(ipctest::ShmPath(IpcKind::mutex, name).c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0600u);

  ChildProcess child;
  ASSERT_EQ(child.Ask("mutex " + name), "ok");
  ASSERT_EQ(first->Lock(0), kLocked);
  EXPECT_EQ(child.Ask("lock 0"), "1") << "the child made a mutex of its own";
  first.reset();
  EXPECT_TRUE(ShmExists(IpcKind::mutex, name)) << "removed while the child still uses it";
  EXPECT_EQ(child.Ask("lock 0"), "0");
  EXPECT_EQ(child.Finish(), 0);
  EXPECT_FALSE(ShmExists(IpcKind::mutex, name));
}

TEST_F(TMutexSemaphoreProcesses, AnotherNamesObjectUnderTheSameOsNameIsRefused) {
  const std::string name = Track(Unique("collision") + std::string(600, 'c'));
  const ipctest::ForeignObject foreign(IpcKind::mutex, name, name.substr(0, 599) + "d");
  ASSERT_TRUE(foreign.Ready());
  OpenMutex mutex(name.c_str());
  EXPECT_EQ(mutex.Lock(0), TMutexSemaphore::failed);
  EXPECT_EQ(mutex.Lock(TMutexSemaphore::fsInfinite), TMutexSemaphore::failed);
}

} // namespace
