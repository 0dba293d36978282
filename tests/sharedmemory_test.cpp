// tests/sharedmemory_test.cpp: ipcSharedMemory within a process, between processes and
// against the raw shm object.
// Licensed under the Apache License, Version 2.0.
#include <tavutil/mutexsem.h>
#include <tavutil/sharedmemory.h>

#include "helpers/ipc_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

using ipctest::ChildProcess;
using ipctest::IpcKind;
using ipctest::ShmExists;
using ipctest::ShmPath;

class ipcSharedMemoryTest : public ipctest::IpcNames {};

char* Bytes(const ipcSharedMemory& section) {
  return static_cast<char*>(section.Pointer());
}

TEST_F(ipcSharedMemoryTest, SectionIsTheSameBytesInAnotherProcessAndInTheRawObject) {
  const std::string name = Unique("shared");
  ipcSharedMemory section(name.c_str(), 10000);
  ASSERT_EQ(section.rdstate(), 0);
  EXPECT_STREQ(section.Name(), name.c_str());
  char* bytes = Bytes(section);
  ASSERT_NE(bytes, nullptr);
  EXPECT_EQ(std::count(bytes, bytes + 10000, '\0'), 10000);
  bytes[9999] = '\xfe';

  ChildProcess child;
  EXPECT_EQ(child.Ask("create " + name + " 64"), "1 1 64"); // the name is in use
  ASSERT_EQ(child.Ask("open " + name), "0 0 0");
  EXPECT_EQ(child.Ask("peek 9999"), "254");
  ASSERT_EQ(child.Ask("poke 100 192"), "ok");
  EXPECT_EQ(bytes[100], '\xc0');
  EXPECT_EQ(child.Finish(), 0);

  // The same bytes through shm_open and mmap of the object's own name.
  const int fd = ::shm_open(ipctest::OsName(IpcKind::section, name).c_str(), O_RDONLY, 0);
  struct stat status {};
  ASSERT_TRUE(fd >= 0 && ::fstat(fd, &status) == 0);
  const auto length = static_cast<std::size_t>(status.st_size);
  void* raw = ::mmap(nullptr, length, PROT_READ, MAP_SHARED, fd, 0);
  ::close(fd);
  ASSERT_NE(raw, MAP_FAILED);
  const auto& header = *static_cast<const tavutil::platform::posix::IpcObjectHeader*>(raw);
  EXPECT_EQ(header.payloadSize, 10000u);
  EXPECT_TRUE(header.payloadOffset + 10000 <= length &&
              std::memcmp(static_cast<char*>(raw) + header.payloadOffset, bytes, 10000) == 0);
  ::munmap(raw, length);
}

TEST_F(ipcSharedMemoryTest, BadNamesAndSizesAndUnknownSections) {
  for (const char* name : {static_cast<const char*>(nullptr), ""}) {
    ipcSharedMemory made(name, 16);
    EXPECT_EQ(made.rdstate(), 2);
    EXPECT_EQ(made.Name(), nullptr);
    EXPECT_EQ(ipcSharedMemory(name).rdstate(), 2);
  }
  const std::string name = Unique("unknown");
  EXPECT_EQ(ipcSharedMemory(name.c_str()).rdstate(), 3);
  for (const long size : {0L, -1L, 0x80000000L}) {
    EXPECT_EQ(ipcSharedMemory(name.c_str(), size).rdstate(), 1) << size;
  }
}

TEST_F(ipcSharedMemoryTest, SectionIsOwnerOnlyAndGoesWithItsLastMapper) {
  const std::string name = Unique("lifetime");
  const mode_t saved = ::umask(0377); // objects are 0600 whatever the umask
  auto made = std::make_unique<ipcSharedMemory>(name.c_str(), 32);
  const TMutexSemaphore mutex(name.c_str()); // another object under the same name
  ::umask(saved);
  ASSERT_EQ(made->rdstate(), 0);
  for (const IpcKind kind : {IpcKind::section, IpcKind::mutex}) {
    struct stat status {};
    ASSERT_EQ(::stat(ShmPath(kind, name).c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);
  }
  Bytes(*made)[0] = 'k';
  ChildProcess child;
  ASSERT_EQ(child.Ask("open " + name), "0 0 0");
  auto joined = std::make_unique<ipcSharedMemory>(name.c_str());
  made.reset();
  joined.reset();
  EXPECT_TRUE(ShmExists(IpcKind::section, name)) << "removed while the child maps it";
  EXPECT_EQ(child.Ask("peek 0"), "107");
  EXPECT_EQ(child.Finish(), 0);
  EXPECT_FALSE(ShmExists(IpcKind::section, name));

  // A section whose last user was killed outlives it; the next opener finds it gone.
  ChildProcess victim;
  ASSERT_EQ(victim.Ask("create " + name + " 32"), "0 1 32");
  ASSERT_EQ(victim.Ask("poke 0 107"), "ok");
  victim.Kill();
  EXPECT_TRUE(ShmExists(IpcKind::section, name));
  EXPECT_EQ(ipcSharedMemory(name.c_str()).rdstate(), 3);
  EXPECT_FALSE(ShmExists(IpcKind::section, name));
  ipcSharedMemory fresh(name.c_str(), 32);
  ASSERT_EQ(fresh.rdstate(), 0);
  EXPECT_EQ(Bytes(fresh)[0], 0);
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
    const ipcSharedMemory opened(names[i].c_str());
    ASSERT_EQ(opened.rdstate(), 0) << names[i];
    EXPECT_EQ(Bytes(opened)[0], static_cast<char>('a' + i)) << names[i];
  }
}

TEST_F(ipcSharedMemoryTest, ObjectOfAnotherNameUnderItsOsNameIsRefused) {
  // What two long names with the same hash meet: an object that records another name.
  const std::string name = Unique("name-a");
  const std::string other = Track(name.substr(0, name.size() - 1) + "b");
  const ipcSharedMemory section(other.c_str(), 16);
  const std::string path = ShmPath(IpcKind::section, name);
  ASSERT_EQ(std::rename(ShmPath(IpcKind::section, other).c_str(), path.c_str()), 0);
  EXPECT_EQ(ipcSharedMemory(name.c_str()).rdstate(), 3);
  EXPECT_EQ(::unlink(path.c_str()), 0) << "the refused object was removed";
}

} // namespace
