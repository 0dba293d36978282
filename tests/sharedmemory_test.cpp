// tests/sharedmemory_test.cpp: ipcSharedMemory within a process, between processes and
// against the raw shm object.
// Licensed under the Apache License, Version 2.0.
#include <tavutil/mutexsem.h>
#include <tavutil/sharedmemory.h>

#include "helpers/ipc_test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using ipctest::ChildProcess;
using ipctest::IpcKind;
using ipctest::ShmExists;

class ipcSharedMemoryTest : public ipctest::IpcNames {};

char* Bytes(const ipcSharedMemory& section) {
  return static_cast<char*>(section.Pointer());
}

TEST_F(ipcSharedMemoryTest, SectionIsTheSameBytesInAnotherProcessAndInTheRawObject) {
  const std::string name = Unique("shared");
  ipcSharedMemory section(name.c_str(), 10000);
  ASSERT_EQ(section.rdstate(), 0);
  EXPECT_FALSE(!section);
  EXPECT_EQ(section.Owner(), 1);
  EXPECT_EQ(section.Size(), 10000);
  EXPECT_STREQ(section.Name(), name.c_str());
  ASSERT_NE(Bytes(section), nullptr);
  EXPECT_EQ(std::vector<char>(Bytes(section), Bytes(section) + 10000), std::vector<char>(10000));
  std::memcpy(Bytes(section), "\x01\x02\x03\xfe", 4);
  std::memcpy(Bytes(section) + 9996, "last", 4);

  ChildProcess child;
  ASSERT_EQ(child.Ask("open " + name), "0 0");
  EXPECT_EQ(child.Ask("read 0 4"), "010203fe");
  EXPECT_EQ(child.Ask("read 9996 4"), "6c617374");
  ASSERT_EQ(child.Ask("write 100 c0ffee"), "ok");
  EXPECT_EQ(std::memcmp(Bytes(section) + 100, "\xc0\xff\xee", 3), 0);

  // The same bytes through shm_open and mmap of the object's own name.
  const int fd = ::shm_open(ipctest::OsName(IpcKind::section, name).c_str(), O_RDONLY, 0);
  ASSERT_GE(fd, 0);
  struct stat status {};
  ASSERT_EQ(::fstat(fd, &status), 0);
  const auto length = static_cast<std::size_t>(status.st_size);
  void* raw = ::mmap(nullptr, length, PROT_READ, MAP_SHARED, fd, 0);
  ::close(fd);
  ASSERT_NE(raw, MAP_FAILED);
  const auto* header = static_cast<const tavutil::platform::posix::IpcObjectHeader*>(raw);
  EXPECT_EQ(header->payloadSize, 10000u);
  ASSERT_LE(header->payloadOffset + 10000, length);
  const char* rawBytes = static_cast<const char*>(raw) + header->payloadOffset;
  EXPECT_EQ(std::memcmp(rawBytes, Bytes(section), 10000), 0);
  ::munmap(raw, length);
  EXPECT_EQ(child.Finish(), 0);
}

TEST_F(ipcSharedMemoryTest, CreatingANameInUseFailsAndOpeningJoinsIt) {
  const std::string name = Unique("in-use");
  ipcSharedMemory made(name.c_str(), 64);
  ASSERT_EQ(made.rdstate(), 0);
  Bytes(made)[7] = 'x';

  ipcSharedMemory again(name.c_str(), 64);
  EXPECT_EQ(again.rdstate(), 1);
  EXPECT_TRUE(!again);
  EXPECT_EQ(again.Owner(), 1);
  EXPECT_EQ(again.Pointer(), nullptr);

  ipcSharedMemory joined(name.c_str());
  ASSERT_EQ(joined.rdstate(), 0);
  EXPECT_EQ(joined.Owner(), 0);
  EXPECT_EQ(joined.Size(), 0);
  EXPECT_EQ(Bytes(joined)[7], 'x');
  Bytes(joined)[8] = 'y';
  EXPECT_EQ(Bytes(made)[8], 'y');

  ChildProcess child;
  EXPECT_EQ(child.Ask("create " + name + " 64"), "1 1");
  EXPECT_EQ(child.Finish(), 0);
}

TEST_F(ipcSharedMemoryTest, BadNamesAndSizesAndUnknownSections) {
  for (const char* name : {static_cast<const char*>(nullptr), ""}) {
    ipcSharedMemory made(name, 16);
    EXPECT_EQ(made.rdstate(), 2);
    EXPECT_EQ(made.Name(), nullptr);
    EXPECT_EQ(made.Pointer(), nullptr);
    EXPECT_EQ(made.Owner(), 1);
    ipcSharedMemory opened(name);
    EXPECT_EQ(opened.rdstate(), 2);
    EXPECT_EQ(opened.Owner(), 0);
  }
  const std::string name = Unique("unknown");
  ipcSharedMemory unknown(name.c_str());
  EXPECT_EQ(unknown.rdstate(), 3);
  EXPECT_EQ(unknown.Pointer(), nullptr);
  EXPECT_STREQ(unknown.Name(), name.c_str());
  for (const long size : {0L, -1L, 0x80000000L}) {
    ipcSharedMemory bad(name.c_str(), size);
    EXPECT_EQ(bad.rdstate(), 1) << size;
    EXPECT_EQ(bad.Size(), size);
  }
}

TEST_F(ipcSharedMemoryTest, SectionGoesWithItsLastMapperAndIsOwnerOnly) {
  const std::string name = Unique("lifetime");
  const mode_t saved = ::umask(0377); // the object must be 0600 whatever the umask
  auto made = std::make_unique<ipcSharedMemory>(name.c_str(), 32);
  ::umask(saved);
  ASSERT_EQ(made->rdstate(), 0);
  struct stat status {};
  ASSERT_EQ(::stat(ipctest::ShmPath(IpcKind::section, name).c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0600u);
  Bytes(*made)[0] = 'k';

  ChildProcess child;
  ASSERT_EQ(child.Ask("open " + name), "0 0");
  auto joined = std::make_unique<ipcSharedMemory>(name.c_str());
  made.reset();
  joined.reset();
  EXPECT_TRUE(ShmExists(IpcKind::section, name)) << "removed while the child maps it";
  EXPECT_EQ(child.Ask("read 0 1"), "6b");
  EXPECT_EQ(child.Finish(), 0);
  EXPECT_FALSE(ShmExists(IpcKind::section, name));
  EXPECT_EQ(ipcSharedMemory(name.c_str()).rdstate(), 3);

  ipcSharedMemory fresh(name.c_str(), 32);
  ASSERT_EQ(fresh.rdstate(), 0);
  EXPECT_EQ(Bytes(fresh)[0], 0);
}

TEST_F(ipcSharedMemoryTest, SectionOfAKilledLastUserIsGone) {
  const std::string name = Unique("killed");
  {
    ChildProcess victim;
    ASSERT_EQ(victim.Ask("create " + name + " 4096"), "0 1");
    ASSERT_EQ(victim.Ask("write 0 ff"), "ok");
    victim.Kill();
  }
  EXPECT_TRUE(ShmExists(IpcKind::section, name)) << "nobody removed it: the killed user could not";
  EXPECT_EQ(ipcSharedMemory(name.c_str()).rdstate(), 3);
  EXPECT_FALSE(ShmExists(IpcKind::section, name));
  ipcSharedMemory made(name.c_str(), 4096);
  ASSERT_EQ(made.rdstate(), 0);
  EXPECT_EQ(Bytes(made)[0], 0);
}

TEST_F(ipcSharedMemoryTest, OddNamesAreDistinctSections) {
  const std::string base = Unique("odd");
  const std::string longName = base + std::string(1000, 'L');
  const std::vector<std::string> names = {Track(base + "/a/b"),  Track(base + "%2Fa%2Fb"),
                                          Track(base + "UPPER"), Track(base + "upper"),
                                          Track(longName),       Track(longName + "L"),
                                          Track(longName + "M"), Track(base + "sp ace\x01\xff")};
  std::vector<std::unique_ptr<ipcSharedMemory>> sections;
  for (std::size_t i = 0; i < names.size(); ++i) {
    sections.push_back(std::make_unique<ipcSharedMemory>(names[i].c_str(), 8));
    ASSERT_EQ(sections.back()->rdstate(), 0) << names[i];
    Bytes(*sections.back())[0] = static_cast<char>('a' + i);
  }
  for (std::size_t i = 0; i < names.size(); ++i) {
    ipcSharedMemory opened(names[i].c_str());
    ASSERT_EQ(opened.rdstate(), 0) << names[i];
    EXPECT_EQ(Bytes(opened)[0], static_cast<char>('a' + i)) << names[i];
  }
  // A mutex of the same name is another object.
  TMutexSemaphore mutex(names[0].c_str());
  EXPECT_TRUE(ShmExists(IpcKind::mutex, names[0]));
  EXPECT_EQ(ipcSharedMemory(names[0].c_str()).rdstate(), 0);
}

TEST_F(ipcSharedMemoryTest, AnotherNamesObjectUnderTheSameOsNameIsRefused) {
  const std::string name = Track(Unique("collision") + std::string(600, 'c'));
  const ipctest::ForeignObject foreign(IpcKind::section, name, name.substr(0, 599) + "d");
  ASSERT_TRUE(foreign.Ready());
  EXPECT_EQ(ipcSharedMemory(name.c_str()).rdstate(), 3);
  EXPECT_EQ(ipcSharedMemory(name.c_str(), 16).rdstate(), 1);
}

} // namespace
