// bench/message_bench.cpp: rendering a two-argument message beside snprintf and ostringstream.
// Licensed under the Apache License, Version 2.0.
//
// Every iteration renders afresh: the message is built inside the loop, so its cache never
// answers. Building alone is measured too, to separate it from the formatting.
#include <tavutil/message.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <sstream>
#include <string>

namespace {

constexpr char kFormat[] = "Value %d of %s";
constexpr char kName[] = "disk";

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
  for (auto _ : state) {
    TMessage message(kFormat, TagVar(++value), TagVar(kName));
    benchmark::DoNotOptimize(static_cast<const char*>(message.QueryMessage()));
  }
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
