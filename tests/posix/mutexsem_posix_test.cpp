// tests/posix/mutexsem_posix_test.cpp: TMutexSemaphore between processes, the POSIX objects
// behind named mutexes, and the library's scoped lock when a mutex cannot be made.
// Licensed under the Apache License, Version 2.0.
#include <tavutil/mutexsem.h>
#include <tavutil/sharedmemory.h>

#include "helpers/ipc_test_support.h"
#include "internal/scopedlock.h"
#include "open_mutex.h"
#include "recording_trace.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <memory>
#include <string>
#include <sys/stat.h>
#include <thread>

namespace {

using ipctest::ChildProcess;

constexpr auto kLocked = TMutexSemaphore::locked;
constexpr auto kTimedOut = TMutexSemaphore::timedOut;
constexpr long kForever = TMutexSemaphore::fsInfinite;

class TMutexSemaphoreProcesses : public ipctest::IpcNames {};
class ScopedLockDeathTest : public ipctest::IpcNames {};

// The library's own mutexes are held with ScopedLock, which must never go on unguarded.
TEST_F(ScopedLockDeathTest, EndsTheProcessWhenTheLockFails) {
  const std::string name = Unique("scoped");
  EXPECT_DEATH(
      {
        const rlimit noFiles{}; // no descriptor left: the named mutex cannot be made
        ::setrlimit(RLIMIT_NOFILE, &noFiles);
        TMutexSemaphore broken(name.c_str());
        const tavutil::detail::ScopedLock lock(broken);
      },
      "internal mutex could not be locked");
  OpenMutex working(name.c_str());
  const tavutil::detail::ScopedLock lock(working); // held: another thread cannot have it
  EXPECT_EQ(TryElsewhere(working), kTimedOut);
}

TEST_F(TMutexSemaphoreProcesses, NamedMutexExcludesOtherProcessesUnnamedDoesNot) {
  const std::string name = Unique("exclusion");
  OpenMutex mine(name.c_str());
  ChildProcess child;
  ASSERT_EQ(child.Ask("mutex " + name), "ok");
  ASSERT_EQ(child.Ask("lock 0"), "0");
  EXPECT_EQ(mine.Lock(0), kTimedOut);
  ASSERT_EQ(child.Ask("unlock"), "ok");
  ASSERT_EQ(mine.Lock(0), kLocked);
  // A child that waits without limit is woken when this process lets go.
  ASSERT_TRUE(child.Send("lock -1"));
  EXPECT_EQ(child.Read(200), "<none>");
  mine.Unlock();
  EXPECT_EQ(child.Read(), "0");
  EXPECT_EQ(mine.Lock(0), kTimedOut);

  for (const char* unnamed : {static_cast<const char*>(nullptr), ""}) {
    OpenMutex privateMutex(unnamed);
    ASSERT_EQ(privateMutex.Lock(0), kLocked);
    ASSERT_EQ(child.Ask("mutex -"), "ok");
    EXPECT_EQ(child.Ask("lock 0"), "0");
    privateMutex.Unlock();
  }
  EXPECT_EQ(child.Finish(), 0);
}

TEST_F(TMutexSemaphoreProcesses, ProcessKilledHoldingItLeavesItToTheNextLocker) {
  const std::string name = Unique("killed");
  OpenMutex mine(name.c_str());
  ChildProcess victim;
  ASSERT_EQ(victim.Ask("mutex " + name), "ok");
  ASSERT_EQ(victim.Ask("lock -1"), "0");
  ASSERT_EQ(victim.Ask("lock -1"), "0");
  EXPECT_EQ(mine.Lock(0), kTimedOut);
  victim.Kill();
  ASSERT_EQ(mine.Lock(5000), kLocked);
  // Consistent again and shared as before: one unlock hands it to the next process.
  ChildProcess next;
  ASSERT_EQ(next.Ask("mutex " + name), "ok");
  EXPECT_EQ(next.Ask("lock 0"), "1");
  mine.Unlock();
  EXPECT_EQ(next.Ask("lock 0"), "0");
  EXPECT_EQ(mine.Lock(0), kTimedOut);
  EXPECT_EQ(next.Finish(), 0);
}

/// One byte over a pipe; false when the other end is gone.
bool SendByte(int fd, char byte) {
  return ::write(fd, &byte, 1) == 1;
}
char ReceiveByte(int fd) {
  char byte = 0;
  return ::read(fd, &byte, 1) == 1 ? byte : '\0';
}

TEST_F(TMutexSemaphoreProcesses, AChildForkedWithoutExecIsAUserOfItsOwn) {
  // The child locks the mutex and writes into the section it inherited; the parent then lets
  // go of both. They must stay the child's: a new object of each name is the same one.
  constexpr int kRounds = 100;
  const std::string name = Unique("forked");
  int exclusionFailures = 0;
  int lostSections = 0;
  for (int round = 0; round < kRounds; ++round) {
    auto mutex = std::make_unique<OpenMutex>(name.c_str());
    auto section = std::make_unique<ipcSharedMemory>(name.c_str(), 8);
    ASSERT_EQ(section->rdstate(), 0);
    int toChild[2];
    int toParent[2];
    ASSERT_EQ(::pipe(toChild), 0);
    ASSERT_EQ(::pipe(toParent), 0);
    const pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
      const bool locked = mutex->Lock(kForever) == kLocked;
      static_cast<char*>(section->Pointer())[0] = 'c';
      SendByte(toParent[1], locked ? 'L' : 'F');
      ReceiveByte(toChild[0]); // until the parent has looked
      mutex->Unlock();
      mutex.reset();
      section.reset();
      ::_exit(0);
    }
    ::close(toChild[0]);
    ::close(toParent[1]);
    ASSERT_EQ(ReceiveByte(toParent[0]), 'L');
    mutex.reset();
    section.reset();
    OpenMutex again(name.c_str());
    exclusionFailures += again.Lock(0) == kTimedOut ? 0 : 1;
    const ipcSharedMemory joined(name.c_str());
    lostSections += joined.rdstate() == 0 && static_cast<char*>(joined.Pointer())[0] == 'c' ? 0 : 1;
    SendByte(toChild[1], 'g');
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ::close(toChild[1]);
    ::close(toParent[0]);
    EXPECT_EQ(again.Lock(0), kLocked) << "the child's unlock did not reach this process";
    again.Unlock();
  }
  EXPECT_EQ(exclusionFailures, 0) << "rounds in which a new user of the name did not wait";
  EXPECT_EQ(lostSections, 0) << "rounds in which the section was not the child's";
}

TEST_F(TMutexSemaphoreProcesses, AnObjectWhoseModeWasChangedIsRefusedAndTraced) {
  const std::string name = Unique("mode");
  const OpenMutex first(name.c_str());
  ASSERT_EQ(::chmod(ipctest::ShmPath(ipctest::IpcKind::mutex, name).c_str(), 0660), 0);
  TRecording trace;
  {
    OpenMutex second(name.c_str());
    EXPECT_EQ(second.Lock(0), TMutexSemaphore::failed);
  }
  ASSERT_EQ(trace.Entries().size(), 1u);
  const TMessage& entry = trace.Entries()[0].message;
  EXPECT_STREQ(entry.QueryMessage(), ("Error 13 from CreateMutex(" + name + ")").c_str());
  EXPECT_EQ(entry.QueryLine(), 71u);
}

} // namespace
