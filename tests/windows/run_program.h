// tests/windows/run_program.h: runs a program with extra environment variables and collects its
// output (CreateProcessA and a pipe).
// Licensed under the Apache License, Version 2.0.
#ifndef TAVUTIL_TESTS_RUN_PROGRAM_H
#define TAVUTIL_TESTS_RUN_PROGRAM_H

#include <cstddef>
#include <string>
#include <vector>
#include <windows.h>

/// What a finished program left: its exit status (-1 when it could not be run) and everything
/// it wrote to standard output and standard error, interleaved, read as text (CR LF as LF).
struct ProgramResult {
  int status = -1;
  std::string output;
};

/// `argument` quoted for a command line as the C runtime's parser reads it back.
inline std::string QuotedArgument(const std::string& argument) {
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

/// Runs `arguments` (the program's path first) with `environment` ("NAME=value") added to this
/// process's environment, and waits for it.
inline ProgramResult RunProgram(const std::vector<std::string>& arguments,
                                const std::vector<std::string>& environment = {}) {
  ProgramResult result;
  if (arguments.empty()) {
    return result;
  }
  std::string commandLine;
  for (const std::string& argument : arguments) {
    commandLine += (commandLine.empty() ? "" : " ") + QuotedArgument(argument);
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
      if (!overridden) {
        block += text + '\0';
      }
    }
    ::FreeEnvironmentStringsA(inherited);
  }
  block += '\0';

  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (!::CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) {
    return result;
  }
  ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = writeEnd;
  startup.hStdError = writeEnd;
  PROCESS_INFORMATION process{};
  const bool started = ::CreateProcessA(arguments[0].c_str(), commandLine.data(), nullptr, nullptr,
                                        TRUE, 0, block.data(), nullptr, &startup, &process) != 0;
  ::CloseHandle(writeEnd);
  if (started) {
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0) {
      result.output.append(buffer, got);
    }
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    if (::GetExitCodeProcess(process.hProcess, &code)) {
      result.status = static_cast<int>(code);
    }
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
  }
  ::CloseHandle(readEnd);
  std::string text;
  for (std::size_t i = 0; i < result.output.size(); ++i) {
    if (!(result.output[i] == '\r' && i + 1 < result.output.size() &&
          result.output[i + 1] == '\n')) {
      text += result.output[i];
    }
  }
  result.output = text;
  return result;
}

/// Running a program under a memory limit needs a job object, which these tests do not set up:
/// empty, and the test that asks skips.
inline std::vector<std::string> WithMemoryLimit(const std::vector<std::string>& /*arguments*/,
                                                std::size_t /*megabytes*/) {
  return {};
}

#endif // TAVUTIL_TESTS_RUN_PROGRAM_H
