// tests/helpers/ipc_commands.h: the command loop of a second process for the mutex, shared-memory,
// shared trace file and temporary stream tests.
// Licensed under the Apache License, Version 2.0.
//
// Reads commands from standard input and answers each with one line:
//   mutex NAME        use the named mutex NAME ("-" for the empty name)   -> ok
//   lock MS           a TMutexSemaphoreEntry on it with that time-out     -> its state
//   unlock            ends the newest entry                               -> ok
//   create NAME SIZE  ipcSharedMemory(NAME, SIZE)                         -> state owner size
//   open NAME         ipcSharedMemory(NAME)                               -> state owner size
//   peek AT           the byte of the section at AT                       -> its value
//   poke AT VALUE     sets that byte                                      -> ok
//   hold NAME N       sections and mutexes NAME.0 to NAME.<N-1>, each made -> how many it
//                     or joined, held until exit                             holds of each
//   trace FILE        a shared trace file on FILE (the rest of the line)  -> ok
//   write P T N       T threads each trace N entries "w P THREAD SEQUENCE" -> done
//   spool             100000 bytes in a temporary stream that moves to its  -> file (memory
//                     file after one block, held until exit                    when it did not)
// (an empty line for anything else). The ipc_helper program runs it; a test runs it in a child
// forked without exec where the child must run as another user, who may not reach the build.
#ifndef TAVUTIL_TESTS_IPC_COMMANDS_H
#define TAVUTIL_TESTS_IPC_COMMANDS_H

#include <tavutil/message.h>
#include <tavutil/mutexsem.h>
#include <tavutil/sharedmemory.h>
#include <tavutil/tmpstrm.h>
#include <tavutil/tracesharedfile.h>

#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

/// Traces `lines` entries "w PROCESS THREAD SEQUENCE" from each of `threads` threads, as from
/// "ipc_helper.cpp" line 42.
inline void TraceLines(int process, int threads, int lines) {
  std::vector<std::thread> writers;
  for (int t = 0; t < threads; ++t) {
    writers.emplace_back([process, t, lines] {
      for (int i = 0; i < lines; ++i) {
        TMessage message("w %d %d %d", TagVar(process), TagVar(t), TagVar(i));
        message.SetDebugging("helpers\\ipc_helper.cpp", 42);
        TTrace::WriteEntry(0x4, TUtilityTraceCategory::Utility, message);
      }
    });
  }
  for (std::thread& writer : writers) {
    writer.join();
  }
}

/// Moves a temporary stream to its file once it fills a block.
class AfterOneBlock : public TTempStreamTest {
public:
  int UseTempFile(TTempStreamBuf* /*buffer*/) override { return 1; }
};

/// Answers the commands read from standard input until "exit" or its end; gives 0.
inline int RunIpcCommands() {
  std::unique_ptr<TMutexSemaphore> mutex;
  std::vector<std::unique_ptr<TMutexSemaphoreEntry>> entries; // ended before the mutex goes
  std::unique_ptr<ipcSharedMemory> section;
  std::vector<std::unique_ptr<ipcSharedMemory>> heldSections;
  std::vector<std::unique_ptr<TMutexSemaphore>> heldMutexes;
  std::unique_ptr<TTraceSharedFile> trace;
  std::unique_ptr<TTempStream> spool;
  std::string verb;
  std::string name;
  long number = 0;
  int value = 0;
  int threads = 0;
  while (std::cin >> verb && verb != "exit") {
    auto* bytes = section ? static_cast<unsigned char*>(section->Pointer()) : nullptr;
    if (verb == "mutex" && std::cin >> name) {
      entries.clear();
      mutex = std::make_unique<TMutexSemaphore>(name == "-" ? "" : name.c_str());
      std::cout << "ok";
    } else if (verb == "lock" && mutex && std::cin >> number) {
      entries.push_back(std::make_unique<TMutexSemaphoreEntry>(*mutex, number));
      std::cout << entries.back()->State();
    } else if (verb == "unlock" && !entries.empty()) {
      entries.pop_back();
      std::cout << "ok";
    } else if ((verb == "create" && std::cin >> name >> number) ||
               (verb == "open" && std::cin >> name)) {
      section = verb == "open" ? std::make_unique<ipcSharedMemory>(name.c_str())
                               : std::make_unique<ipcSharedMemory>(name.c_str(), number);
      std::cout << section->rdstate() << ' ' << section->Owner() << ' ' << section->Size();
    } else if (verb == "hold" && std::cin >> name >> number) {
      long held = 0;
      for (long i = 0; i < number; ++i) {
        const std::string each = name + "." + std::to_string(i);
        auto made = std::make_unique<ipcSharedMemory>(each.c_str(), 4096);
        if (made->rdstate() == 1) {
          made = std::make_unique<ipcSharedMemory>(each.c_str());
        }
        held += made->rdstate() == 0 ? 1 : 0;
        heldSections.push_back(std::move(made));
        heldMutexes.push_back(std::make_unique<TMutexSemaphore>(each.c_str()));
      }
      std::cout << held;
    } else if (verb == "peek" && bytes != nullptr && std::cin >> number) {
      std::cout << static_cast<int>(bytes[number]);
    } else if (verb == "poke" && bytes != nullptr && std::cin >> number >> value) {
      bytes[number] = static_cast<unsigned char>(value);
      std::cout << "ok";
    } else if (verb == "trace" && std::getline(std::cin >> std::ws, name)) {
      trace = std::make_unique<TTraceSharedFile>(name.c_str());
      std::cout << "ok";
    } else if (verb == "write" && std::cin >> value >> threads >> number) {
      TraceLines(value, threads, static_cast<int>(number));
      std::cout << "done";
    } else if (verb == "spool") {
      spool = std::make_unique<TTempStream>(4096, "held", new AfterOneBlock);
      const std::string data(100000, 'x');
      spool->write(data.data(), static_cast<std::streamsize>(data.size()));
      spool->flush();
      std::cout << (spool->rdbuf()->IsInMemory() == 0 && spool->good() ? "file" : "memory");
    }
    std::cout << std::endl;
  }
  return 0;
}

#endif // TAVUTIL_TESTS_IPC_COMMANDS_H
