// bench/trace_bench.cpp: the cost of trace points, disabled and delivered.
// Licensed under the Apache License, Version 2.0.
#include <tavutil/message.h>
#include <tavutil/trace.h>

#include "internal/tracepoint.h"

#include <benchmark/benchmark.h>

namespace {

/// A state that only counts what it is given.
class TCountingState : public TTrace::Base {
public:
  void Write(unsigned long /*level*/, const TTrace::Category& /*category*/,
             const TMessage& message) override {
    benchmark::DoNotOptimize(&message);
    ++count;
  }
  long count = 0;
};

class TCounting : public TTrace {
public:
  TCounting() : TTrace(new TCountingState) {}
};

const tavutil::detail::SourceLine kWhere{"bench/TRACE", 1};

// A trace point whose level is off everywhere: two loads and two tests, nothing built.
void BM_DisabledTracePoint(benchmark::State& state) {
  TCounting trace; // a live state that takes levels 0xF only
  for (auto _ : state) {
    tavutil::detail::TracePoint(0x1000, TUtilityTraceCategory::Utility, kWhere, "entry %d", 42);
  }
}
BENCHMARK(BM_DisabledTracePoint);

// The same with no live state at all.
void BM_DisabledTracePointNoState(benchmark::State& state) {
  for (auto _ : state) {
    tavutil::detail::TracePoint(0x4, TUtilityTraceCategory::Utility, kWhere, "entry %d", 42);
  }
}
BENCHMARK(BM_DisabledTracePointNoState);

// WriteEntry of a prepared message to one state that takes it.
void BM_WriteEntryOneState(benchmark::State& state) {
  TCounting trace;
  const TMessage message("entry %d", TagVar(42));
  for (auto _ : state) {
    TTrace::WriteEntry(0x4, TUtilityTraceCategory::Utility, message);
  }
}
BENCHMARK(BM_WriteEntryOneState);

// A whole enabled trace point: the message is built, located and delivered.
void BM_EnabledTracePoint(benchmark::State& state) {
  TCounting trace;
  for (auto _ : state) {
    tavutil::detail::TracePoint(0x4, TUtilityTraceCategory::Utility, kWhere, "entry %d", 42);
  }
}
BENCHMARK(BM_EnabledTracePoint);

} // namespace
