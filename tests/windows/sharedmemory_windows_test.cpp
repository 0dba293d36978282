// tests/windows/sharedmemory_windows_test.cpp: named sections shared by Windows processes.
// Licensed under the Apache License, Version 2.0.
//
// Shared bytes, and the section gone with its last handle however its holders end.
#include <tavutil/mutexsem.h>
#include <tavutil/sharedmemory.h>

#include "windows/child_process.h"

#include <string>

namespace {

using wintest::ChildProcess;

class ipcSharedMemoryWindows : public wintest::KernelNames {};

TEST_F(ipcSharedMemoryWindows, TheSectionGoesWithItsLastHandle) {
  const std::string name = Unique("section");
  ChildProcess creator("ipc_helper");
  ASSERT_EQ(creator.Ask("create " + name + " 8192"), "0 1 8192");
  ASSERT_EQ(creator.Ask("poke 8191 42"), "ok");
  {
    ipcSharedMemory opened(name.c_str());
    ASSERT_EQ(opened.rdstate(), 0);
    EXPECT_EQ(opened.Owner(), 0);
    EXPECT_EQ(static_cast<unsigned char*>(opened.Pointer())[8191], 42);
    static_cast<unsigned char*>(opened.Pointer())[0] = 7;
    EXPECT_EQ(creator.Ask("peek 0"), "7");

    // The creator leaves first; the section stays while this process maps it.
    EXPECT_EQ(creator.Finish(), 0);
    EXPECT_TRUE(SectionExists(name));
    ipcSharedMemory again(name.c_str());
    ASSERT_EQ(again.rdstate(), 0);
    EXPECT_EQ(static_cast<unsigned char*>(again.Pointer())[8191], 42);
  }
  EXPECT_FALSE(SectionExists(name));
  const ipcSharedMemory gone(name.c_str());
  EXPECT_EQ(gone.rdstate(), 3);
  // The name is free for a new section, which starts zeroed.
  const ipcSharedMemory fresh(name.c_str(), 8192);
  ASSERT_EQ(fresh.rdstate(), 0);
  EXPECT_EQ(static_cast<unsigned char*>(fresh.Pointer())[8191], 0);
}

TEST_F(ipcSharedMemoryWindows, AKilledCreatorTakesTheSectionWithIt) {
  const std::string name = Unique("killed");
  ChildProcess creator("ipc_helper");
  ASSERT_EQ(creator.Ask("create " + name + " 4096"), "0 1 4096");
  ChildProcess joiner("ipc_helper");
  ASSERT_EQ(joiner.Ask("open " + name), "0 0 0");
  creator.Kill();
  EXPECT_TRUE(SectionExists(name)); // the joiner still holds it
  joiner.Kill();
  EXPECT_FALSE(SectionExists(name));
  EXPECT_EQ(ipcSharedMemory(name.c_str()).rdstate(), 3);
}

TEST_F(ipcSharedMemoryWindows, AMutexNameIsNoSectionName) {
  // Mutexes and mappings share one namespace of kernel objects.
  const std::string name = Unique("mutex");
  const TMutexSemaphore mutex(name.c_str());
  const ipcSharedMemory created(name.c_str(), 64);
  EXPECT_EQ(created.rdstate(), 1);
  EXPECT_EQ(created.Pointer(), nullptr);
  EXPECT_EQ(ipcSharedMemory(name.c_str()).rdstate(), 3);
}

} // namespace
