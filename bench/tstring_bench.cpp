// bench/tstring_bench.cpp: TString beside std::string doing the same work.
// Licensed under the Apache License, Version 2.0.
//
// TString shares buffers on copy and keeps no spare room, so copies are cheap and every
// append reallocates; the figures show both sides of that trade.
#include <tavutil/tstring.h>

#include <benchmark/benchmark.h>

#include <memory>
#include <string>

namespace {

constexpr std::size_t kMegabyte = 1 << 20;
constexpr int kOccurrences = 10000;
constexpr int kAppends = 10000;
constexpr char kNeedle[] = "needle!";

/// One megabyte of filler text with the needle 100 bytes before the end.
std::string Haystack() {
  const std::string filler = "the quick brown fox jumps over the lazy dog; ";
  std::string text;
  text.reserve(kMegabyte);
  while (text.size() < kMegabyte) {
    text += filler;
  }
  text.resize(kMegabyte);
  text.replace(kMegabyte - 100, sizeof kNeedle - 1, kNeedle);
  return text;
}

/// "foo" kOccurrences times, each followed by a few other bytes.
std::string Repeated() {
  std::string text;
  for (int i = 0; i < kOccurrences; ++i) {
    text += "foo-bar ";
  }
  return text;
}

TString ToTString(const std::string& s) {
  return TString(s.data(), static_cast<unsigned int>(s.size()));
}

// ------------------------------------------------------------- copy, destroy ----

void BM_TStringCopyShared(benchmark::State& state) {
  const TString source = ToTString(std::string(static_cast<std::size_t>(state.range(0)), 'x'));
  for (auto _ : state) {
    TString copy = source;
    benchmark::DoNotOptimize(copy);
  }
}
BENCHMARK(BM_TStringCopyShared)->Arg(16)->Arg(1024);

void BM_StdStringCopy(benchmark::State& state) {
  const std::string source(static_cast<std::size_t>(state.range(0)), 'x');
  for (auto _ : state) {
    std::string copy = source;
    benchmark::DoNotOptimize(copy);
  }
}
BENCHMARK(BM_StdStringCopy)->Arg(16)->Arg(1024);

// The standard library's way to share one text: an atomic count instead of a plain one.
void BM_SharedPtrStdStringCopy(benchmark::State& state) {
  const auto source =
      std::make_shared<const std::string>(static_cast<std::size_t>(state.range(0)), 'x');
  for (auto _ : state) {
    std::shared_ptr<const std::string> copy = source;
    benchmark::DoNotOptimize(copy);
  }
}
BENCHMARK(BM_SharedPtrStdStringCopy)->Arg(16)->Arg(1024);

// ------------------------------------------------------------- search 1 MB ----

void BM_TStringIndexOf1MB(benchmark::State& state) {
  const TString text = ToTString(Haystack());
  for (auto _ : state) {
    benchmark::DoNotOptimize(text.indexOf(kNeedle, 1));
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kMegabyte));
}
BENCHMARK(BM_TStringIndexOf1MB);

void BM_StdStringFind1MB(benchmark::State& state) {
  const std::string text = Haystack();
  for (auto _ : state) {
    benchmark::DoNotOptimize(text.find(kNeedle));
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kMegabyte));
}
BENCHMARK(BM_StdStringFind1MB);

// ---------------------------------------------------- replace 10,000 times ----

void BM_TStringChange10k(benchmark::State& state) {
  const TString source = ToTString(Repeated());
  for (auto _ : state) {
    TString s = source; // shared; change builds the new text in a new buffer
    s.change("foo", "quux");
    benchmark::DoNotOptimize(static_cast<char*>(s));
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kOccurrences);
}
BENCHMARK(BM_TStringChange10k);

// The usual find-and-append loop into a new string.
void BM_StdStringReplace10k(benchmark::State& state) {
  const std::string source = Repeated();
  const std::string pattern = "foo";
  const std::string replacement = "quux";
  for (auto _ : state) {
    std::string result;
    std::size_t from = 0;
    for (std::size_t at = source.find(pattern); at != std::string::npos;
         at = source.find(pattern, from)) {
      result.append(source, from, at - from);
      result += replacement;
      from = at + pattern.size();
    }
    result.append(source, from);
    benchmark::DoNotOptimize(result.data());
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kOccurrences);
}
BENCHMARK(BM_StdStringReplace10k);

// ---------------------------------------------------------- 10,000 appends ----

// No spare room by design: each append allocates the new exact size and copies the whole text,
// so the loop is quadratic in the final length.
void BM_TStringAppend10k(benchmark::State& state) {
  for (auto _ : state) {
    TString s("");
    for (int i = 0; i < kAppends; ++i) {
      s += "x";
    }
    benchmark::DoNotOptimize(static_cast<char*>(s));
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kAppends);
}
BENCHMARK(BM_TStringAppend10k);

void BM_StdStringAppend10k(benchmark::State& state) {
  for (auto _ : state) {
    std::string s;
    for (int i = 0; i < kAppends; ++i) {
      s += "x";
    }
    benchmark::DoNotOptimize(s.data());
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kAppends);
}
BENCHMARK(BM_StdStringAppend10k);

} // namespace
