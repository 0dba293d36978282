// bench/mutexsem_bench.cpp: uncontended lock and unlock of TMutexSemaphore, unnamed and named,
// beside the standard library's mutexes.
// Licensed under the Apache License, Version 2.0.
#include <tavutil/mutexsem.h>

#include <benchmark/benchmark.h>

#include <mutex>
#include <string>
#include <unistd.h>

namespace {

void BM_UnnamedEntry(benchmark::State& state) {
  TMutexSemaphore mutex;
  for (auto _ : state) {
    TMutexSemaphoreEntry entry(mutex, TMutexSemaphore::fsInfinite);
    benchmark::DoNotOptimize(entry.State());
  }
}
BENCHMARK(BM_UnnamedEntry);

void BM_NamedEntry(benchmark::State& state) {
  const std::string name = "tavutil-bench." + std::to_string(::getpid());
  TMutexSemaphore mutex(name.c_str());
  for (auto _ : state) {
    TMutexSemaphoreEntry entry(mutex, TMutexSemaphore::fsInfinite);
    benchmark::DoNotOptimize(entry.State());
  }
}
BENCHMARK(BM_NamedEntry);

void BM_StdMutex(benchmark::State& state) {
  std::mutex mutex;
  for (auto _ : state) {
    const std::lock_guard<std::mutex> hold(mutex);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_StdMutex);

void BM_StdRecursiveMutex(benchmark::State& state) {
  std::recursive_mutex mutex;
  for (auto _ : state) {
    const std::lock_guard<std::recursive_mutex> hold(mutex);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_StdRecursiveMutex);

} // namespace
