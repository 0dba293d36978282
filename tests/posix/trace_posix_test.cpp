// tests/posix/trace_posix_test.cpp: library trace points reaching live trace states, set off by
// a named mutex that a directory in its POSIX shared-memory place keeps from being made.
// Licensed under the Apache License, Version 2.0.
#include <tavutil/exception.h>
#include <tavutil/message.h>
#include <tavutil/mutexsem.h>
#include <tavutil/trace.h>

#include "platform/posix/ipclayout.h"

#include "recording_trace.h"

#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string Bytes(const TString& s) {
  return std::string(static_cast<const char*>(s), s.length());
}

} // namespace

TEST(TTraceModel, LibraryTracePointsReachLiveStates) {
  TRecording trace;
  trace.SetLevel(0x4 | 0x8);
  TMessage message("no arguments");
  message.SetDebugging("caller.cpp", 12);
  EXPECT_THROW(message[0], TInvalidParameter);

  // A directory where a mutex's shared-memory object would go makes its creation fail.
  const std::string name = "trace-test-" + std::to_string(::getpid());
  char osName[tavutil::platform::posix::kIpcNameCapacity];
  tavutil::platform::posix::MakeIpcName(tavutil::platform::posix::IpcKind::mutex, ::geteuid(),
                                        name.c_str(), name.size(), osName);
  const std::string blocker = std::string("/dev/shm") + osName;
  ASSERT_EQ(::mkdir(blocker.c_str(), 0700), 0);
  {
    TMutexSemaphore broken(name.c_str());
    EXPECT_EQ(TMutexSemaphoreEntry(broken, 0).State(), TMutexSemaphore::failed);
  }
  ::rmdir(blocker.c_str());

  // The index trace point (level 8, Message) came first, then the mutex one (level 4, Utility).
  ASSERT_EQ(trace.Entries().size(), 2u);
  const TMessage& index = trace.Entries()[0].message;
  const TMessage& mutex = trace.Entries()[1].message;
  EXPECT_EQ(trace.Entries()[0].level + trace.Entries()[1].level, 0x8u + 0x4u);
  EXPECT_EQ(trace.Entries()[0].category, &TUtilityTraceCategory::Message);
  EXPECT_EQ(trace.Entries()[1].category, &TUtilityTraceCategory::Utility);
  EXPECT_STREQ(index.QueryFile(), "utility/MESSAGE");
  EXPECT_EQ(index.QueryLine(), 236u);
  EXPECT_STREQ(mutex.QueryFile(), "utility/MUTEXSEM");
  EXPECT_EQ(mutex.QueryLine(), 71u);
  EXPECT_EQ(Bytes(mutex.QueryMessage()), "Error " +
                                             std::to_string(static_cast<unsigned long>(mutex[0])) +
                                             " from CreateMutex(" + name + ")");
  EXPECT_NE(static_cast<unsigned long>(mutex[0]), 0u); // the system's error code, unsigned
  trace.SetLevel(0x4); // level 8 off: the trace point builds nothing
  EXPECT_THROW(message[1], TInvalidParameter);
  EXPECT_EQ(trace.Entries().size(), 2u);
}
