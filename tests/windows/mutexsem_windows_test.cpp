// tests/windows/mutexsem_windows_test.cpp: named mutexes shared by Windows processes.
// Licensed under the Apache License, Version 2.0.
//
// Exclusion between processes, a holder killed while it holds one, the mutex gone with its
// last handle.
#include <tavutil/mutexsem.h>

#include "windows/child_process.h"

#include <string>

namespace {

using wintest::ChildProcess;

class TMutexSemaphoreWindows : public wintest::KernelNames {};

/// What a child answers to "lock" for each state.
const std::string kLocked = std::to_string(TMutexSemaphore::locked);
const std::string kTimedOut = std::to_string(TMutexSemaphore::timedOut);

TEST_F(TMutexSemaphoreWindows, ProcessesExcludeEachOtherAndTheMutexGoesWithItsLastHandle) {
  const std::string name = Unique("exclude");
  {
    ChildProcess holder("ipc_helper");
    ChildProcess other("ipc_helper");
    ASSERT_EQ(holder.Ask("mutex " + name), "ok");
    ASSERT_EQ(other.Ask("mutex " + name), "ok");
    ASSERT_EQ(holder.Ask("lock -1"), kLocked);
    EXPECT_EQ(holder.Ask("lock 0"), kLocked); // recursive for its holder
    EXPECT_EQ(other.Ask("lock 0"), kTimedOut);
    EXPECT_EQ(holder.Ask("unlock"), "ok");
    EXPECT_EQ(other.Ask("lock 50"), kTimedOut); // one hold is left
    EXPECT_EQ(holder.Ask("unlock"), "ok");
    EXPECT_EQ(other.Ask("lock 0"), kLocked);

    {
      TMutexSemaphore here(name.c_str());
      const TMutexSemaphoreEntry entry(here, 0);
      EXPECT_EQ(entry.State(), TMutexSemaphore::timedOut);
    }
    // Unnamed mutexes of two processes are two mutexes.
    ASSERT_EQ(holder.Ask("mutex -"), "ok");
    ASSERT_EQ(other.Ask("mutex -"), "ok");
    EXPECT_EQ(holder.Ask("lock -1"), kLocked);
    EXPECT_EQ(other.Ask("lock 0"), kLocked);

    EXPECT_FALSE(MutexExists(name)); // both processes have closed theirs
    EXPECT_EQ(holder.Finish(), 0);
    EXPECT_EQ(other.Finish(), 0);
  }
}

TEST_F(TMutexSemaphoreWindows, AHolderKilledLeavesTheMutexLockedToTheNextLocker) {
  const std::string name = Unique("abandoned");
  TMutexSemaphore mutex(name.c_str());
  {
    ChildProcess holder("ipc_helper");
    ASSERT_EQ(holder.Ask("mutex " + name), "ok");
    ASSERT_EQ(holder.Ask("lock -1"), kLocked);
    ASSERT_EQ(holder.Ask("lock -1"), kLocked); // two holds, neither released
    holder.Kill();
  }
  {
    // The system hands the mutex on as abandoned; the library reports that as locked, and
    // the lock is real: another process is kept out until it is released.
    const TMutexSemaphoreEntry entry(mutex, 0);
    EXPECT_EQ(entry.State(), TMutexSemaphore::locked);
    ChildProcess other("ipc_helper");
    ASSERT_EQ(other.Ask("mutex " + name), "ok");
    EXPECT_EQ(other.Ask("lock 0"), kTimedOut);
    EXPECT_EQ(other.Finish(), 0);
  }
  {
    const TMutexSemaphoreEntry entry(mutex, 0); // released once: free again
    EXPECT_EQ(entry.State(), TMutexSemaphore::locked);
  }

  // The same scene seen through the system itself, so the case above is known to be an
  // abandonment and not a mutex the child happened to release.
  {
    ChildProcess holder("ipc_helper");
    ASSERT_EQ(holder.Ask("mutex " + name), "ok");
    ASSERT_EQ(holder.Ask("lock -1"), kLocked);
    holder.Kill();
  }
  const HANDLE raw = ::OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name.c_str());
  ASSERT_NE(raw, nullptr);
  EXPECT_EQ(::WaitForSingleObject(raw, 0), static_cast<DWORD>(WAIT_ABANDONED));
  EXPECT_NE(::ReleaseMutex(raw), FALSE);
  ::CloseHandle(raw);
}

TEST_F(TMutexSemaphoreWindows, AWaitEndsWhenTheHolderIsKilled) {
  const std::string name = Unique("waiter");
  ChildProcess holder("ipc_helper");
  ChildProcess waiter("ipc_helper");
  ASSERT_EQ(holder.Ask("mutex " + name), "ok");
  ASSERT_EQ(waiter.Ask("mutex " + name), "ok");
  ASSERT_EQ(holder.Ask("lock -1"), kLocked);
  ASSERT_TRUE(waiter.Send("lock -1"));
  EXPECT_EQ(waiter.Read(300), "<none>"); // still waiting
  holder.Kill();
  EXPECT_EQ(waiter.Read(), kLocked);
  EXPECT_EQ(waiter.Ask("unlock"), "ok");
  EXPECT_EQ(waiter.Finish(), 0);
}

} // namespace
