// bench/trace_bench.cpp: the cost of trace points, disabled and delivered, beside two bare
// mask tests, and beside spdlog (when installed) doing the same: a line into an in-memory
// stream, and a call at a level that is off. Heap allocations of a delivered entry counted.
// Licensed under the Apache License, Version 2.0.
//
// Both write the same shape of line: "E [trace_bench.cpp:123] Value 1 of apples" with the
// letter prefix, and the time and thread before the letter otherwise. spdlog's pattern
// language has milliseconds (three digits, where ours shows hundredths) and a decimal thread
// id (ours is eight hexadecimal digits); its pattern is otherwise ours. Its ostream sink
// flushes every line, as our stream output does, and takes its mutex, as ours does.
#include <tavutil/message.h>
#include <tavutil/trace.h>
#include <tavutil/tracepoint.h>
#include <tavutil/tracestream.h>

#include "counting_allocator.h"
#include "internal/tracepoint.h"

#include <benchmark/benchmark.h>

#ifdef TAVUTIL_BENCH_HAVE_SPDLOG
#include <spdlog/logger.h>
#include <spdlog/sinks/ostream_sink.h>
#include <spdlog/spdlog.h>
#endif

#include <memory>
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
constexpr char kName[] = "apples";

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
    TAVUTIL_TRACE(0x1000, TUtilityTraceCategory::Utility, "Value %d of %s", Evaluate(), kName);
    benchmark::ClobberMemory();
  }
  state.counters["evaluated"] = static_cast<double>(gEvaluated);
  if (gEvaluated != 0) {
    state.SkipWithError("a disabled trace point evaluated its argument");
  }
}
BENCHMARK(BM_DisabledTraceMacro);

// A whole enabled trace point (the macro, two arguments) written as a line into an in-memory
// stream, emptied now and then. Argument: display prefix (0: the level letter, 1: time,
// thread id and letter).
void BM_TraceMacroToMemoryStream(benchmark::State& state) {
  std::ostringstream out;
  TTraceStream trace(out);
  trace.SetDisplayPrefix(static_cast<int>(state.range(0)));
  unsigned lines = 0;
  int value = 0;
  const long long before = bench::Allocations();
  for (auto _ : state) {
    TAVUTIL_TRACE(0x4, TUtilityTraceCategory::Utility, "Value %d of %s", ++value, kName);
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

// ------------------------------------------------------------------- spdlog ----
#ifdef TAVUTIL_BENCH_HAVE_SPDLOG

/// spdlog's pattern for our line: the letter alone (0), or time, thread and letter (1).
const char* SpdlogPattern(std::int64_t prefix) {
  return prefix == 0 ? "%L [%s:%#] %v" : "%m/%d-%H:%M:%S.%e %t %L [%s:%#] %v";
}

// The peer of BM_TraceMacroToMemoryStream: spdlog's ostream sink (mutex, flush per line).
void BM_SpdlogOstreamSink(benchmark::State& state) {
  std::ostringstream out;
  auto logger = std::make_shared<spdlog::logger>(
      "bench", std::make_shared<spdlog::sinks::ostream_sink_mt>(out, true));
  logger->set_pattern(SpdlogPattern(state.range(0)));
  unsigned lines = 0;
  int value = 0;
  const long long before = bench::Allocations();
  for (auto _ : state) {
    SPDLOG_LOGGER_ERROR(logger, "Value {} of {}", ++value, kName);
    if ((++lines & 4095u) == 0) {
      out.str(std::string());
    }
  }
  bench::ReportAllocations(state, before);
}
BENCHMARK(BM_SpdlogOstreamSink)->Arg(0)->Arg(1);

// spdlog at a level that is off: its arguments are evaluated before the level is tested.
void BM_SpdlogDisabledLevel(benchmark::State& state) {
  std::ostringstream out;
  spdlog::logger logger("bench", std::make_shared<spdlog::sinks::ostream_sink_mt>(out));
  logger.set_level(spdlog::level::info);
  gEvaluated = 0;
  for (auto _ : state) {
    logger.debug("Value {} of {}", Evaluate(), kName);
    benchmark::ClobberMemory();
  }
  state.counters["evaluated"] =
      benchmark::Counter(static_cast<double>(gEvaluated), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_SpdlogDisabledLevel);

#endif
} // namespace
