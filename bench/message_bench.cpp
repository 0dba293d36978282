// bench/message_bench.cpp: rendering a two-argument message beside fmt::format (when fmt is
// installed), snprintf and ostringstream, with the heap allocations of each.
// Licensed under the Apache License, Version 2.0.
//
// Every iteration renders afresh: the message is built inside the loop, so its cache never
// answers. Building alone is measured too, to separate it from the formatting.
#include <tavutil/message.h>

#include "counting_allocator.h"

#include <benchmark/benchmark.h>

#ifdef TAVUTIL_BENCH_HAVE_FMT
#include <fmt/format.h>
#endif

#include <cstdio>
#include <sstream>
#include <string>

namespace {

constexpr char kFormat[] = "Value %d of %s";
constexpr char kName[] = "apples";

void BM_MessageConstruct(benchmark::State& state) {
  int value = 0;
  for (auto _ : state) {
    TMessage message(kFormat, TagVar(++value), TagVar(kName));
    benchmark::DoNotOptimize(message.QueryNumberArgs());
  }
}
BENCHMARK(BM_MessageConstruct);

void BM_MessageQueryMessage(benchmark::State& state) {
  int value = 0;
  const long long before = bench::Allocations();
  for (auto _ : state) {
    TMessage message(kFormat, TagVar(++value), TagVar(kName));
    benchmark::DoNotOptimize(static_cast<const char*>(message.QueryMessage()));
  }
  bench::ReportAllocations(state, before);
}
BENCHMARK(BM_MessageQueryMessage);

/// A copy of a built message renders afresh: only the argument copies add to the formatting.
void BM_MessageCopyQueryMessage(benchmark::State& state) {
  const TMessage original(kFormat, TagVar(42), TagVar(kName));
  for (auto _ : state) {
    const TMessage message(original);
    benchmark::DoNotOptimize(static_cast<const char*>(message.QueryMessage()));
  }
}
BENCHMARK(BM_MessageCopyQueryMessage);

#ifdef TAVUTIL_BENCH_HAVE_FMT
// The reference: the same text made by fmt into a new std::string.
void BM_FmtFormat(benchmark::State& state) {
  int value = 0;
  const long long before = bench::Allocations();
  for (auto _ : state) {
    const std::string text = fmt::format("Value {} of {}", ++value, kName);
    benchmark::DoNotOptimize(text.data());
  }
  bench::ReportAllocations(state, before);
}
BENCHMARK(BM_FmtFormat);
#endif

// snprintf into a stack buffer, then a std::string of the result: a string the caller keeps.
void BM_SnprintfString(benchmark::State& state) {
  int value = 0;
  const long long before = bench::Allocations();
  for (auto _ : state) {
    char buffer[64];
    const int size = std::snprintf(buffer, sizeof buffer, kFormat, ++value, kName);
    const std::string text(buffer, static_cast<std::size_t>(size));
    benchmark::DoNotOptimize(text.data());
  }
  bench::ReportAllocations(state, before);
}
BENCHMARK(BM_SnprintfString);

void BM_Snprintf(benchmark::State& state) {
  int value = 0;
  char buffer[64];
  for (auto _ : state) {
    const int size = std::snprintf(buffer, sizeof buffer, kFormat, ++value, kName);
    benchmark::DoNotOptimize(buffer);
    benchmark::DoNotOptimize(size);
  }
}
BENCHMARK(BM_Snprintf);

void BM_Ostringstream(benchmark::State& state) {
  int value = 0;
  for (auto _ : state) {
    std::ostringstream out;
    out << "Value " << ++value << " of " << kName;
    const std::string text = out.str();
    benchmark::DoNotOptimize(text.data());
  }
}
BENCHMARK(BM_Ostringstream);

} // namespace
