// tests/plugins/tavplug_trace.cpp: a provider library that registers one trace factory.
// Licensed under the Apache License, Version 2.0.
//
// Its entry point builds a factory of type "PlugTrace"; CreateTrace(argument) gives a stream
// output on the file that the argument names, or an empty handle for an empty argument.
#include <tavutil/tracefactory.h>
#include <tavutil/tracestream.h>

#define TAVPLUG_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

class PlugTraceFactory : public TTraceFactory {
public:
  PlugTraceFactory() : TTraceFactory(TFactoryType("PlugTrace[tavplug_trace]")) {}

  TTrace CreateTrace(const char* argument) override {
    return *argument == '\0' ? TTrace() : TTraceStream(argument);
  }
};

} // namespace

TAVPLUG_EXPORT void FactoryLoaderInitializeDll() {
  static PlugTraceFactory factory;
}
