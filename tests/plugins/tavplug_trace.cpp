// tests/plugins/tavplug_trace.cpp: a provider library that registers one trace factory.
// Licensed under the Apache License, Version 2.0.
//
// Its entry point builds a factory of type "PlugTrace"; CreateTrace(argument) records the
// argument (read back through TavplugLastArgument) and gives a stream output on the file that
// the argument names, or an empty handle for an empty argument.
#include <tavutil/tracefactory.h>
#include <tavutil/tracestream.h>

#include <mutex>
#include <string>

#define TAVPLUG_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::mutex gArgumentLock;
std::string gLastArgument;

class PlugTraceFactory : public TTraceFactory {
public:
  PlugTraceFactory() : TTraceFactory(TFactoryType("PlugTrace[tavplug_trace]")) {}

  TTrace CreateTrace(const char* argument) override {
    {
      const std::lock_guard<std::mutex> lock(gArgumentLock);
      gLastArgument = argument;
    }
    if (*argument == '\0') {
      return TTrace();
    }
    return TTraceStream(argument);
  }
};

} // namespace

TAVPLUG_EXPORT void FactoryLoaderInitializeDll() {
  static PlugTraceFactory factory;
}

/// The argument of the last CreateTrace, copied into `buffer` (cut to `size` - 1 bytes).
TAVPLUG_EXPORT void TavplugLastArgument(char* buffer, unsigned size) {
  const std::lock_guard<std::mutex> lock(gArgumentLock);
  const std::string::size_type n = gLastArgument.copy(buffer, size - 1);
  buffer[n] = '\0';
}
