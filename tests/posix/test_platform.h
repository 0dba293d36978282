// tests/posix/test_platform.h: what the tests ask of a POSIX system directly: child processes,
// named objects, special files and the second local user; the thread itself, the allocator,
// dynamic libraries, the temporary directory and a stand-in for the system log.
// Licensed under the Apache License, Version 2.0.
#ifndef TAVUTIL_TESTS_TEST_PLATFORM_H
#define TAVUTIL_TESTS_TEST_PLATFORM_H

#include "platform/posix/ipclayout.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>
#include <grp.h>
#include <iostream>
#include <malloc.h>
#include <poll.h>
#include <pthread.h>
#include <pwd.h>
#include <string>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

/// This process's id, as trace prefixes and log records show it.
inline unsigned long ProcessId() {
  return static_cast<unsigned long>(::getpid());
}

/// A child process whose standard input, output and error are one socket of ours: talked to a
/// line at a time or read to its end, and killed when the object goes.
class ChildProcess {
public:
  /// Runs `arguments` (the program's path first) with `environment` ("NAME=value") added to
  /// this process's environment.
  explicit ChildProcess(std::vector<std::string> arguments,
                        const std::vector<std::string>& environment = {}) {
    if (!environment.empty()) { // env(1) sets them, then runs the program
      arguments.insert(arguments.begin(), environment.begin(), environment.end());
      arguments.insert(arguments.begin(), "/usr/bin/env");
    }
    // Everything the child needs is made here: between fork and exec only system calls run.
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
      argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    Start([&] {
      ::execv(argv[0], argv.data());
      return 127;
    });
  }
  /// Runs `body` (giving the exit status) in a child forked without exec; as `user` when one is
  /// given (the caller must be root: another user may not be allowed into the build directory).
  template <typename Body> ChildProcess(const passwd* user, const Body& body) {
    Start([&] {
      return user != nullptr && (::setgroups(0, nullptr) != 0 || ::setgid(user->pw_gid) != 0 ||
                                 ::setuid(user->pw_uid) != 0)
                 ? 126
                 : body();
    });
  }
  ~ChildProcess() {
    Kill();
    if (fSocket >= 0) {
      ::close(fSocket);
    }
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t Id() const { return fPid; }

  bool Send(const std::string& command) const {
    const std::string line = command + "\n";
    // MSG_NOSIGNAL: a dead child must fail the test, not end it.
    return ::send(fSocket, line.data(), line.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(line.size());
  }

  /// The next line without its end, or "<none>" when none comes within `timeoutMs`.
  std::string Read(int timeoutMs = 10000) const {
    std::string line;
    pollfd ready{fSocket, POLLIN, 0};
    char c = 0;
    while (::poll(&ready, 1, timeoutMs) == 1 && ::read(fSocket, &c, 1) == 1 && c != '\n') {
      line += c;
    }
    return c == '\n' ? line : "<none>";
  }

  std::string Ask(const std::string& command) const { return Send(command) ? Read() : "<none>"; }

  /// Everything the child writes until it closes its end.
  std::string ReadAll() const {
    std::string all;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fSocket, buffer, sizeof buffer)) > 0;) {
      all.append(buffer, static_cast<std::size_t>(n));
    }
    return all;
  }

  /// Ends the child's input: it reads the end of its standard input.
  void CloseInput() const { ::shutdown(fSocket, SHUT_WR); }

  /// Waits up to `timeoutMs` (without limit when negative) for the child to end: its exit
  /// status, or -1 when it still runs (the destructor kills it) or was ended by a signal.
  int Wait(int timeoutMs = 10000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    while (fPid > 0) {
      const pid_t ended = ::waitpid(fPid, &status, timeoutMs < 0 ? 0 : WNOHANG);
      if (ended != 0) {
        fPid = -1;
        return ended > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      if (std::chrono::steady_clock::now() > deadline) {
        return -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return -1;
  }

  /// Asks the child to exit and gives its exit status, or -1.
  int Finish() {
    Send("exit");
    CloseInput();
    return Wait();
  }

  /// Ends the child with SIGKILL, as a crash would, and reaps it.
  void Kill() {
    if (fPid > 0) {
      ::kill(fPid, SIGKILL);
      ::waitpid(fPid, nullptr, 0);
      fPid = -1;
    }
  }

private:
  template <typename Body> void Start(const Body& body) {
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
      return;
    }
    std::cout.flush(); // nothing buffered may be written twice
    std::fflush(nullptr);
    fPid = ::fork();
    if (fPid == 0) {
      for (const int standard : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        ::dup2(ends[1], standard);
      }
      ::_exit(body());
    }
    ::close(ends[1]);
    fSocket = ends[0];
  }

  pid_t fPid = -1;
  int fSocket = -1;
};

/// `arguments` (the program's path first) as a command that runs the program with at most
/// `megabytes` of address space (the shell's `ulimit -v`).
inline std::vector<std::string> WithMemoryLimit(std::vector<std::string> arguments,
                                                std::size_t megabytes) {
  arguments.insert(arguments.begin(),
                   {"/bin/sh", "-c",
                    "ulimit -v " + std::to_string(megabytes * 1024) + " && exec \"$0\" \"$@\""});
  return arguments;
}

/// Whether a mutex and a section may not have the same name (they may here: each kind of object
/// has names of its own).
constexpr bool kMutexesAndSectionsShareNames = false;

/// The files in `directory` that the process `process` holds open.
inline int FilesOpenIn(const std::string& directory, unsigned long process = ProcessId()) {
  int count = 0;
  std::error_code error;
  const std::filesystem::path fds = "/proc/" + std::to_string(process) + "/fd";
  for (const auto& entry : std::filesystem::directory_iterator(fds, error)) {
    const std::string target = std::filesystem::read_symlink(entry.path(), error).string();
    count += !error && target.rfind(directory + "/", 0) == 0 ? 1 : 0;
  }
  return count;
}

/// Makes a FIFO at `path` (opening it without a peer would wait for one); false when it cannot
/// be made.
inline bool MakeFifo(const std::string& path) {
  return ::mkfifo(path.c_str(), 0600) == 0;
}

/// A device that any process may open by name and that never ends when read.
inline constexpr char kDeviceName[] = "/dev/zero";

using IpcKind = tavutil::platform::posix::IpcKind;

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

/// Removes the mutex and the section called `name`; names those there were ("" for none).
inline std::string RemoveNamedObjects(const std::string& name) {
  std::string left;
  for (const IpcKind kind : {IpcKind::mutex, IpcKind::section}) {
    if (ShmExists(kind, name)) {
      left += " " + ShmPath(kind, name);
      ::shm_unlink(OsName(kind, name).c_str());
    }
  }
  return left;
}

/// The other local user of the several-user tests (.ci/run makes it); null, with the reason in
/// `why`, when this process is not root or there is no such user.
inline const passwd* PeerUser(std::string& why) {
  const passwd* user = ::geteuid() == 0 ? ::getpwnam("tavutil-peer") : nullptr;
  if (user == nullptr) {
    why = ::geteuid() != 0 ? "needs root, to run a process as a second user"
                           : "no user tavutil-peer (useradd --system tavutil-peer makes one)";
  }
  return user;
}

/// The calling thread's system-wide id, as trace prefixes show it.
inline long OwnThreadId() {
  return ::syscall(SYS_gettid);
}

/// The stack size the calling thread runs on, in bytes; 0 when unknown.
inline std::size_t OwnStackSize() {
  pthread_attr_t attributes;
  std::size_t size = 0;
  if (::pthread_getattr_np(::pthread_self(), &attributes) == 0) {
    ::pthread_attr_getstacksize(&attributes, &size);
    ::pthread_attr_destroy(&attributes);
  }
  return size;
}

/// The system's error code for a post to a semaphore that is full.
constexpr unsigned kTooManyPostsError = EOVERFLOW;

/// A stack size no thread can be given (half the address space, which a 32-bit process on a
/// 64-bit system may get: there the whole of it), and why there is none when 0.
constexpr unsigned long kUngivableStackSize = sizeof(void*) == 4 ? ULONG_MAX : ULONG_MAX / 2;
constexpr const char* kNoUngivableStackReason = nullptr;

/// Why a thread that ends itself from inside Run cannot be tested here; null when it can.
constexpr const char* kNoThreadExitReason = nullptr;

/// Ends the calling thread at once (pthread_exit, which unwinds its stack).
[[noreturn]] inline void ExitThisThread() {
  ::pthread_exit(nullptr);
}

/// Why this program's operator delete does not see the blocks the library frees; null when it
/// does (one operator delete serves the process).
constexpr const char* kNoLibraryFreesSeenReason = nullptr;

/// The usable size of the malloc block `p`.
inline std::size_t BlockSize(void* p) noexcept {
  return malloc_usable_size(p);
}

/// malloc, except that a block of a gigabyte or more starts on a huge page and asks for huge
/// pages: the longest-string test touches 8 GiB, which 4 KiB pages make ten times slower. Freed
/// with std::free.
inline void* AllocateBlock(std::size_t n) noexcept {
  constexpr std::size_t kHuge = std::size_t{2} << 20;
  if (n < (std::size_t{1} << 30)) {
    return std::malloc(n != 0 ? n : 1);
  }
  const std::size_t rounded = (n + kHuge - 1) & ~(kHuge - 1);
  void* p = std::aligned_alloc(kHuge, rounded);
  if (p != nullptr) {
    ::madvise(p, rounded, MADV_HUGEPAGE);
  }
  return p;
}

/// A loaded library that holds no string table (the C math library).
inline void* LoadLibraryWithoutStrings() {
  return ::dlopen("libm.so.6", RTLD_NOW);
}

/// The system's codes for a string the library lacks, and for a library without strings.
constexpr int kNoSuchStringError = ENOENT;
constexpr int kNoStringTableError = ENOEXEC;

/// What the loader's failure text holds for a library file that is not there, and for a symbol
/// the library lacks.
inline std::string MissingLibraryFragment(const std::string& file) {
  return file + ": cannot open";
}
inline std::string MissingSymbolFragment(const char* symbol) {
  return std::string("undefined symbol: ") + symbol;
}
/// Whether a library with an unresolved symbol can be built (and fail to load).
constexpr bool kHasUnresolvedLibrary = true;

/// Makes `directory` the temporary directory of this process (TMPDIR) for the object's life.
class ScopedTemporaryDirectory {
public:
  explicit ScopedTemporaryDirectory(const std::string& directory) {
    const char* old = std::getenv("TMPDIR");
    fHad = old != nullptr;
    fOld = fHad ? old : "";
    ::setenv("TMPDIR", directory.c_str(), 1);
  }
  ~ScopedTemporaryDirectory() {
    if (fHad) {
      ::setenv("TMPDIR", fOld.c_str(), 1);
    } else {
      ::unsetenv("TMPDIR");
    }
  }
  ScopedTemporaryDirectory(const ScopedTemporaryDirectory&) = delete;
  ScopedTemporaryDirectory& operator=(const ScopedTemporaryDirectory&) = delete;

private:
  bool fHad = false;
  std::string fOld;
};

/// Why the system's own log (the output without an address) is not tried here; null when it is.
constexpr const char* kNoOwnLogReason =
    "the system's own log is /dev/log, which a test may not write to nor read back";

/// A datagram socket bound where the output sends: the stand-in for the system log.
class LogReceiver {
public:
  LogReceiver() : fSocket(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    Address().copy(address.sun_path, sizeof address.sun_path - 1);
    ::unlink(address.sun_path);
    EXPECT_EQ(::bind(fSocket, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  }
  ~LogReceiver() {
    ::close(fSocket);
    ::unlink(Address().c_str());
  }
  LogReceiver(const LogReceiver&) = delete;
  LogReceiver& operator=(const LogReceiver&) = delete;

  /// Where the output is to send.
  static std::string Address() {
    return ::testing::TempDir() + "tavlog." + std::to_string(::getpid());
  }
  /// The next record, or "<none>" when none comes within a second.
  std::string Receive() {
    pollfd ready{fSocket, POLLIN, 0};
    if (::poll(&ready, 1, 1000) != 1) {
      return "<none>";
    }
    std::string record(65536, '\0');
    const ssize_t size = ::recv(fSocket, record.data(), record.size(), 0);
    record.resize(size > 0 ? static_cast<std::size_t>(size) : 0);
    return record;
  }

private:
  int fSocket;
};

#endif // TAVUTIL_TESTS_TEST_PLATFORM_H
