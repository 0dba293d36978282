// tests/startup/probe.cpp: loads the library with dlopen, reports the order in which its
// static objects are built and destroyed, inspects it, and unloads it.
// Licensed under the Apache License, Version 2.0.
//
// The program is not linked with the library. It defines __cxa_atexit, which the library's
// static objects call right after their constructors to schedule their destructors, so it
// sees each object once when it is built and again when it is destroyed at unload. Output:
// "locale <name>" before and after loading, "built <address>" in order, the inspector's lines,
// "destroyed <address>" in order, and "unloaded yes" or "unloaded no".
#include <clocale>
#include <cstdio>
#include <dlfcn.h>

namespace {

using Destructor = void (*)(void*);
using AtExit = int (*)(Destructor, void*, void*);

struct Scheduled {
  Destructor destructor;
  void* object;
};

constexpr int kMaxScheduled = 64;
Scheduled gScheduled[kMaxScheduled];
int gScheduledCount = 0;
bool gRecording = false;

/// Runs in place of a scheduled destructor: reports the object, then destroys it.
void Destroy(void* entry) {
  const Scheduled& s = *static_cast<Scheduled*>(entry);
  std::printf("destroyed %p\n", s.object);
  s.destructor(s.object);
}

} // namespace

/// Every static object of the process schedules its destructor here. While the library
/// loads, the object is recorded and Destroy is scheduled in its place, for the same module.
extern "C" __attribute__((visibility("default"))) int __cxa_atexit(Destructor destructor,
                                                                   void* object, void* module) {
  static const auto real = reinterpret_cast<AtExit>(dlsym(RTLD_NEXT, "__cxa_atexit"));
  if (gRecording && gScheduledCount < kMaxScheduled) {
    Scheduled& entry = gScheduled[gScheduledCount++];
    entry = Scheduled{destructor, object};
    std::printf("built %p\n", object);
    return real(&Destroy, &entry, module);
  }
  return real(destructor, object, module);
}

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: startup_probe <library> <inspector>\n");
    return 2;
  }
  std::printf("locale %s\n", std::setlocale(LC_ALL, nullptr));
  gRecording = true;
  void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  gRecording = false;
  if (library == nullptr) {
    std::fprintf(stderr, "cannot load %s: %s\n", argv[1], dlerror());
    return 1;
  }
  std::printf("locale %s\n", std::setlocale(LC_ALL, nullptr));
  void* inspector = dlopen(argv[2], RTLD_NOW | RTLD_LOCAL);
  using Inspect = void (*)(char*, std::size_t);
  const auto inspect = inspector != nullptr
                           ? reinterpret_cast<Inspect>(dlsym(inspector, "InspectLibrary"))
                           : nullptr;
  if (inspect == nullptr) {
    std::fprintf(stderr, "cannot use the inspector %s: %s\n", argv[2], dlerror());
    return 1;
  }
  static char report[8192];
  inspect(report, sizeof report);
  std::fputs(report, stdout);
  dlclose(inspector);
  dlclose(library);
  std::printf("unloaded %s\n", dlopen(argv[1], RTLD_NOW | RTLD_NOLOAD) == nullptr ? "yes" : "no");
  return 0;
}
