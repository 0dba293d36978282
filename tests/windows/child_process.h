// tests/windows/child_process.h: helper processes and kernel-object names for the Windows
// multi-process tests.
// Licensed under the Apache License, Version 2.0.
//
// The Windows counterpart of tests/helpers/ipc_test_support.h: a helper program started with
// CreateProcessA, talked to one line at a time over pipes on its standard input and output,
// and ended with TerminateProcess when a test wants it killed or the object goes.
#ifndef TAVUTIL_TESTS_WINDOWS_CHILD_PROCESS_H
#define TAVUTIL_TESTS_WINDOWS_CHILD_PROCESS_H

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace wintest {

/// The directory of the running test program, with its final separator. The helper programs
/// are built beside it.
inline std::string ProgramDirectory() {
  char path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string directory(path, length < MAX_PATH ? length : 0);
  return directory.substr(0, directory.find_last_of("\\/") + 1);
}

/// Sets environment variables for as long as it lives (a child started meanwhile inherits
/// them), then puts back what was there.
class ScopedEnvironment {
public:
  explicit ScopedEnvironment(std::vector<std::pair<std::string, std::string>> values) {
    for (auto& [name, value] : values) {
      char old[32768];
      const DWORD length = ::GetEnvironmentVariableA(name.c_str(), old, sizeof old);
      fSaved.push_back({name, length > 0 && length < sizeof old, std::string(old, length)});
      ::SetEnvironmentVariableA(name.c_str(), value.c_str());
    }
  }
  ~ScopedEnvironment() {
    for (const Saved& saved : fSaved) {
      ::SetEnvironmentVariableA(saved.name.c_str(), saved.had ? saved.value.c_str() : nullptr);
    }
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
  struct Saved {
    std::string name;
    bool had;
    std::string value;
  };
  std::vector<Saved> fSaved;
};

/// A helper program beside the test program, its standard input and output on pipes; killed
/// when the object goes.
class ChildProcess {
public:
  /// Starts `program` (a file name beside the test program, without ".exe") with `arguments`.
  explicit ChildProcess(const std::string& program, const std::string& arguments = "") {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE childIn = nullptr;
    HANDLE childOut = nullptr;
    if (::CreatePipe(&childIn, &fInput, &inherit, 0) == FALSE) {
      return;
    }
    if (::CreatePipe(&fOutput, &childOut, &inherit, 0) == FALSE) {
      ::CloseHandle(childIn);
      return;
    }
    // The child inherits only its own ends.
    ::SetHandleInformation(fInput, HANDLE_FLAG_INHERIT, 0);
    ::SetHandleInformation(fOutput, HANDLE_FLAG_INHERIT, 0);
    HANDLE childError = nullptr;
    ::DuplicateHandle(::GetCurrentProcess(), ::GetStdHandle(STD_ERROR_HANDLE),
                      ::GetCurrentProcess(), &childError, 0, TRUE, DUPLICATE_SAME_ACCESS);

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = childIn;
    startup.hStdOutput = childOut;
    startup.hStdError = childError;
    const std::string path = ProgramDirectory() + program + ".exe";
    std::string commandLine = "\"" + path + "\" " + arguments;
    PROCESS_INFORMATION process{};
    if (::CreateProcessA(path.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                         nullptr, &startup, &process) != FALSE) {
      ::CloseHandle(process.hThread);
      fProcess = process.hProcess;
      fId = process.dwProcessId;
    } else {
      ADD_FAILURE() << "cannot start " << path << ": error " << ::GetLastError();
    }
    ::CloseHandle(childIn);
    ::CloseHandle(childOut);
    if (childError != nullptr) {
      ::CloseHandle(childError);
    }
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

  /// The child's process id (0 when it did not start).
  DWORD Id() const { return fId; }

  bool Send(const std::string& command) {
    const std::string line = command + "\n";
    DWORD written = 0;
    return fInput != nullptr &&
           ::WriteFile(fInput, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) !=
               FALSE &&
           written == line.size();
  }

  /// The next answer line (a '\r' before its end dropped), or "<none>" when none comes in time.
  std::string Read(DWORD timeoutMs = 10000) {
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    for (;;) {
      const std::size_t end = fPending.find('\n');
      if (end != std::string::npos) {
        std::string line = fPending.substr(0, end);
        fPending.erase(0, end + 1);
        if (!line.empty() && line.back() == '\r') {
          line.pop_back();
        }
        return line;
      }
      DWORD available = 0;
      if (fOutput == nullptr ||
          ::PeekNamedPipe(fOutput, nullptr, 0, nullptr, &available, nullptr) == FALSE) {
        return "<none>"; // the child has gone
      }
      if (available == 0) {
        if (::GetTickCount64() >= deadline) {
          return "<none>";
        }
        ::Sleep(2);
        continue;
      }
      char buffer[512];
      DWORD got = 0;
      if (::ReadFile(fOutput, buffer, available < sizeof buffer ? available : sizeof buffer, &got,
                     nullptr) == FALSE) {
        return "<none>";
      }
      fPending.append(buffer, got);
    }
  }

  std::string Ask(const std::string& command) { return Send(command) ? Read() : "<none>"; }

  /// Ends the child's input (it sees the end of its standard input).
  void CloseInput() {
    if (fInput != nullptr) {
      ::CloseHandle(fInput);
      fInput = nullptr;
    }
  }

  /// Waits up to `timeoutMs` for the child to end; its exit code, or -1 when it is still
  /// running (the destructor then kills it).
  long Wait(DWORD timeoutMs = 10000) {
    DWORD code = 0;
    if (fProcess == nullptr || ::WaitForSingleObject(fProcess, timeoutMs) != WAIT_OBJECT_0 ||
        ::GetExitCodeProcess(fProcess, &code) == FALSE) {
      return -1;
    }
    ::CloseHandle(fProcess);
    fProcess = nullptr;
    return static_cast<long>(code);
  }

  /// Asks the child to exit and gives its exit code, or -1.
  long Finish() {
    Send("exit");
    CloseInput();
    return Wait();
  }

  /// Ends the child at once, as a crash would: nothing of it runs any more, and the system
  /// closes its handles. Gives once the child has gone.
  void Kill() {
    if (fProcess != nullptr) {
      ::TerminateProcess(fProcess, 9);
      ::WaitForSingleObject(fProcess, INFINITE);
      ::CloseHandle(fProcess);
      fProcess = nullptr;
    }
  }

private:
  HANDLE fProcess = nullptr;
  DWORD fId = 0;
  HANDLE fInput = nullptr;  ///< our end of the child's standard input
  HANDLE fOutput = nullptr; ///< our end of the child's standard output
  std::string fPending;     ///< read but not yet returned
};

/// Fixture base: kernel-object names unique to this process and run. A mutex or section of
/// one of them still there at tear-down (every child has gone by then) fails the test.
class KernelNames : public ::testing::Test {
protected:
  /// A new name "tavutil-test.<pid>.<n>.<tag>", tracked.
  std::string Unique(const std::string& tag) {
    static int counter = 0;
    fNames.push_back("tavutil-test." + std::to_string(::GetCurrentProcessId()) + "." +
                     std::to_string(++counter) + "." + tag);
    return fNames.back();
  }

  /// Whether a mutex of that name exists.
  static bool MutexExists(const std::string& name) {
    const HANDLE mutex = ::OpenMutexA(SYNCHRONIZE, FALSE, name.c_str());
    if (mutex == nullptr) {
      return false;
    }
    ::CloseHandle(mutex);
    return true;
  }

  /// Whether a section (file mapping) of that name exists.
  static bool SectionExists(const std::string& name) {
    const HANDLE mapping = ::OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str());
    if (mapping == nullptr) {
      return false;
    }
    ::CloseHandle(mapping);
    return true;
  }

  void TearDown() override {
    for (const std::string& name : fNames) {
      EXPECT_FALSE(MutexExists(name)) << "left behind: mutex " << name;
      EXPECT_FALSE(SectionExists(name)) << "left behind: section " << name;
    }
  }

private:
  std::vector<std::string> fNames;
};

} // namespace wintest

#endif // TAVUTIL_TESTS_WINDOWS_CHILD_PROCESS_H
