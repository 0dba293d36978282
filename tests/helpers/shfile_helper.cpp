// tests/helpers/shfile_helper.cpp: a process that traces into a shared trace file, for the
// multi-process tests.
// Licensed under the Apache License, Version 2.0.
//
//   shfile_helper write FILE PROCESS THREADS LINES
//       opens FILE as a shared trace file and answers "open"; at the line "go" on its input,
//       THREADS threads each write LINES entries "w PROCESS THREAD SEQUENCE" and it answers
//       "done"; it closes the file and exits at the end of its input.
//   shfile_helper lock
//       holds the named mutex "qelvoTraceFile", answers "locked" and waits to be killed.
#include <tavutil/message.h>
#include <tavutil/mutexsem.h>
#include <tavutil/tracesharedfile.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

namespace {

int Write(const char* file, int process, int threads, int lines) {
  TTraceSharedFile trace(file);
  std::cout << "open" << std::endl;
  std::string line;
  if (!std::getline(std::cin, line) || line != "go") {
    return 1;
  }
  std::vector<std::thread> writers;
  for (int t = 0; t < threads; ++t) {
    writers.emplace_back([process, t, lines] {
      for (int i = 0; i < lines; ++i) {
        TMessage message("w %d %d %d", TagVar(process), TagVar(t), TagVar(i));
        message.SetDebugging("helpers\\shfile_helper.cpp", 42);
        TTrace::WriteEntry(0x4, TUtilityTraceCategory::Utility, message);
      }
    });
  }
  for (std::thread& writer : writers) {
    writer.join();
  }
  std::cout << "done" << std::endl;
  while (std::getline(std::cin, line)) {
  }
  return 0;
}

int Lock() {
  TMutexSemaphore mutex("qelvoTraceFile");
  const TMutexSemaphoreEntry entry(mutex, TMutexSemaphore::fsInfinite);
  std::cout << (entry.State() == TMutexSemaphore::locked ? "locked" : "failed") << std::endl;
  for (;;) {
    std::this_thread::sleep_for(std::chrono::hours(1));
  }
}

} // namespace

int main(int argc, char** argv) {
  if (argc == 6 && std::strcmp(argv[1], "write") == 0) {
    return Write(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]));
  }
  if (argc == 2 && std::strcmp(argv[1], "lock") == 0) {
    return Lock();
  }
  std::cerr << "usage: shfile_helper write FILE PROCESS THREADS LINES | lock\n";
  return 2;
}
