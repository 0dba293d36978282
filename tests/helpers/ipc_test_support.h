// tests/helpers/ipc_test_support.h: helper processes and named-object bookkeeping for the
// multi-process tests.
// Licensed under the Apache License, Version 2.0.
#ifndef TAVUTIL_TESTS_IPC_TEST_SUPPORT_H
#define TAVUTIL_TESTS_IPC_TEST_SUPPORT_H

#include "helpers/ipc_commands.h"
#include "platform/posix/ipclayout.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <string>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace ipctest {

using tavutil::platform::posix::IpcKind;

/// The shm name of the object called `name` of the user `user` (this process's by default).
inline std::string OsName(IpcKind kind, const std::string& name, uid_t user = ::geteuid()) {
  char buffer[tavutil::platform::posix::kIpcNameCapacity];
  tavutil::platform::posix::MakeIpcName(kind, user, name.data(), name.size(), buffer);
  return buffer;
}

inline std::string ShmPath(IpcKind kind, const std::string& name, uid_t user = ::geteuid()) {
  return tavutil::platform::posix::kIpcDirectory + OsName(kind, name, user);
}

inline bool ShmExists(IpcKind kind, const std::string& name) {
  return ::access(ShmPath(kind, name).c_str(), F_OK) == 0;
}

/// The next line from descriptor `fd` without its newline, or "<none>" when none comes within
/// `timeoutMs` milliseconds.
inline std::string ReadLine(int fd, int timeoutMs) {
  std::string line;
  pollfd ready{fd, POLLIN, 0};
  char c = 0;
  while (::poll(&ready, 1, timeoutMs) == 1 && ::read(fd, &c, 1) == 1 && c != '\n') {
    line += c;
  }
  return c == '\n' ? line : "<none>";
}

/// Ends process `pid` with SIGKILL and reaps it; `pid` becomes -1. Nothing for -1.
inline void KillAndReap(pid_t& pid) {
  if (pid > 0) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    pid = -1;
  }
}

/// The ipc_helper program (built next to the tests), talked to one line at a time over a
/// socket; killed when the object goes. Given a user (the caller must be root), it is a child
/// forked without exec that runs the same commands as that user, who may not be allowed into
/// the build directory.
class ChildProcess {
public:
  explicit ChildProcess(const passwd* user = nullptr) {
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
      return;
    }
    const std::string path = std::string(TAVUTIL_TEST_BINARY_DIR) + "/ipc_helper";
    std::cout.flush(); // nothing buffered may be written twice
    std::fflush(nullptr);
    fPid = ::fork();
    if (fPid == 0) {
      ::dup2(ends[1], STDIN_FILENO);
      ::dup2(ends[1], STDOUT_FILENO);
      ::close(ends[0]);
      ::close(ends[1]);
      if (user == nullptr) {
        ::execl(path.c_str(), path.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
      }
      if (::setgroups(0, nullptr) != 0 || ::setgid(user->pw_gid) != 0 ||
          ::setuid(user->pw_uid) != 0) {
        ::_exit(126);
      }
      ::_exit(RunIpcCommands());
    }
    ::close(ends[1]);
    fSocket = ends[0];
  }
  ~ChildProcess() {
    Kill();
    if (fSocket >= 0) {
      ::close(fSocket);
    }
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Send(const std::string& command) const {
    const std::string line = command + "\n";
    // MSG_NOSIGNAL: a dead child must fail the test, not end it.
    return ::send(fSocket, line.data(), line.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(line.size());
  }

  /// The next answer line, or "<none>" when none comes in time.
  std::string Read(int timeoutMs = 10000) const { return ReadLine(fSocket, timeoutMs); }

  std::string Ask(const std::string& command) { return Send(command) ? Read() : "<none>"; }

  /// Asks the child to exit and gives its exit status, or -1.
  int Finish() {
    Send("exit");
    pollfd gone{fSocket, 0, 0}; // reports the hang-up once the child has closed its end
    int status = 0;
    if (::poll(&gone, 1, 10000) != 1 || ::waitpid(fPid, &status, 0) != fPid) {
      return -1; // still running: the destructor kills it
    }
    fPid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  /// Ends the child with SIGKILL and reaps it.
  void Kill() { KillAndReap(fPid); }

private:
  pid_t fPid = -1;
  int fSocket = -1;
};

/// The account that plays another local user in the several-user tests.
inline constexpr char kPeerUser[] = "tavutil-peer";

/// The other local user, made when missing; null, with the reason in `why`, when this process
/// is not root or the account cannot be made.
inline const passwd* PeerUser(std::string& why) {
  if (::geteuid() != 0) {
    why = "needs root, to run a process as a second user";
    return nullptr;
  }
  if (::getpwnam(kPeerUser) == nullptr) {
    const std::string command = std::string("useradd --system --no-create-home --shell "
                                            "/usr/sbin/nologin ") +
                                kPeerUser + " >/dev/null 2>&1";
    static_cast<void>(std::system(command.c_str()));
  }
  const passwd* user = ::getpwnam(kPeerUser);
  if (user == nullptr) {
    why = std::string("no user ") + kPeerUser + ", and useradd could not make one";
  }
  return user;
}

/// Fixture base: names unique to this process and run; an object of theirs still there at
/// tear-down fails the test and is removed.
class IpcNames : public ::testing::Test {
protected:
  /// A new name "tavutil-test.<pid>.<n>.<tag>", tracked.
  std::string Unique(const std::string& tag) {
    static int counter = 0;
    return Track("tavutil-test." + std::to_string(::getpid()) + "." + std::to_string(++counter) +
                 "." + tag);
  }

  /// Tracks a name made from unique ones.
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
