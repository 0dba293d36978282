// tests/windows/test_platform.h: what the tests ask of Windows directly: child processes, named
// objects and special files; the thread itself, the allocator, dynamic libraries, the temporary
// directory and a stand-in for the system log.
// Licensed under the Apache License, Version 2.0.
#ifndef TAVUTIL_TESTS_TEST_PLATFORM_H
#define TAVUTIL_TESTS_TEST_PLATFORM_H

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <malloc.h>
#include <process.h>
#include <string>
#include <vector>

/// This process's id, as trace prefixes and log records show it.
inline unsigned long ProcessId() {
  return ::GetCurrentProcessId();
}

/// A child process whose standard input is a pipe of ours and whose standard output and error
/// are another: talked to a line at a time or read to its end (CR LF read as LF), and killed when
/// the object goes.
class ChildProcess {
public:
  /// Runs `arguments` (the program's path first) with `environment` ("NAME=value") added to
  /// this process's environment.
  explicit ChildProcess(const std::vector<std::string>& arguments,
                        const std::vector<std::string>& environment = {}) {
    std::string commandLine;
    for (const std::string& argument : arguments) {
      commandLine += (commandLine.empty() ? "" : " ") + Quoted(argument);
    }
    // The environment block: the given variables, then the inherited ones they do not replace.
    std::string block;
    for (const std::string& variable : environment) {
      block += variable + '\0';
    }
    if (char* inherited = ::GetEnvironmentStringsA()) {
      for (const char* variable = inherited; *variable != '\0';
           variable += std::string(variable).size() + 1) {
        const std::string text = variable;
        const std::string name = text.substr(0, text.find('=', 1) + 1);
        bool overridden = false;
        for (const std::string& given : environment) {
          overridden = overridden || ::_strnicmp(given.c_str(), name.c_str(), name.size()) == 0;
        }
        block += overridden ? "" : text + '\0';
      }
      ::FreeEnvironmentStringsA(inherited);
    }
    block += '\0';

    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE childIn = nullptr;
    HANDLE childOut = nullptr;
    if (arguments.empty() || !::CreatePipe(&childIn, &fInput, &inherit, 0)) {
      return;
    }
    if (!::CreatePipe(&fOutput, &childOut, &inherit, 0)) {
      ::CloseHandle(childIn);
      return;
    }
    // The child inherits only its own ends.
    ::SetHandleInformation(fInput, HANDLE_FLAG_INHERIT, 0);
    ::SetHandleInformation(fOutput, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = childIn;
    startup.hStdOutput = childOut;
    startup.hStdError = childOut;
    PROCESS_INFORMATION process{};
    if (::CreateProcessA(arguments[0].c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0,
                         block.data(), nullptr, &startup, &process)) {
      ::CloseHandle(process.hThread);
      fProcess = process.hProcess;
      fId = process.dwProcessId;
    }
    ::CloseHandle(childIn);
    ::CloseHandle(childOut);
  }
  ~ChildProcess() {
    Kill();
    CloseInput();
    if (fOutput != nullptr) {
      ::CloseHandle(fOutput);
    }
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  unsigned long Id() const { return fId; }

  bool Send(const std::string& command) {
    const std::string line = command + "\n";
    DWORD written = 0;
    return fInput != nullptr &&
           ::WriteFile(fInput, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) &&
           written == line.size();
  }

  /// The next line without its end, or "<none>" when none comes within `timeoutMs`.
  std::string Read(int timeoutMs = 10000) {
    const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
    for (std::size_t end; (end = fPending.find('\n')) == std::string::npos;) {
      DWORD available = 0;
      if (!::PeekNamedPipe(fOutput, nullptr, 0, nullptr, &available, nullptr)) {
        return "<none>"; // the child has gone
      }
      if (available == 0 && ::GetTickCount64() >= deadline) {
        return "<none>";
      }
      if (available == 0) {
        ::Sleep(2);
      } else if (!Receive(available)) {
        return "<none>";
      }
    }
    std::string line = fPending.substr(0, fPending.find('\n'));
    fPending.erase(0, line.size() + 1);
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    return line;
  }

  std::string Ask(const std::string& command) { return Send(command) ? Read() : "<none>"; }

  /// Everything the child writes until it closes its end.
  std::string ReadAll() {
    while (Receive(4096)) {
    }
    std::string text;
    for (std::size_t i = 0; i < fPending.size(); ++i) {
      if (fPending.compare(i, 2, "\r\n") != 0) {
        text += fPending[i];
      }
    }
    fPending.clear();
    return text;
  }

  /// Ends the child's input: it reads the end of its standard input.
  void CloseInput() {
    if (fInput != nullptr) {
      ::CloseHandle(fInput);
      fInput = nullptr;
    }
  }

  /// Waits up to `timeoutMs` (without limit when negative) for the child to end: its exit code,
  /// or -1 when it still runs (the destructor kills it) or did not start.
  int Wait(int timeoutMs = 10000) {
    DWORD code = 0;
    if (fProcess == nullptr ||
        ::WaitForSingleObject(fProcess, timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs)) !=
            WAIT_OBJECT_0 ||
        !::GetExitCodeProcess(fProcess, &code)) {
      return -1;
    }
    ::CloseHandle(fProcess);
    fProcess = nullptr;
    return static_cast<int>(code);
  }

  /// Asks the child to exit and gives its exit code, or -1.
  int Finish() {
    Send("exit");
    CloseInput();
    return Wait();
  }

  /// Ends the child at once, as a crash would: nothing of it runs any more, and the system
  /// closes its handles.
  void Kill() {
    if (fProcess != nullptr) {
      ::TerminateProcess(fProcess, 9);
      ::WaitForSingleObject(fProcess, INFINITE);
      ::CloseHandle(fProcess);
      fProcess = nullptr;
    }
  }

private:
  /// `argument` quoted for a command line as the C runtime's parser reads it back.
  static std::string Quoted(const std::string& argument) {
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (const char c : argument) {
      if (c == '\\') {
        ++backslashes;
        continue;
      }
      // Backslashes before a quote are doubled, and the quote escaped.
      quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
      backslashes = 0;
      quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    return quoted + "\"";
  }

  /// Reads up to `most` bytes into fPending; false at the end of the child's output.
  bool Receive(DWORD most) {
    char buffer[4096];
    DWORD got = 0;
    const DWORD wanted = most < sizeof buffer ? most : static_cast<DWORD>(sizeof buffer);
    if (fOutput == nullptr || !::ReadFile(fOutput, buffer, wanted, &got, nullptr) || got == 0) {
      return false;
    }
    fPending.append(buffer, got);
    return true;
  }

  HANDLE fProcess = nullptr;
  unsigned long fId = 0;
  HANDLE fInput = nullptr;  ///< our end of the child's standard input
  HANDLE fOutput = nullptr; ///< our end of the child's standard output and error
  std::string fPending;     ///< read but not yet returned
};

/// Running a program under a memory limit needs a job object, which these tests do not set up:
/// empty, and the test that asks skips.
inline std::vector<std::string> WithMemoryLimit(const std::vector<std::string>& /*arguments*/,
                                                std::size_t /*megabytes*/) {
  return {};
}

/// The files in `directory`: a temporary file keeps its name while a process holds it open.
inline int FilesOpenIn(const std::string& directory, unsigned long /*process*/ = 0) {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    static_cast<void>(entry);
    ++count;
  }
  return count;
}

/// Windows has no FIFO at a path of a directory (its named pipes live under \\.\pipe\).
inline bool MakeFifo(const std::string& /*path*/) {
  return false;
}

/// A device that any process may open by name (the null device, in every directory).
inline constexpr char kDeviceName[] = "NUL";

/// Whether a mutex and a section may not have the same name (they may not: mutexes and file
/// mappings share one namespace of kernel objects).
constexpr bool kMutexesAndSectionsShareNames = true;

/// Names the mutex and the section called `name` that exist ("" for none). The system removes a
/// kernel object with its last handle; a test cannot.
inline std::string RemoveNamedObjects(const std::string& name) {
  std::string left;
  if (const HANDLE mutex = ::OpenMutexA(SYNCHRONIZE, FALSE, name.c_str())) {
    left += " mutex " + name;
    ::CloseHandle(mutex);
  }
  if (const HANDLE mapping = ::OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str())) {
    left += " section " + name;
    ::CloseHandle(mapping);
  }
  return left;
}

/// The calling thread's system-wide id, as trace prefixes show it.
inline long OwnThreadId() {
  return static_cast<long>(::GetCurrentThreadId());
}

/// The stack size the calling thread runs on (the address space reserved for it), in bytes.
inline std::size_t OwnStackSize() {
  ULONG_PTR low = 0;
  ULONG_PTR high = 0;
  ::GetCurrentThreadStackLimits(&low, &high);
  return static_cast<std::size_t>(high - low);
}

/// The system's error code for a post to a semaphore that is full.
constexpr unsigned kTooManyPostsError = ERROR_TOO_MANY_POSTS;

/// A stack size no thread can be given, and why there is none when 0: an unsigned long has 32
/// bits on Windows, and a 64-bit process reserves 4 GiB of address space for a stack at ease.
constexpr unsigned long kUngivableStackSize = sizeof(void*) == 4 ? 0xFFFFFFFFul : 0;
constexpr const char* kNoUngivableStackReason =
    "a 64-bit Windows process reserves any stack size an unsigned long can ask for";

/// Why a thread that ends itself from inside Run cannot be tested here.
constexpr const char* kNoThreadExitReason =
    "_endthreadex ends a Windows thread without unwinding its stack: no code of the library "
    "between the thread's start and Run ever runs again to record the end";

/// Ends the calling thread at once.
[[noreturn]] inline void ExitThisThread() {
  ::_endthreadex(0);
  for (;;) {
  }
}

/// Why this program's operator delete does not see the blocks the library frees.
constexpr const char* kNoLibraryFreesSeenReason =
    "a Windows DLL binds its own operator new and delete when it is linked: a program's "
    "replacement never sees the blocks tavutil.dll frees";

/// The usable size of the malloc block `p`.
inline std::size_t BlockSize(void* p) noexcept {
  return _msize(p);
}

/// malloc, for any size. Freed with std::free.
inline void* AllocateBlock(std::size_t n) noexcept {
  return std::malloc(n != 0 ? n : 1);
}

/// A loaded module that holds no string table (the test program itself).
inline void* LoadLibraryWithoutStrings() {
  return reinterpret_cast<void*>(::GetModuleHandleA(nullptr));
}

/// The system's codes for a string the library lacks, and for a library without strings.
constexpr int kNoSuchStringError = ERROR_RESOURCE_NAME_NOT_FOUND;
constexpr int kNoStringTableError = ERROR_RESOURCE_TYPE_NOT_FOUND;

/// The system's text for `code`, without its closing full stop and blanks.
inline std::string SystemText(DWORD code) {
  char text[512];
  DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                                      FORMAT_MESSAGE_MAX_WIDTH_MASK,
                                  nullptr, code, 0, text, sizeof text, nullptr);
  while (length > 0 && (text[length - 1] == ' ' || text[length - 1] == '.' ||
                        text[length - 1] == '\r' || text[length - 1] == '\n')) {
    --length;
  }
  return std::string(text, length);
}

/// What the failure text holds for a library file that is not there (the code of
/// ERROR_MOD_NOT_FOUND), and for a symbol the library lacks (the system's text for
/// ERROR_PROC_NOT_FOUND; GetProcAddress's failure has no code of the loader's own).
inline std::string MissingLibraryFragment(const std::string&) {
  return "rc=x0000007E";
}
inline std::string MissingSymbolFragment(const char*) {
  return SystemText(ERROR_PROC_NOT_FOUND);
}
/// A DLL is linked with every import resolved: one with an unresolved symbol cannot be built.
constexpr bool kHasUnresolvedLibrary = false;

/// Makes `directory` the temporary directory of this process for the object's life: the
/// system takes it from TMP first, then TEMP.
class ScopedTemporaryDirectory {
public:
  explicit ScopedTemporaryDirectory(const std::string& directory) {
    char old[MAX_PATH + 1] = {};
    const DWORD length = ::GetEnvironmentVariableA("TMP", old, sizeof old);
    fHad = length > 0 && length < sizeof old;
    fOld = fHad ? old : "";
    ::SetEnvironmentVariableA("TMP", directory.c_str());
  }
  ~ScopedTemporaryDirectory() { ::SetEnvironmentVariableA("TMP", fHad ? fOld.c_str() : nullptr); }
  ScopedTemporaryDirectory(const ScopedTemporaryDirectory&) = delete;
  ScopedTemporaryDirectory& operator=(const ScopedTemporaryDirectory&) = delete;

private:
  bool fHad = false;
  std::string fOld;
};

/// Why the system's own log (the output without an address) is not tried here; null when it is:
/// the event log takes entries from any program.
constexpr const char* kNoOwnLogReason = nullptr;

/// A mailslot where the output sends: the stand-in for the log.
class LogReceiver {
public:
  LogReceiver() : fSlot(::CreateMailslotA(Address().c_str(), 0, 0, nullptr)) {
    EXPECT_NE(fSlot, INVALID_HANDLE_VALUE) << ::GetLastError();
  }
  ~LogReceiver() { ::CloseHandle(fSlot); }
  LogReceiver(const LogReceiver&) = delete;
  LogReceiver& operator=(const LogReceiver&) = delete;

  /// Where the output is to send.
  static std::string Address() {
    return "\\\\.\\mailslot\\tavutil-test\\log." + std::to_string(::GetCurrentProcessId());
  }
  /// The next record, or "<none>" when none comes within a second.
  std::string Receive() {
    for (int waited = 0; waited < 1000; waited += 5) {
      DWORD next = MAILSLOT_NO_MESSAGE;
      if (::GetMailslotInfo(fSlot, nullptr, &next, nullptr, nullptr) == FALSE) {
        return "<error>";
      }
      if (next != MAILSLOT_NO_MESSAGE) {
        std::string record(next, '\0');
        DWORD got = 0;
        if (::ReadFile(fSlot, record.data(), next, &got, nullptr) == FALSE) {
          return "<error>";
        }
        record.resize(got);
        return record;
      }
      ::Sleep(5);
    }
    return "<none>";
  }

private:
  HANDLE fSlot;
};

#endif // TAVUTIL_TESTS_TEST_PLATFORM_H
