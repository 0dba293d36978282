// tests/posix/sharedmemory_posix_test.cpp: ipcSharedMemory against the raw shm objects: their
// bytes, modes and names, reclaimed names, and objects of another user.
// Licensed under the Apache License, Version 2.0.
#include <tavutil/mutexsem.h>
#include <tavutil/sharedmemory.h>

#include "helpers/ipc_commands.h"
#include "helpers/named_objects.h"
#include "helpers/run_program.h"
#include "helpers/trace_entry.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <vector>

namespace {

class ipcSharedMemoryTest : public NamedObjectTest {};

char* Bytes(const ipcSharedMemory& section) {
  return static_cast<char*>(section.Pointer());
}

TEST_F(ipcSharedMemoryTest, TheSectionIsTheRawObjectsBytesAndOwnerOnly) {
  const std::string name = Unique("raw");
  const mode_t saved = ::umask(0377); // objects are 0600 whatever the umask
  const ipcSharedMemory section(name.c_str(), 10000);
  const TMutexSemaphore mutex(name.c_str()); // another object under the same name
  ::umask(saved);
  ASSERT_EQ(section.rdstate(), 0);
  for (const IpcKind kind : {IpcKind::section, IpcKind::mutex}) {
    struct stat status {};
    ASSERT_EQ(::stat(ShmPath(kind, name).c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);
  }
  char* bytes = Bytes(section);
  bytes[9999] = '\xfe';
  // The same bytes through shm_open and mmap of the object's own name.
  const int fd = ::shm_open(OsName(IpcKind::section, name).c_str(), O_RDONLY, 0);
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

/// Names in the directory of shm objects that start with `prefix`.
int CountNames(const std::string& prefix) {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/dev/shm")) {
    count += entry.path().filename().string().rfind(prefix, 0) == 0 ? 1 : 0;
  }
  return count;
}

TEST_F(ipcSharedMemoryTest, NamesWhoseUsersWereAllKilledGoAtTheNextOpeningOrCreation) {
  // 25 sections and 25 mutexes, each made by one process and joined by another, both killed.
  constexpr int kEach = 25;
  const std::string base = Unique("killed");
  for (int i = 0; i < kEach; ++i) {
    Track(base + "." + std::to_string(i));
  }
  // Every name starts with the escaped base, whatever the kind.
  const std::string section = OsName(IpcKind::section, base).substr(1);
  const std::string mutex = OsName(IpcKind::mutex, base).substr(1);
  const auto left = [&] { return CountNames(section + ".") + CountNames(mutex + "."); };
  const auto killAll = [&] {
    ChildProcess maker(Helper("ipc_helper"));
    ChildProcess joiner(Helper("ipc_helper"));
    ASSERT_EQ(maker.Ask("hold " + base + " " + std::to_string(kEach)), std::to_string(kEach));
    ASSERT_EQ(joiner.Ask("hold " + base + " " + std::to_string(kEach)), std::to_string(kEach));
    maker.Kill();
    joiner.Kill();
    ASSERT_EQ(left(), 2 * kEach) << "the kill left no names to reclaim";
  };
  const std::string kept = Unique("kept");
  const ipcSharedMemory made(kept.c_str(), 16);
  ASSERT_EQ(made.rdstate(), 0);
  killAll();
  const ipcSharedMemory opened(kept.c_str());
  ASSERT_EQ(opened.rdstate(), 0);
  EXPECT_EQ(left(), 0) << "names of killed users outlived the next opening";
  killAll();
  const ipcSharedMemory next(Unique("next").c_str(), 16);
  ASSERT_EQ(next.rdstate(), 0);
  EXPECT_EQ(left(), 0) << "names of killed users outlived the next creation";
}

TEST_F(ipcSharedMemoryTest, AChildThatSkippedTheForkHandlersLeavesTheNameToItsParent) {
  // A raw clone runs no fork handlers: the child shares the parent's descriptor, and its
  // lock, and must not take the parent for gone when it lets go.
  const std::string name = Unique("raw-fork");
  auto section = std::make_unique<ipcSharedMemory>(name.c_str(), 16);
  ASSERT_EQ(section->rdstate(), 0);
  Bytes(*section)[0] = 'p';
  const long child = ::syscall(SYS_clone, SIGCHLD, 0, 0, 0, 0);
  ASSERT_NE(child, -1);
  if (child == 0) {
    section.reset();
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(static_cast<pid_t>(child), &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_TRUE(ShmExists(IpcKind::section, name)) << "the child removed its parent's name";
  const ipcSharedMemory joined(name.c_str());
  ASSERT_EQ(joined.rdstate(), 0);
  EXPECT_EQ(Bytes(joined)[0], 'p');
}

/// Tests with a second local user; skipped (with the reason) when it cannot be had.
class ipcSharedMemoryUsers : public NamedObjectTest {
protected:
  void SetUp() override {
    std::string why;
    const passwd* peer = PeerUser(why);
    if (peer == nullptr) {
      GTEST_SKIP() << why;
    }
    fPeer = *peer;
  }
  passwd fPeer{};
};

TEST_F(ipcSharedMemoryUsers, ObjectsAnotherUserPlacedUnderOurNamesAreRefused) {
  // The peer makes a section and a mutex in its own namespace, holds them, and they are moved
  // under this user's names, as the peer could have made them there.
  const std::string name = Unique("planted");
  ChildProcess peer(&fPeer, RunIpcCommands);
  ASSERT_EQ(peer.Ask("create " + name + " 64"), "0 1 64");
  ASSERT_EQ(peer.Ask("poke 0 42"), "ok");
  ASSERT_EQ(peer.Ask("mutex " + name), "ok");
  for (const IpcKind kind : {IpcKind::section, IpcKind::mutex}) {
    ASSERT_EQ(std::rename(ShmPath(kind, name, fPeer.pw_uid).c_str(), ShmPath(kind, name).c_str()),
              0);
  }
  TRecording trace;
  EXPECT_EQ(ipcSharedMemory(name.c_str()).rdstate(), 3);
  EXPECT_EQ(ipcSharedMemory(name.c_str(), 64).rdstate(), 1);
  {
    TMutexSemaphore mutex(name.c_str());
    EXPECT_EQ(TMutexSemaphoreEntry(mutex, 0).State(), TMutexSemaphore::failed);
  }
  ExpectEntries(trace, {TUtilityTraceCategory::Utility, "utility/MUTEXSEM"},
                {{0x4, 71, "Error 13 from CreateMutex(" + name + ")"}});
  for (const IpcKind kind : {IpcKind::section, IpcKind::mutex}) {
    struct stat status {};
    EXPECT_TRUE(::stat(ShmPath(kind, name).c_str(), &status) == 0 && status.st_uid == fPeer.pw_uid)
        << "the planted object was replaced";
    ::unlink(ShmPath(kind, name).c_str());
  }
  EXPECT_EQ(peer.Ask("peek 0"), "42");
  EXPECT_EQ(peer.Finish(), 0);
}

TEST_F(ipcSharedMemoryUsers, UsersHaveNamespacesOfTheirOwn) {
  const std::string name = Unique("namespaces");
  const ipcSharedMemory mine(name.c_str(), 16);
  ASSERT_EQ(mine.rdstate(), 0);
  const TMutexSemaphore mutex(name.c_str());
  TMutexSemaphoreEntry held(const_cast<TMutexSemaphore&>(mutex), 0);
  ASSERT_EQ(held.State(), TMutexSemaphore::locked);
  ChildProcess peer(&fPeer, RunIpcCommands);
  EXPECT_EQ(peer.Ask("open " + name), "3 0 0");
  ASSERT_EQ(peer.Ask("create " + name + " 16"), "0 1 16");
  ASSERT_EQ(peer.Ask("poke 0 7"), "ok");
  EXPECT_EQ(Bytes(mine)[0], 0);
  ASSERT_EQ(peer.Ask("mutex " + name), "ok");
  EXPECT_EQ(peer.Ask("lock 0"), "0"); // another mutex: not held by this process
  EXPECT_EQ(peer.Finish(), 0);
}

} // namespace
