// bench/counting_allocator.h: counts the heap allocations of the benchmark program.
// Licensed under the Apache License, Version 2.0.
//
// Replaces the global operator new of the program that includes it (include it in exactly one
// source of a benchmark program). A benchmark reads the count before and after its loop and
// reports allocations per iteration with ReportAllocations.
#ifndef TAVUTIL_BENCH_COUNTING_ALLOCATOR_H
#define TAVUTIL_BENCH_COUNTING_ALLOCATOR_H

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace bench {

/// Allocations made through operator new since the program started, on every thread.
inline std::atomic<long long> gAllocations{0};

/// Counts one allocation. A plain load and store, not an interlocked add: the count is exact
/// for the single-threaded cases that report it, and a locked instruction per allocation would
/// weigh on the measured time of a case in proportion to its allocations.
inline void CountAllocation() noexcept {
  gAllocations.store(gAllocations.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
}

/// Allocations so far.
inline long long Allocations() noexcept {
  return gAllocations.load(std::memory_order_relaxed);
}

/// Reports the allocations made since `before`, per iteration, as the counter "allocs".
inline void ReportAllocations(benchmark::State& state, long long before) {
  state.counters["allocs"] = benchmark::Counter(static_cast<double>(Allocations() - before),
                                                benchmark::Counter::kAvgIterations);
}

} // namespace bench

// The replacements pair malloc with free themselves; g++ cannot see that through inlining.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(std::size_t size) {
  bench::CountAllocation();
  if (void* memory = std::malloc(size != 0 ? size : 1)) {
    return memory;
  }
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
  return operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  bench::CountAllocation();
  return std::malloc(size != 0 ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
  return operator new(size, tag);
}
void operator delete(void* memory) noexcept {
  std::free(memory);
}
void operator delete[](void* memory) noexcept {
  std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
  std::free(memory);
}
void operator delete[](void* memory, std::size_t) noexcept {
  std::free(memory);
}

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#endif // TAVUTIL_BENCH_COUNTING_ALLOCATOR_H
