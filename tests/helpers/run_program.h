// tests/helpers/run_program.h: running a program to its end, and the helper programs built beside
// the tests. Licensed under the Apache License, Version 2.0.
#ifndef TAVUTIL_TESTS_RUN_PROGRAM_H
#define TAVUTIL_TESTS_RUN_PROGRAM_H

#include "test_platform.h"

#include <string>
#include <vector>

/// What a finished program left: its exit status (-1 when it did not exit normally) and
/// everything it wrote to standard output and standard error, interleaved (CR LF read as LF).
struct ProgramResult {
  int status = -1;
  std::string output;
};

/// Runs `arguments` (the program's path first) with `environment` ("NAME=value") added to this
/// process's environment, and waits for it.
inline ProgramResult RunProgram(const std::vector<std::string>& arguments,
                                const std::vector<std::string>& environment = {}) {
  ChildProcess child(arguments, environment);
  child.CloseInput();
  ProgramResult result;
  result.output = child.ReadAll();
  result.status = child.Wait(-1);
  return result;
}

/// The helper program `name` (tests/helpers/<name>.cpp), with its arguments.
inline std::vector<std::string> Helper(const std::string& name,
                                       std::vector<std::string> arguments = {}) {
  arguments.insert(arguments.begin(), std::string(TAVUTIL_TEST_BINARY_DIR) + "/" + name +
                                          TAVUTIL_TEST_EXECUTABLE_SUFFIX);
  return arguments;
}

#endif // TAVUTIL_TESTS_RUN_PROGRAM_H
