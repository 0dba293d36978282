// tests/helpers/ipc_helper.cpp: a second process for the mutex and shared-memory tests.
// Licensed under the Apache License, Version 2.0.
//
// Reads one command per line from standard input and answers each with one line:
//   mutex NAME        use the named mutex NAME ("-" for an unnamed one)   -> ok
//   lock MS           TMutexSemaphoreEntry on it with that time-out       -> the state
//   unlock            ends the newest entry                               -> ok
//   create NAME SIZE  ipcSharedMemory(NAME, SIZE)                         -> state owner
//   open NAME         ipcSharedMemory(NAME)                               -> state owner
//   read OFF N        N bytes of the section from OFF                     -> hex
//   write OFF HEX     writes the bytes into the section at OFF            -> ok
//   count N           N times: lock, read the int at 0, yield, write it + 1, unlock -> done
// and exits at "exit" or at the end of its input.
#include <tavutil/mutexsem.h>
#include <tavutil/sharedmemory.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <sched.h>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Session {
  std::unique_ptr<TMutexSemaphore> mutex;
  std::vector<std::unique_ptr<TMutexSemaphoreEntry>> entries;
  std::unique_ptr<ipcSharedMemory> section;

  char* Bytes() const { return section ? static_cast<char*>(section->Pointer()) : nullptr; }
};

std::string Hex(const char* bytes, std::size_t count) {
  std::string text;
  char pair[3];
  for (std::size_t i = 0; i < count; ++i) {
    std::snprintf(pair, sizeof pair, "%02x", static_cast<unsigned char>(bytes[i]));
    text += pair;
  }
  return text;
}

std::string Run(Session& session, const std::string& line) {
  std::istringstream words(line);
  std::string verb;
  words >> verb;
  if (verb == "mutex") {
    std::string name;
    words >> name;
    session.entries.clear();
    session.mutex = std::make_unique<TMutexSemaphore>(name == "-" ? nullptr : name.c_str());
    return "ok";
  }
  if (verb == "lock" && session.mutex) {
    long timeout = 0;
    words >> timeout;
    session.entries.push_back(std::make_unique<TMutexSemaphoreEntry>(*session.mutex, timeout));
    return std::to_string(session.entries.back()->State());
  }
  if (verb == "unlock" && !session.entries.empty()) {
    session.entries.pop_back();
    return "ok";
  }
  if (verb == "create" || verb == "open") {
    std::string name;
    long size = 0;
    words >> name >> size;
    session.section = verb == "create" ? std::make_unique<ipcSharedMemory>(name.c_str(), size)
                                       : std::make_unique<ipcSharedMemory>(name.c_str());
    return std::to_string(session.section->rdstate()) + " " +
           std::to_string(session.section->Owner());
  }
  if (verb == "read" && session.Bytes() != nullptr) {
    std::size_t offset = 0;
    std::size_t count = 0;
    words >> offset >> count;
    return Hex(session.Bytes() + offset, count);
  }
  if (verb == "write" && session.Bytes() != nullptr) {
    std::size_t offset = 0;
    std::string hex;
    words >> offset >> hex;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
      session.Bytes()[offset + i / 2] =
          static_cast<char>(std::strtoul(hex.substr(i, 2).c_str(), nullptr, 16));
    }
    return "ok";
  }
  if (verb == "count" && session.mutex && session.Bytes() != nullptr) {
    long rounds = 0;
    words >> rounds;
    auto* counter = reinterpret_cast<volatile int*>(session.Bytes());
    for (long i = 0; i < rounds; ++i) {
      TMutexSemaphoreEntry entry(*session.mutex, TMutexSemaphore::fsInfinite);
      if (entry.State() != TMutexSemaphore::locked) {
        return "fail";
      }
      const int seen = *counter;
      ::sched_yield(); // invites the other process in, should the mutex not keep it out
      *counter = seen + 1;
    }
    return "done";
  }
  return "?";
}

} // namespace

int main() {
  Session session;
  std::string line;
  while (std::getline(std::cin, line) && line != "exit") {
    std::cout << Run(session, line) << std::endl;
  }
  return 0;
}
