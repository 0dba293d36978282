// bench/trace_bench.cpp: the cost of trace points, disabled and delivered, beside two bare
// mask tests and with the heap allocations of an entry that reaches a stream output.
// Licensed under the Apache License, Version 2.0.
#include <tavutil/message.h>
#include <tavutil/trace.h>
#include <tavutil/tracestream.h>

#include "counting_allocator.h"
#include "internal/tracepoint.h"

#include <benchmark/benchmark.h>

#include <sstream>
#include <string>

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

/// An argument with a side effect: the disabled macro must never call it.
int gEvaluated = 0;
int Evaluate() {
  return ++gEvaluated;
}

// The reference: the two mask tests a trace point makes, alone.
void BM_TwoMaskTests(benchmark::State& state) {
  TCounting trace;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        TTrace::IsGlobalTracing(0x1000, TUtilityTraceCategory::Utility.QueryComponent()));
  }
}
BENCHMARK(BM_TwoMaskTests);

// The public macro with its level off: the side-effecting argument must not run.
void BM_DisabledTraceMacro(benchmark::State& state) {
  TCounting trace;
  gEvaluated = 0;
  for (auto _ : state) {
    TAVUTIL_TRACE(0x1000, TUtilityTraceCategory::Utility, "entry %d", Evaluate());
    benchmark::ClobberMemory();
  }
  state.counters["evaluated"] = static_cast<double>(gEvaluated);
  if (gEvaluated != 0) {
    state.SkipWithError("a disabled trace point evaluated its argument");
  }
}
BENCHMARK(BM_DisabledTraceMacro);

// A whole enabled trace point (the macro, one integer argument) written as a line into an
// in-memory stream, emptied now and then. Argument: display prefix (0: the level letter, 1:
// time, thread id and letter).
void BM_TraceMacroToMemoryStream(benchmark::State& state) {
  std::ostringstream out;
  TTraceStream trace(out);
  trace.SetDisplayPrefix(static_cast<int>(state.range(0)));
  unsigned lines = 0;
  int value = 0;
  const long long before = bench::Allocations();
  for (auto _ : state) {
    TAVUTIL_TRACE(0x4, TUtilityTraceCategory::Utility, "entry %d", ++value);
    if ((++lines & 4095u) == 0) {
      out.str(std::string());
    }
  }
  bench::ReportAllocations(state, before);
}
BENCHMARK(BM_TraceMacroToMemoryStream)->Arg(0)->Arg(1);

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
