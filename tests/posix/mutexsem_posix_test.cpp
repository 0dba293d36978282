// tests/posix/mutexsem_posix_test.cpp: named mutexes in a child forked without exec, the POSIX
// objects behind them, and the library's scoped lock when a mutex cannot be made.
// Licensed under the Apache License, Version 2.0.
#include <tavutil/mutexsem.h>
#include <tavutil/sharedmemory.h>

#include "helpers/named_objects.h"
#include "helpers/trace_entry.h"
#include "internal/scopedlock.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

class TMutexSemaphoreProcesses : public NamedObjectTest {};
class ScopedLockDeathTest : public NamedObjectTest {};

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
  UnscopedMutex working(name.c_str());
  const tavutil::detail::ScopedLock lock(working); // held: another thread cannot have it
  EXPECT_EQ(TryElsewhere(working), kTimedOut);
}

TEST_F(TMutexSemaphoreProcesses, AChildForkedWithoutExecIsAUserOfItsOwn) {
  // The child locks the mutex and writes into the section it inherited; the parent then lets
  // go of both. They must stay the child's: a new object of each name is the same one.
  constexpr int kRounds = 100;
  const std::string name = Unique("forked");
  int exclusionFailures = 0;
  int lostSections = 0;
  for (int round = 0; round < kRounds; ++round) {
    auto mutex = std::make_unique<UnscopedMutex>(name.c_str());
    auto section = std::make_unique<ipcSharedMemory>(name.c_str(), 8);
    ASSERT_EQ(section->rdstate(), 0);
    ChildProcess child(nullptr, [&] {
      const bool locked = mutex->Lock(kForever) == kLocked;
      static_cast<char*>(section->Pointer())[0] = 'c';
      std::cout << (locked ? "L" : "F") << std::endl;
      std::string line;
      std::getline(std::cin, line); // until the parent has looked
      mutex->Unlock();
      mutex.reset();
      section.reset();
      return 0;
    });
    ASSERT_EQ(child.Read(), "L");
    mutex.reset();
    section.reset();
    UnscopedMutex again(name.c_str());
    exclusionFailures += again.Lock(0) == kTimedOut ? 0 : 1;
    const ipcSharedMemory joined(name.c_str());
    lostSections += joined.rdstate() == 0 && static_cast<char*>(joined.Pointer())[0] == 'c' ? 0 : 1;
    ASSERT_EQ(child.Finish(), 0);
    EXPECT_EQ(again.Lock(0), kLocked) << "the child's unlock did not reach this process";
    again.Unlock();
  }
  EXPECT_EQ(exclusionFailures, 0) << "rounds in which a new user of the name did not wait";
  EXPECT_EQ(lostSections, 0) << "rounds in which the section was not the child's";
}

// Something else under a mutex's name (an object whose mode was changed, a directory) is refused
// and traced with the system's error code.
TEST_F(TMutexSemaphoreProcesses, WhatElseHoldsItsNameIsRefusedAndTraced) {
  for (const bool directory : {false, true}) {
    SCOPED_TRACE(directory ? "a directory" : "an object whose mode was changed");
    const std::string name = Unique("taken");
    const std::string path = ShmPath(IpcKind::mutex, name);
    std::optional<UnscopedMutex> first;
    if (directory) {
      ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);
    } else {
      first.emplace(name.c_str());
      ASSERT_EQ(::chmod(path.c_str(), 0660), 0);
    }
    TRecording trace;
    {
      UnscopedMutex second(name.c_str());
      EXPECT_EQ(second.Lock(0), TMutexSemaphore::failed);
    }
    ::rmdir(path.c_str());
    ASSERT_EQ(trace.Entries().size(), 1u);
    // What opening a directory gives depends on the C library (EINVAL from glibc).
    const auto error = static_cast<unsigned long>(trace.Entries()[0].message[0]);
    EXPECT_TRUE(directory ? error != 0 : error == EACCES) << error;
    ExpectEntries(
        trace, {TUtilityTraceCategory::Utility, "utility/MUTEXSEM"},
        {{0x4, 71, "Error " + std::to_string(error) + " from CreateMutex(" + name + ")"}});
  }
}

} // namespace
