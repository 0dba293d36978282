// bench/sparse_bench.cpp: TBaseSparseArrayOf beside std::map<long, void*> doing the same work.
// Licensed under the Apache License, Version 2.0.
//
// A sparse array is one sorted array: a lookup is a binary search, an insertion moves every
// later entry. So filling it in random order costs O(n^2) moves (shown up to 100K entries;
// 1M would take about a hundred times as long), while filling it in increasing order is
// amortised constant time. The order of filling does
// not change the array it ends with (the same entries in the same order, the same capacity),
// so the 1M-entry lookups run on an array filled in increasing order; the map is shown both
// filled in random order and in increasing order, since that decides where its nodes lie.
#include <tavutil/sparse.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <random>
#include <vector>

namespace {

constexpr std::size_t kLookupEntries = 1 << 20;

/// `count` distinct random 32-bit indices in random order (the same ones on every call).
std::vector<std::uint32_t> RandomIndices(std::size_t count) {
  std::mt19937 random(20240601);
  std::vector<std::uint32_t> indices;
  indices.reserve(count + count / 8);
  while (indices.size() < count) {
    while (indices.size() < count + count / 8) {
      indices.push_back(static_cast<std::uint32_t>(random()));
    }
    std::sort(indices.begin(), indices.end());
    indices.erase(std::unique(indices.begin(), indices.end()), indices.end());
  }
  indices.resize(count);
  std::shuffle(indices.begin(), indices.end(), random);
  return indices;
}

/// A sparse array that stores the pointers without owning them.
class PointerArray : public TBaseSparseArrayOf {
public:
  ~PointerArray() override { DeleteArray(); }
  using TBaseSparseArrayOf::Find;
  using TBaseSparseArrayOf::Set;

protected:
  void DeleteElement(void* /*value*/) override {}
};

void* ValueOf(std::uint32_t index) {
  return reinterpret_cast<void*>(static_cast<std::uintptr_t>(index) * 8 + 8);
}

// ------------------------------------------------------------------ filling ----

/// `count` indices in random order, or sorted when `increasing`.
std::vector<std::uint32_t> FillOrder(std::int64_t count, bool increasing) {
  auto indices = RandomIndices(static_cast<std::size_t>(count));
  if (increasing) {
    std::sort(indices.begin(), indices.end());
  }
  return indices;
}

void BM_SparseSet(benchmark::State& state, bool increasing) {
  const auto indices = FillOrder(state.range(0), increasing);
  for (auto _ : state) {
    PointerArray array;
    for (std::uint32_t index : indices) {
      array.Set(index, ValueOf(index));
    }
    benchmark::DoNotOptimize(array.Find(indices.front()));
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
constexpr std::int64_t kLargestRandomFill = 100000;
BENCHMARK_CAPTURE(BM_SparseSet, RandomOrder, false)
    ->Arg(1 << 10)
    ->Arg(1 << 14)
    ->Arg(kLargestRandomFill)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SparseSet, Increasing, true)
    ->Arg(kLookupEntries)
    ->Unit(benchmark::kMillisecond);

void BM_MapSet(benchmark::State& state, bool increasing) {
  const auto indices = FillOrder(state.range(0), increasing);
  for (auto _ : state) {
    std::map<long, void*> map;
    for (std::uint32_t index : indices) {
      if (increasing) {
        map.emplace_hint(map.end(), index, ValueOf(index));
      } else {
        map.emplace(index, ValueOf(index));
      }
    }
    benchmark::DoNotOptimize(map.find(indices.front()));
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK_CAPTURE(BM_MapSet, RandomOrder, false)
    ->Arg(1 << 10)
    ->Arg(1 << 14)
    ->Arg(kLargestRandomFill)
    ->Arg(kLookupEntries)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_MapSet, Increasing, true)->Arg(kLookupEntries)->Unit(benchmark::kMillisecond);

// ------------------------------------------------------------------ lookups ----

/// Looks up every index once, in the random order they were drawn in; one iteration is 1M
/// lookups. Every index is present, and every lookup must find its value.
template <class Lookup>
void LookUpAll(benchmark::State& state, const std::vector<std::uint32_t>& indices, Lookup lookup) {
  for (auto _ : state) {
    std::uintptr_t sum = 0;
    for (std::uint32_t index : indices) {
      sum += reinterpret_cast<std::uintptr_t>(lookup(index));
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(indices.size()));
}

void BM_SparseLookup(benchmark::State& state) {
  const auto indices = RandomIndices(kLookupEntries);
  PointerArray array;
  for (std::uint32_t index : FillOrder(kLookupEntries, true)) {
    array.Set(index, ValueOf(index));
  }
  LookUpAll(state, indices, [&array](std::uint32_t index) { return array.Find(index); });
}
BENCHMARK(BM_SparseLookup)->Unit(benchmark::kMillisecond);

void BM_MapLookup(benchmark::State& state, bool filledIncreasing) {
  const auto indices = RandomIndices(kLookupEntries);
  std::map<long, void*> map;
  for (std::uint32_t index : FillOrder(kLookupEntries, filledIncreasing)) {
    map[index] = ValueOf(index);
  }
  LookUpAll(state, indices, [&map](std::uint32_t index) { return map.find(index)->second; });
}
BENCHMARK_CAPTURE(BM_MapLookup, FilledRandomly, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_MapLookup, FilledIncreasing, true)->Unit(benchmark::kMillisecond);

} // namespace
