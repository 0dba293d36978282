// tests/mutexsem_processes_test.cpp: named mutexes shared by processes: exclusion, waits without
// limit, and holders killed while they hold one.
// Licensed under the Apache License, Version 2.0.
#include <tavutil/mutexsem.h>

#include "helpers/named_objects.h"
#include "helpers/run_program.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

class TMutexSemaphoreProcesses : public NamedObjectTest {};

constexpr auto kLockedHere = TMutexSemaphore::locked;
constexpr auto kTimedOutHere = TMutexSemaphore::timedOut;
/// What a lock of `mutex` with time-out `ms` gives here; a lock taken is let go at once.
TMutexSemaphore::EState TryHere(TMutexSemaphore& mutex, long ms = 0) {
  return TMutexSemaphoreEntry(mutex, ms).State();
}
/// What a child answers to "lock" for each state.
const std::string kLocked = std::to_string(TMutexSemaphore::locked);
const std::string kTimedOut = std::to_string(TMutexSemaphore::timedOut);

TEST_F(TMutexSemaphoreProcesses, NamedMutexExcludesOtherProcessesUnnamedDoesNot) {
  const std::string name = Unique("exclusion");
  TMutexSemaphore mine(name.c_str());
  ChildProcess holder(Helper("ipc_helper"));
  ChildProcess other(Helper("ipc_helper"));
  ASSERT_EQ(holder.Ask("mutex " + name), "ok");
  ASSERT_EQ(other.Ask("mutex " + name), "ok");
  ASSERT_EQ(holder.Ask("lock 0"), kLocked);
  EXPECT_EQ(holder.Ask("lock 0"), kLocked); // recursive for its holder
  EXPECT_EQ(TryHere(mine), kTimedOutHere);
  EXPECT_EQ(other.Ask("lock 50"), kTimedOut);
  ASSERT_EQ(holder.Ask("unlock"), "ok");
  EXPECT_EQ(other.Ask("lock 0"), kTimedOut); // one hold is left
  ASSERT_EQ(holder.Ask("unlock"), "ok");
  std::optional<TMutexSemaphoreEntry> held(std::in_place, mine, 0);
  ASSERT_EQ(held->State(), kLockedHere);
  // A process that waits without limit is woken when the holder lets go, and when it is killed.
  ASSERT_TRUE(holder.Send("lock -1"));
  EXPECT_EQ(holder.Read(200), "<none>");
  held.reset();
  EXPECT_EQ(holder.Read(), kLocked);
  ASSERT_TRUE(other.Send("lock -1"));
  EXPECT_EQ(other.Read(200), "<none>");
  holder.Kill();
  EXPECT_EQ(other.Read(), kLocked);
  EXPECT_EQ(TryHere(mine), kTimedOutHere);
  ASSERT_EQ(other.Ask("unlock"), "ok");

  // Unnamed mutexes of two processes are two mutexes.
  for (const char* unnamed : {static_cast<const char*>(nullptr), ""}) {
    TMutexSemaphore privateMutex(unnamed);
    const TMutexSemaphoreEntry entry(privateMutex, 0);
    ASSERT_EQ(entry.State(), kLockedHere);
    ASSERT_EQ(other.Ask("mutex -"), "ok");
    EXPECT_EQ(other.Ask("lock 0"), kLocked);
  }
  EXPECT_EQ(other.Finish(), 0);
}

TEST_F(TMutexSemaphoreProcesses, AHolderKilledLeavesItLockedToTheNextLocker) {
  const std::string name = Unique("killed");
  TMutexSemaphore mine(name.c_str());
  {
    ChildProcess victim(Helper("ipc_helper"));
    ASSERT_EQ(victim.Ask("mutex " + name), "ok");
    ASSERT_EQ(victim.Ask("lock -1"), kLocked);
    ASSERT_EQ(victim.Ask("lock -1"), kLocked); // two holds, neither released
    EXPECT_EQ(TryHere(mine), kTimedOutHere);
  } // killed, holding it
  std::optional<TMutexSemaphoreEntry> held(std::in_place, mine, 5000);
  ASSERT_EQ(held->State(), kLockedHere);
  // The lock is real, and consistent again: one unlock hands it to the next process.
  ChildProcess next(Helper("ipc_helper"));
  ASSERT_EQ(next.Ask("mutex " + name), "ok");
  EXPECT_EQ(next.Ask("lock 0"), kTimedOut);
  held.reset();
  EXPECT_EQ(next.Ask("lock 0"), kLocked);
  EXPECT_EQ(TryHere(mine), kTimedOutHere);
  EXPECT_EQ(next.Finish(), 0);
}

} // namespace
