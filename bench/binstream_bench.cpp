// bench/binstream_bench.cpp: binary streams beside a byte-swap loop doing the same work.
// Licensed under the Apache License, Version 2.0.
//
// 1M int32 + 1M double in network order, written then read through TBinaryStream over a
// TMemStream, beside a byte-swap + memcpy loop over a preallocated buffer. Every value is a
// call through the iostream layer; the reference is a loop the compiler keeps in registers.
#include <tavutil/binstream.h>
#include <tavutil/memstream.h>

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

constexpr int kValues = 1000000;

// ------------------------------------------------------------------- numbers ----

/// Writes the values into a stream whose blocks exist already (rewritten from offset 0), as
/// the reference writes into its preallocated buffer.
void BM_BinaryStreamWriteNetwork(benchmark::State& state) {
  TMemStream memory;
  TBinaryStream stream(memory, 1);
  for (auto _ : state) {
    memory.seekp(0);
    for (int i = 0; i < kValues; ++i) {
      stream << i << i * 0.5;
    }
    benchmark::DoNotOptimize(memory.rdbuf());
  }
  state.SetBytesProcessed(state.iterations() * kValues * 12);
}
BENCHMARK(BM_BinaryStreamWriteNetwork)->Unit(benchmark::kMillisecond);

/// The same into a new stream each time: its blocks' allocation and first touch included.
void BM_BinaryStreamWriteNetworkNewStream(benchmark::State& state) {
  for (auto _ : state) {
    TMemStream memory;
    TBinaryStream stream(memory, 1);
    for (int i = 0; i < kValues; ++i) {
      stream << i << i * 0.5;
    }
    benchmark::DoNotOptimize(memory.rdbuf());
  }
  state.SetBytesProcessed(state.iterations() * kValues * 12);
}
BENCHMARK(BM_BinaryStreamWriteNetworkNewStream)->Unit(benchmark::kMillisecond);

std::uint64_t DoubleBits(double d) {
  std::uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  return bits;
}

void BM_ByteSwapWrite(benchmark::State& state) {
  std::vector<char> buffer(std::size_t{kValues} * 12);
  for (auto _ : state) {
    char* out = buffer.data();
    for (int i = 0; i < kValues; ++i) {
      const std::uint32_t n = __builtin_bswap32(static_cast<std::uint32_t>(i));
      const std::uint64_t d = __builtin_bswap64(DoubleBits(i * 0.5));
      std::memcpy(out, &n, 4);
      std::memcpy(out + 4, &d, 8);
      out += 12;
    }
    benchmark::DoNotOptimize(buffer.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kValues * 12);
}
BENCHMARK(BM_ByteSwapWrite)->Unit(benchmark::kMillisecond);

void BM_BinaryStreamReadNetwork(benchmark::State& state) {
  TMemStream memory;
  TBinaryStream stream(memory, 1);
  for (int i = 0; i < kValues; ++i) {
    stream << i << i * 0.5;
  }
  for (auto _ : state) {
    memory.seekg(0);
    int n = 0;
    double d = 0;
    std::int64_t sum = 0;
    for (int i = 0; i < kValues; ++i) {
      stream >> n >> d;
      sum += n + static_cast<std::int64_t>(d);
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(state.iterations() * kValues * 12);
}
BENCHMARK(BM_BinaryStreamReadNetwork)->Unit(benchmark::kMillisecond);

void BM_ByteSwapRead(benchmark::State& state) {
  std::vector<char> buffer(std::size_t{kValues} * 12);
  for (int i = 0; i < kValues; ++i) {
    const std::uint32_t n = __builtin_bswap32(static_cast<std::uint32_t>(i));
    const std::uint64_t d = __builtin_bswap64(DoubleBits(i * 0.5));
    std::memcpy(&buffer[std::size_t{12} * i], &n, 4);
    std::memcpy(&buffer[std::size_t{12} * i + 4], &d, 8);
  }
  for (auto _ : state) {
    const char* in = buffer.data();
    std::int64_t sum = 0;
    for (int i = 0; i < kValues; ++i) {
      std::uint32_t n;
      std::uint64_t bits;
      std::memcpy(&n, in, 4);
      std::memcpy(&bits, in + 4, 8);
      bits = __builtin_bswap64(bits);
      double d;
      std::memcpy(&d, &bits, 8);
      sum += static_cast<std::int32_t>(__builtin_bswap32(n)) + static_cast<std::int64_t>(d);
      in += 12;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(state.iterations() * kValues * 12);
}
BENCHMARK(BM_ByteSwapRead)->Unit(benchmark::kMillisecond);

} // namespace
