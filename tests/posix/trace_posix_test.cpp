// tests/posix/trace_posix_test.cpp: library trace points reaching live trace states, set off by
// a named mutex that a directory in its POSIX shared-memory place keeps from being made; trace
// specifications that name FIFOs.
// Licensed under the Apache License, Version 2.0.
#include <tavutil/exception.h>
#include <tavutil/message.h>
#include <tavutil/mutexsem.h>
#include <tavutil/trace.h>

#include "platform/posix/ipclayout.h"

#include "recording_trace.h"
#include "temp_directory.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

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

// A FIFO at a trace file's name, or at a trace factory's library, would keep the constructor
// waiting for a peer (and, once one came, every line waiting for it to read): each is refused
// without waiting, and nothing reaches a reader that holds the FIFO open.
TEST(TTraceModel, FifosNamedInATraceSpecificationAreRefusedWithoutWaiting) {
  const std::string directory = MakeTempDirectory("trace_posix");
  ASSERT_FALSE(directory.empty());
  const std::string fifo = directory + "/fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo((directory + "/library.so").c_str(), 0600), 0);
  const std::vector<std::string> specifications = {"file(" + fifo + ")", "shfile(" + fifo + ")",
                                                   "fifotrace[" + directory + "/library](a)"};
  ::alarm(120); // a constructor that waits for ever ends the test program rather than hang it
  std::vector<std::string> reasons;
  for (const bool reader : {false, true}) {
    const int peer = reader ? ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK) : -1;
    TRecording recording;
    for (const std::string& specification : specifications) {
      SCOPED_TRACE(specification);
      const TTrace trace(specification.c_str());
      TMessage message("must not reach the FIFO");
      TTrace::WriteEntry(0x4, TUtilityTraceCategory::Utility, message);
    }
    if (peer >= 0) {
      char byte = 0;
      EXPECT_LE(::read(peer, &byte, 1), 0) << "a line reached the FIFO";
      ::close(peer);
    }
    for (const TRecordingState::Entry& entry : recording.Entries()) {
      if (entry.category == &TUtilityTraceCategory::Factory) {
        reasons.emplace_back(entry.message.QueryMessage());
      }
    }
  }
  ::alarm(0);
  ASSERT_FALSE(reasons.empty());
  EXPECT_NE(reasons[0].find(directory + "/library.so: not a regular file"), std::string::npos)
      << reasons[0];
  std::filesystem::remove_all(directory);
}
