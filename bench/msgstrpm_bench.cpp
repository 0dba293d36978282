// bench/msgstrpm_bench.cpp: a stored message from a language resource library, beside the
// same work done with a standard map.
// Licensed under the Apache License, Version 2.0.
//
// The resource library is the tests' English catalogue, built beside this program. Reading
// one string (TDll::loadMessage) is set against finding it in an std::unordered_map and
// copying it out; rendering a stored message through TMessageStorePM is set against a store
// that keeps its narrow texts in such a map.
#include <tavutil/msgstrpm.h>
#include <tavutil/tdll.h>

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <unordered_map>

namespace {

const std::string kLibrary = std::string(TAVUTIL_BENCH_BINARY_DIR) + "/English/nlstest.so";
constexpr long kDiskFull = 1; // "Disk %s is full" in the catalogue

/// The library's texts, loaded once.
TDll& Library() {
  static TDll library(kLibrary.c_str());
  return library;
}

void BM_TDllLoadMessage(benchmark::State& state) {
  const TDll& library = Library();
  for (auto _ : state) {
    const TString text = library.loadMessage(kDiskFull);
    benchmark::DoNotOptimize(static_cast<const char*>(text));
  }
}
BENCHMARK(BM_TDllLoadMessage);

void BM_UnorderedMapFindCopy(benchmark::State& state) {
  const std::unordered_map<unsigned long, std::u16string> texts = {
      {1, u"Disk %s is full"}, {2, u"%2$s copied %1$d files"}, {3, u"Clef, grin"}};
  for (auto _ : state) {
    const std::u16string text = texts.find(kDiskFull)->second;
    benchmark::DoNotOptimize(text.data());
  }
}
BENCHMARK(BM_UnorderedMapFindCopy);

/// A store of narrow texts held in a map: the reference for the resource-library store.
class TMapStore : public TMessageStore {
public:
  TMapStore() : TMessageStore(TMessage::StoreID(TString("Bench.Map"), explicitInit)) {}
  TString* GetMsg(long, long messageId) override {
    const auto found = fTexts.find(messageId);
    return found != fTexts.end() ? std::make_unique<TString>(found->second.c_str()).release()
                                 : nullptr;
  }

private:
  std::unordered_map<long, std::string> fTexts = {{kDiskFull, "Disk %s is full"}};
};

void BM_RenderStoredFromResourceLibrary(benchmark::State& state) {
  const TMessage::StoreID id(TString("Bench.PM"), explicitInit);
  const TMessageStorePM store(id, Library());
  for (auto _ : state) {
    const TMessage message(id, 1, kDiskFull, "default %s", TagVar("C:"));
    benchmark::DoNotOptimize(static_cast<const char*>(message.QueryMessage()));
  }
}
BENCHMARK(BM_RenderStoredFromResourceLibrary);

void BM_RenderStoredFromMap(benchmark::State& state) {
  const TMessage::StoreID id(TString("Bench.Map"), explicitInit);
  const TMapStore store;
  for (auto _ : state) {
    const TMessage message(id, 1, kDiskFull, "default %s", TagVar("C:"));
    benchmark::DoNotOptimize(static_cast<const char*>(message.QueryMessage()));
  }
}
BENCHMARK(BM_RenderStoredFromMap);

} // namespace
