// tests/sharedmemory_test.cpp: ipcSharedMemory within a process and between processes.
// Licensed under the Apache License, Version 2.0.
#include <tavutil/mutexsem.h>
#include <tavutil/sharedmemory.h>

#include "helpers/named_objects.h"
#include "helpers/run_program.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

namespace {

class ipcSharedMemoryTest : public NamedObjectTest {};
class ipcSharedMemoryProcesses : public NamedObjectTest {};

unsigned char* Bytes(const ipcSharedMemory& section) {
  return static_cast<unsigned char*>(section.Pointer());
}

TEST_F(ipcSharedMemoryTest, BadNamesAndSizesUnknownSectionsAndNamesInUse) {
  for (const char* name : {static_cast<const char*>(nullptr), ""}) {
    ipcSharedMemory made(name, 16);
    EXPECT_EQ(made.rdstate(), 2);
    EXPECT_EQ(made.Name(), nullptr);
    EXPECT_EQ(ipcSharedMemory(name).rdstate(), 2);
  }
  const std::string name = Unique("unknown");
  EXPECT_EQ(ipcSharedMemory(name.c_str()).rdstate(), 3);
  for (const long size : {0L, -1L, static_cast<long>(0x80000000LL)}) { // 2^31, or LONG_MIN
    EXPECT_EQ(ipcSharedMemory(name.c_str(), size).rdstate(), 1) << size;
  }
  // A mutex takes the name of a section only where the system keeps both in one namespace.
  const TMutexSemaphore mutex(name.c_str());
  const ipcSharedMemory created(name.c_str(), 64);
  EXPECT_EQ(created.rdstate(), kMutexesAndSectionsShareNames ? 1 : 0);
  EXPECT_EQ(created.Pointer() == nullptr, kMutexesAndSectionsShareNames);
}

TEST_F(ipcSharedMemoryProcesses, OneSectionForEveryUserUntilTheLastGoes) {
  const std::string name = Unique("shared");
  auto made = std::make_unique<ipcSharedMemory>(name.c_str(), 10000);
  ASSERT_EQ(made->rdstate(), 0);
  EXPECT_STREQ(made->Name(), name.c_str());
  unsigned char* bytes = Bytes(*made);
  ASSERT_NE(bytes, nullptr);
  EXPECT_EQ(std::count(bytes, bytes + 10000, 0), 10000);
  bytes[9999] = 0xFE;

  ChildProcess child(Helper("ipc_helper"));
  EXPECT_EQ(child.Ask("create " + name + " 64"), "1 1 64"); // the name is in use
  ASSERT_EQ(child.Ask("open " + name), "0 0 0");
  EXPECT_EQ(child.Ask("peek 9999"), "254");
  ASSERT_EQ(child.Ask("poke 100 192"), "ok");
  EXPECT_EQ(bytes[100], 0xC0);
  // The maker leaves first: the section stays while the child maps it.
  made.reset();
  {
    const ipcSharedMemory joined(name.c_str());
    ASSERT_EQ(joined.rdstate(), 0);
    EXPECT_EQ(joined.Owner(), 0);
    EXPECT_EQ(Bytes(joined)[9999], 0xFE);
  }
  EXPECT_EQ(child.Finish(), 0);
  EXPECT_EQ(ipcSharedMemory(name.c_str()).rdstate(), 3);
  EXPECT_EQ(RemoveNamedObjects(name), "");

  // Users that were killed take it with them as well; a new section of the name starts zeroed.
  ChildProcess creator(Helper("ipc_helper"));
  ChildProcess joiner(Helper("ipc_helper"));
  ASSERT_EQ(creator.Ask("create " + name + " 32"), "0 1 32");
  ASSERT_EQ(creator.Ask("poke 0 107"), "ok");
  ASSERT_EQ(joiner.Ask("open " + name), "0 0 0");
  creator.Kill();
  EXPECT_EQ(joiner.Ask("peek 0"), "107");
  joiner.Kill();
  EXPECT_EQ(ipcSharedMemory(name.c_str()).rdstate(), 3);
  EXPECT_EQ(RemoveNamedObjects(name), "");
  const ipcSharedMemory fresh(name.c_str(), 32);
  ASSERT_EQ(fresh.rdstate(), 0);
  EXPECT_EQ(Bytes(fresh)[0], 0);
}

} // namespace
