// tests/posix/run_program.h: runs a program with extra environment variables and collects its
// output. Licensed under the Apache License, Version 2.0.
#ifndef TAVUTIL_TESTS_RUN_PROGRAM_H
#define TAVUTIL_TESTS_RUN_PROGRAM_H

#include <cstddef>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

/// What a finished program left: its exit status (-1 when it did not exit normally) and
/// everything it wrote to standard output and standard error, interleaved.
struct ProgramResult {
  int status = -1;
  std::string output;
};

/// Runs `arguments` (the program's path first) with `environment` ("NAME=value") added to this
/// process's environment, and waits for it.
inline ProgramResult RunProgram(const std::vector<std::string>& arguments,
                                const std::vector<std::string>& environment = {}) {
  ProgramResult result;
  // Everything the child needs is made here: between fork and exec only system calls run.
  std::vector<std::string> variables = environment;
  for (char** inherited = environ; *inherited != nullptr; ++inherited) {
    const std::string variable = *inherited;
    const std::string name = variable.substr(0, variable.find('=') + 1);
    bool overridden = false;
    for (const std::string& given : environment) {
      overridden = overridden || given.compare(0, name.size(), name) == 0;
    }
    if (!overridden) {
      variables.push_back(variable);
    }
  }
  std::vector<char*> argv;
  std::vector<char*> envp;
  for (const std::string& argument : arguments) {
    argv.push_back(const_cast<char*>(argument.c_str()));
  }
  for (const std::string& variable : variables) {
    envp.push_back(const_cast<char*>(variable.c_str()));
  }
  argv.push_back(nullptr);
  envp.push_back(nullptr);
  int pipeEnds[2];
  if (arguments.empty() || ::pipe(pipeEnds) != 0) {
    return result;
  }
  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(pipeEnds[1], STDOUT_FILENO);
    ::dup2(pipeEnds[1], STDERR_FILENO);
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(pipeEnds[1]);
  char buffer[4096];
  for (ssize_t n; (n = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0;) {
    result.output.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(pipeEnds[0]);
  int status = 0;
  if (child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status)) {
    result.status = WEXITSTATUS(status);
  }
  return result;
}

/// `arguments` (the program's path first) as a command that runs the program with at most
/// `megabytes` of address space (the shell's `ulimit -v`).
inline std::vector<std::string> WithMemoryLimit(std::vector<std::string> arguments,
                                                std::size_t megabytes) {
  arguments.insert(arguments.begin(),
                   {"/bin/sh", "-c",
                    "ulimit -v " + std::to_string(megabytes * 1024) + " && exec \"$0\" \"$@\""});
  return arguments;
}

#endif // TAVUTIL_TESTS_RUN_PROGRAM_H
