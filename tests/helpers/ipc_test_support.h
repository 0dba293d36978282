// tests/helpers/ipc_test_support.h: helper processes and named-object bookkeeping for the
// multi-process tests.
// Licensed under the Apache License, Version 2.0.
//
// ChildProcess runs the ipc_helper program (built next to the tests) and talks to it one line
// at a time; IpcNames hands out names unique to the run and, at tear-down, fails the test for
// and removes any object of those names that is still in /dev/shm.
#ifndef TAVUTIL_TESTS_IPC_TEST_SUPPORT_H
#define TAVUTIL_TESTS_IPC_TEST_SUPPORT_H

#include "platform/posix/ipclayout.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace ipctest {

using tavutil::platform::posix::IpcKind;

/// The shm name of the named object `name` of that kind.
inline std::string OsName(IpcKind kind, const std::string& name) {
  char buffer[tavutil::platform::posix::kIpcNameCapacity];
  tavutil::platform::posix::MakeIpcName(kind, name.data(), name.size(), buffer);
  return buffer;
}

/// Where the object lives in the file system.
inline std::string ShmPath(IpcKind kind, const std::string& name) {
  return "/dev/shm" + OsName(kind, name);
}

inline bool ShmExists(IpcKind kind, const std::string& name) {
  struct stat status {};
  return ::stat(ShmPath(kind, name).c_str(), &status) == 0;
}

/// The ipc_helper program, started with fork and exec; killed when the object goes.
class ChildProcess {
public:
  ChildProcess() {
    std::signal(SIGPIPE, SIG_IGN); // a dead child must fail the test, not end it
    int toChild[2];
    int fromChild[2];
    if (::pipe2(toChild, O_CLOEXEC) != 0) {
      return;
    }
    if (::pipe2(fromChild, O_CLOEXEC) != 0) {
      ::close(toChild[0]);
      ::close(toChild[1]);
      return;
    }
    const std::string path = std::string(TAVUTIL_TEST_BINARY_DIR) + "/ipc_helper";
    std::vector<char> program(path.begin(), path.end());
    program.push_back('\0');
    char* const argv[] = {program.data(), nullptr};
    fPid = ::fork();
    if (fPid == 0) {
      ::dup2(toChild[0], STDIN_FILENO);
      ::dup2(fromChild[1], STDOUT_FILENO);
      ::execv(program.data(), argv);
      ::_exit(127);
    }
    ::close(toChild[0]);
    ::close(fromChild[1]);
    fIn = toChild[1];
    fOut = fromChild[0];
  }
  ~ChildProcess() {
    Kill();
    if (fIn >= 0) {
      ::close(fIn);
    }
    if (fOut >= 0) {
      ::close(fOut);
    }
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Started() const { return fPid > 0; }

  /// Sends one command line.
  bool Send(const std::string& command) {
    const std::string line = command + "\n";
    return fIn >= 0 && ::write(fIn, line.data(), line.size()) == static_cast<ssize_t>(line.size());
  }

  /// The next answer line; "<timeout>" or "<eof>" when none comes.
  std::string Read(int timeoutMs = 20000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      const std::size_t newline = fBuffer.find('\n');
      if (newline != std::string::npos) {
        std::string line = fBuffer.substr(0, newline);
        fBuffer.erase(0, newline + 1);
        return line;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          end - std::chrono::steady_clock::now());
      if (left.count() <= 0) {
        return "<timeout>";
      }
      pollfd ready{fOut, POLLIN, 0};
      if (::poll(&ready, 1, static_cast<int>(left.count())) <= 0) {
        continue;
      }
      char chunk[4096];
      const ssize_t got = ::read(fOut, chunk, sizeof chunk);
      if (got <= 0) {
        return "<eof>";
      }
      fBuffer.append(chunk, static_cast<std::size_t>(got));
    }
  }

  /// Sends a command and gives its answer.
  std::string Ask(const std::string& command) { return Send(command) ? Read() : "<dead>"; }

  /// Asks the child to exit and reaps it; its exit status, or -1 when it had to be killed.
  int Finish(int timeoutMs = 20000) {
    Send("exit");
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (fPid > 0 && std::chrono::steady_clock::now() < end) {
      int status = 0;
      if (::waitpid(fPid, &status, WNOHANG) == fPid) {
        fPid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    Kill();
    return -1;
  }

  /// Ends the child with SIGKILL and reaps it.
  void Kill() {
    if (fPid > 0) {
      ::kill(fPid, SIGKILL);
      ::waitpid(fPid, nullptr, 0);
      fPid = -1;
    }
  }

private:
  pid_t fPid = -1;
  int fIn = -1;
  int fOut = -1;
  std::string fBuffer;
};

/// A named object made by hand under the shm name of `name`, which records `storedName` as its
/// own: what a second name with the same hash would look like. It holds a shared lock, as a
/// live user does, so the library must not take it for abandoned. Removed when it goes.
class ForeignObject {
public:
  ForeignObject(IpcKind kind, const std::string& name, const std::string& storedName)
      : fOsName(OsName(kind, name)) {
    using tavutil::platform::posix::IpcObjectHeader;
    fFd = ::shm_open(fOsName.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    const std::size_t payload = 4096;
    const std::size_t offset = (sizeof(IpcObjectHeader) + storedName.size() + 4095) / 4096 * 4096;
    if (fFd < 0 || ::flock(fFd, LOCK_SH) != 0 ||
        ::ftruncate(fFd, static_cast<off_t>(offset + payload)) != 0) {
      return;
    }
    void* base = ::mmap(nullptr, offset + payload, PROT_READ | PROT_WRITE, MAP_SHARED, fFd, 0);
    if (base == MAP_FAILED) {
      return;
    }
    auto* header = static_cast<IpcObjectHeader*>(base);
    header->kind = static_cast<std::uint32_t>(kind);
    header->nameLength = storedName.size();
    header->payloadOffset = offset;
    header->payloadSize = payload;
    std::memcpy(static_cast<char*>(base) + sizeof(IpcObjectHeader), storedName.data(),
                storedName.size());
    header->ready.store(tavutil::platform::posix::kIpcReady);
    ::munmap(base, offset + payload);
    fReady = true;
  }
  ~ForeignObject() {
    if (fFd >= 0) {
      ::shm_unlink(fOsName.c_str());
      ::close(fFd);
    }
  }
  ForeignObject(const ForeignObject&) = delete;
  ForeignObject& operator=(const ForeignObject&) = delete;

  bool Ready() const { return fReady; }

private:
  std::string fOsName;
  int fFd = -1;
  bool fReady = false;
};

/// Fixture base: names unique to this process and run, checked and removed at tear-down.
class IpcNames : public ::testing::Test {
protected:
  /// A new name "tavutil-test.<pid>.<n>.<tag>", tracked.
  std::string Unique(const std::string& tag) {
    static int counter = 0;
    return Track("tavutil-test." + std::to_string(::getpid()) + "." + std::to_string(++counter) +
                 "." + tag);
  }

  /// Tracks a name made from unique ones, so that its objects are checked and removed.
  std::string Track(const std::string& name) {
    fNames.push_back(name);
    return name;
  }

  void TearDown() override {
    for (const std::string& name : fNames) {
      for (const IpcKind kind : {IpcKind::mutex, IpcKind::section}) {
        if (ShmExists(kind, name)) {
          ADD_FAILURE() << "left behind: " << ShmPath(kind, name);
          ::shm_unlink(OsName(kind, name).c_str());
        }
      }
    }
  }

private:
  std::vector<std::string> fNames;
};

} // namespace ipctest

#endif // TAVUTIL_TESTS_IPC_TEST_SUPPORT_H
