// tests/startup/probe.cpp: loads the library with dlopen, reports the order in which its
// static objects are built and destroyed, inspects its registry, and unloads it.
// Licensed under the Apache License, Version 2.0.
//
// The program is not linked with the library. It defines __cxa_atexit, which the library's
// static objects call right after their constructors to schedule their destructors, so it
// sees each object once when it is built and again when it is destroyed at unload. Output:
// "locale <name>" before and after loading, "built <object>" in order, the inspector's lines,
// "destroyed <object>" in order, and "unloaded yes" or "unloaded no".
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cxxabi.h>
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
void* gKnownCategories = nullptr; // the registry object, which has no symbol of its own

/// A readable name for the object `p`: its demangled symbol, or its class taken from the
/// destructor, or the registry, or its address.
void Describe(const Scheduled& s, char* name, std::size_t size) {
  Dl_info info{};
  const void* symbolAt = nullptr;
  const char* symbol = nullptr;
  if (dladdr(s.object, &info) != 0 && info.dli_saddr == s.object && info.dli_sname != nullptr) {
    symbol = info.dli_sname, symbolAt = s.object;
  } else if (s.object == gKnownCategories) {
    std::snprintf(name, size, "*TTrace::Base::fsKnownCategories");
    return;
  } else if (dladdr(reinterpret_cast<void*>(s.destructor), &info) != 0 &&
             info.dli_saddr == reinterpret_cast<void*>(s.destructor) && info.dli_sname != nullptr) {
    symbol = info.dli_sname, symbolAt = info.dli_saddr;
  }
  if (symbol == nullptr) {
    std::snprintf(name, size, "? %p", s.object);
    return;
  }
  int status = 0;
  char* demangled = abi::__cxa_demangle(symbol, nullptr, nullptr, &status);
  std::snprintf(name, size, "%s%s", symbolAt == s.object ? "" : "object of ",
                demangled != nullptr ? demangled : symbol);
  std::free(demangled);
}

void Print(const char* what, const Scheduled& s) {
  char name[256];
  Describe(s, name, sizeof name);
  std::printf("%s %s\n", what, name);
}

/// Runs in place of a scheduled destructor: reports the object, then destroys it.
void Destroy(void* entry) {
  const Scheduled& s = *static_cast<Scheduled*>(entry);
  Print("destroyed", s);
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
  if (void* const* known =
          static_cast<void* const*>(dlsym(library, "_ZN6TTrace4Base17fsKnownCategoriesE"))) {
    gKnownCategories = *known;
  }
  for (int i = 0; i < gScheduledCount; ++i) {
    Print("built", gScheduled[i]);
  }
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
