// bench/binstream_bench.cpp: binary streams beside a byte-swap loop, Qt's QDataStream and
// POCO's BinaryWriter/BinaryReader doing the same work.
// Licensed under the Apache License, Version 2.0.
//
// 1M int32 + 1M double in network order, written then read through TBinaryStream over a
// TMemStream: value by value (interleaved, as a record stream would hold them) and as two
// arrays (WriteArray/ReadArray). The floor is a byte-swap + memcpy loop over a preallocated
// buffer holding the same bytes; the peers write the same bytes into memory of their own
// (a QByteArray, a Poco::MemoryOutputStream). Every case first checks that its bytes are the
// reference's. Qt and POCO are left out when the build did not find them.
#include <tavutil/binstream.h>
#include <tavutil/memstream.h>

#include <benchmark/benchmark.h>

#ifdef TAVUTIL_BENCH_HAVE_QT
#include <QByteArray>
#include <QDataStream>
#endif
#ifdef TAVUTIL_BENCH_HAVE_POCO
#include <Poco/BinaryReader.h>
#include <Poco/BinaryWriter.h>
#include <Poco/MemoryStream.h>
#endif

#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr int kValues = 1000000;
constexpr std::size_t kBytes = std::size_t{kValues} * 12;

std::uint64_t DoubleBits(double d) {
  std::uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  return bits;
}

double Half(int i) {
  return i * 0.5;
}

/// The reference bytes: value i as an int32 then i * 0.5 as a double, both network order,
/// interleaved (`arrays` false) or as all the integers followed by all the doubles.
std::vector<char> ReferenceBytes(bool arrays) {
  std::vector<char> bytes(kBytes);
  for (int i = 0; i < kValues; ++i) {
    const std::uint32_t n = __builtin_bswap32(static_cast<std::uint32_t>(i));
    const std::uint64_t d = __builtin_bswap64(DoubleBits(Half(i)));
    const std::size_t at = std::size_t{4} * i;
    std::memcpy(&bytes[arrays ? at : 3 * at], &n, 4);
    std::memcpy(&bytes[arrays ? 4 * std::size_t{kValues} + 2 * at : 3 * at + 4], &d, 8);
  }
  return bytes;
}

bool SameBytes(const char* data, std::size_t size, bool arrays) {
  const std::vector<char> reference = ReferenceBytes(arrays);
  return size == reference.size() && std::memcmp(data, reference.data(), size) == 0;
}

bool SameBytes(TMemStream& memory, bool arrays) {
  std::ostringstream copy;
  memory.rdbuf()->WriteTo(copy);
  const std::string bytes = copy.str();
  return SameBytes(bytes.data(), bytes.size(), arrays);
}

/// What the value-by-value readers add up: every int plus every double, truncated.
std::int64_t ExpectedSum() {
  std::int64_t sum = 0;
  for (int i = 0; i < kValues; ++i) {
    sum += i + static_cast<std::int64_t>(Half(i));
  }
  return sum;
}

/// Marks the case failed when its reader did not add up the values written.
void CheckSum(benchmark::State& state, std::int64_t sum) {
  if (sum != ExpectedSum()) {
    state.SkipWithError("the values did not read back");
  }
}

struct Arrays {
  std::vector<int> ints;
  std::vector<double> doubles;
};

Arrays SourceArrays() {
  Arrays arrays{std::vector<int>(kValues), std::vector<double>(kValues)};
  for (int i = 0; i < kValues; ++i) {
    arrays.ints[i] = i;
    arrays.doubles[i] = Half(i);
  }
  return arrays;
}

void Processed(benchmark::State& state) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBytes));
}

// ------------------------------------------------------- tavutil, value by value ----

/// Writes the values into a stream whose blocks exist already (rewritten from offset 0), as
/// the reference writes into its preallocated buffer.
void BM_BinaryStreamWriteNetwork(benchmark::State& state) {
  TMemStream memory;
  TBinaryStream stream(memory, 1);
  for (auto _ : state) {
    memory.seekp(0);
    for (int i = 0; i < kValues; ++i) {
      stream << i << Half(i);
    }
    benchmark::DoNotOptimize(memory.rdbuf());
  }
  if (!stream.good() || !SameBytes(memory, false)) {
    state.SkipWithError("the stream does not hold the reference bytes");
  }
  Processed(state);
}
BENCHMARK(BM_BinaryStreamWriteNetwork)->Unit(benchmark::kMillisecond);

/// The same into a new stream each time: its blocks' allocation and first touch included.
void BM_BinaryStreamWriteNetworkNewStream(benchmark::State& state) {
  for (auto _ : state) {
    TMemStream memory;
    TBinaryStream stream(memory, 1);
    for (int i = 0; i < kValues; ++i) {
      stream << i << Half(i);
    }
    benchmark::DoNotOptimize(memory.rdbuf());
  }
  Processed(state);
}
BENCHMARK(BM_BinaryStreamWriteNetworkNewStream)->Unit(benchmark::kMillisecond);

void BM_BinaryStreamReadNetwork(benchmark::State& state) {
  TMemStream memory;
  TBinaryStream stream(memory, 1);
  for (int i = 0; i < kValues; ++i) {
    stream << i << Half(i);
  }
  std::int64_t sum = 0;
  for (auto _ : state) {
    memory.seekg(0);
    int n = 0;
    double d = 0;
    sum = 0;
    for (int i = 0; i < kValues; ++i) {
      stream >> n >> d;
      sum += n + static_cast<std::int64_t>(d);
    }
    benchmark::DoNotOptimize(sum);
  }
  CheckSum(state, stream.good() ? sum : -1);
  Processed(state);
}
BENCHMARK(BM_BinaryStreamReadNetwork)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------- tavutil, arrays ----

void BM_BinaryStreamWriteArraysNetwork(benchmark::State& state) {
  const Arrays source = SourceArrays();
  TMemStream memory;
  TBinaryStream stream(memory, 1);
  for (auto _ : state) {
    memory.seekp(0);
    stream.WriteArray(source.ints.data(), kValues).WriteArray(source.doubles.data(), kValues);
    benchmark::DoNotOptimize(memory.rdbuf());
  }
  if (!stream.good() || !SameBytes(memory, true)) {
    state.SkipWithError("the stream does not hold the reference bytes");
  }
  Processed(state);
}
BENCHMARK(BM_BinaryStreamWriteArraysNetwork)->Unit(benchmark::kMillisecond);

void BM_BinaryStreamReadArraysNetwork(benchmark::State& state) {
  const Arrays source = SourceArrays();
  Arrays target = SourceArrays();
  TMemStream memory;
  TBinaryStream stream(memory, 1);
  stream.WriteArray(source.ints.data(), kValues).WriteArray(source.doubles.data(), kValues);
  for (auto _ : state) {
    memory.seekg(0);
    stream.ReadArray(target.ints.data(), kValues).ReadArray(target.doubles.data(), kValues);
    benchmark::DoNotOptimize(target.ints.data());
    benchmark::DoNotOptimize(target.doubles.data());
  }
  if (!stream.good() || target.ints != source.ints || target.doubles != source.doubles) {
    state.SkipWithError("the values did not read back");
  }
  Processed(state);
}
BENCHMARK(BM_BinaryStreamReadArraysNetwork)->Unit(benchmark::kMillisecond);

// ------------------------------------------------------- the byte-swap loop ----

void BM_ByteSwapWrite(benchmark::State& state) {
  std::vector<char> buffer(kBytes);
  for (auto _ : state) {
    char* out = buffer.data();
    for (int i = 0; i < kValues; ++i) {
      const std::uint32_t n = __builtin_bswap32(static_cast<std::uint32_t>(i));
      const std::uint64_t d = __builtin_bswap64(DoubleBits(Half(i)));
      std::memcpy(out, &n, 4);
      std::memcpy(out + 4, &d, 8);
      out += 12;
    }
    benchmark::DoNotOptimize(buffer.data());
    benchmark::ClobberMemory();
  }
  if (!SameBytes(buffer.data(), buffer.size(), false)) {
    state.SkipWithError("the loop does not make the reference bytes");
  }
  Processed(state);
}
BENCHMARK(BM_ByteSwapWrite)->Unit(benchmark::kMillisecond);

void BM_ByteSwapRead(benchmark::State& state) {
  const std::vector<char> buffer = ReferenceBytes(false);
  std::int64_t sum = 0;
  for (auto _ : state) {
    const char* in = buffer.data();
    sum = 0;
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
  CheckSum(state, sum);
  Processed(state);
}
BENCHMARK(BM_ByteSwapRead)->Unit(benchmark::kMillisecond);

/// The floor of the array cases: the same arrays into the same layout.
void BM_ByteSwapWriteArrays(benchmark::State& state) {
  const Arrays source = SourceArrays();
  std::vector<char> buffer(kBytes);
  for (auto _ : state) {
    char* out = buffer.data();
    for (int i = 0; i < kValues; ++i) {
      const std::uint32_t n = __builtin_bswap32(static_cast<std::uint32_t>(source.ints[i]));
      std::memcpy(out + std::size_t{4} * i, &n, 4);
    }
    out += std::size_t{4} * kValues;
    for (int i = 0; i < kValues; ++i) {
      const std::uint64_t d = __builtin_bswap64(DoubleBits(source.doubles[i]));
      std::memcpy(out + std::size_t{8} * i, &d, 8);
    }
    benchmark::DoNotOptimize(buffer.data());
    benchmark::ClobberMemory();
  }
  if (!SameBytes(buffer.data(), buffer.size(), true)) {
    state.SkipWithError("the loop does not make the reference bytes");
  }
  Processed(state);
}
BENCHMARK(BM_ByteSwapWriteArrays)->Unit(benchmark::kMillisecond);

void BM_ByteSwapReadArrays(benchmark::State& state) {
  const std::vector<char> buffer = ReferenceBytes(true);
  Arrays target = SourceArrays();
  for (auto _ : state) {
    const char* in = buffer.data();
    for (int i = 0; i < kValues; ++i) {
      std::uint32_t n;
      std::memcpy(&n, in + std::size_t{4} * i, 4);
      target.ints[i] = static_cast<std::int32_t>(__builtin_bswap32(n));
    }
    in += std::size_t{4} * kValues;
    for (int i = 0; i < kValues; ++i) {
      std::uint64_t bits;
      std::memcpy(&bits, in + std::size_t{8} * i, 8);
      bits = __builtin_bswap64(bits);
      std::memcpy(&target.doubles[i], &bits, 8);
    }
    benchmark::DoNotOptimize(target.ints.data());
    benchmark::DoNotOptimize(target.doubles.data());
    benchmark::ClobberMemory();
  }
  Processed(state);
}
BENCHMARK(BM_ByteSwapReadArrays)->Unit(benchmark::kMillisecond);

// ------------------------------------------------------------ Qt QDataStream ----
#ifdef TAVUTIL_BENCH_HAVE_QT

/// QDataStream's defaults are big-endian, doubles as 8 bytes: the network form.
void BM_QDataStreamWrite(benchmark::State& state) {
  QByteArray bytes;
  bytes.reserve(static_cast<int>(kBytes));
  for (auto _ : state) {
    QDataStream out(&bytes, QIODevice::WriteOnly);
    for (int i = 0; i < kValues; ++i) {
      out << static_cast<qint32>(i) << Half(i);
    }
    benchmark::DoNotOptimize(bytes.data());
  }
  if (!SameBytes(bytes.constData(), static_cast<std::size_t>(bytes.size()), false)) {
    state.SkipWithError("QDataStream does not make the reference bytes");
  }
  Processed(state);
}
BENCHMARK(BM_QDataStreamWrite)->Unit(benchmark::kMillisecond);

void BM_QDataStreamRead(benchmark::State& state) {
  const std::vector<char> reference = ReferenceBytes(false);
  const QByteArray bytes(reference.data(), static_cast<int>(reference.size()));
  std::int64_t sum = 0;
  for (auto _ : state) {
    QDataStream in(bytes);
    sum = 0;
    qint32 n = 0;
    double d = 0;
    for (int i = 0; i < kValues; ++i) {
      in >> n >> d;
      sum += n + static_cast<std::int64_t>(d);
    }
    benchmark::DoNotOptimize(sum);
  }
  CheckSum(state, sum);
  Processed(state);
}
BENCHMARK(BM_QDataStreamRead)->Unit(benchmark::kMillisecond);

#endif
// ------------------------------------------------------------------- POCO ----
#ifdef TAVUTIL_BENCH_HAVE_POCO

/// BinaryWriter over POCO's memory stream on a preallocated buffer.
void BM_PocoBinaryWriter(benchmark::State& state) {
  std::vector<char> buffer(kBytes);
  for (auto _ : state) {
    Poco::MemoryOutputStream memory(buffer.data(), buffer.size());
    Poco::BinaryWriter out(memory, Poco::BinaryWriter::NETWORK_BYTE_ORDER);
    for (int i = 0; i < kValues; ++i) {
      out << static_cast<Poco::Int32>(i) << Half(i);
    }
    benchmark::DoNotOptimize(buffer.data());
  }
  if (!SameBytes(buffer.data(), buffer.size(), false)) {
    state.SkipWithError("BinaryWriter does not make the reference bytes");
  }
  Processed(state);
}
BENCHMARK(BM_PocoBinaryWriter)->Unit(benchmark::kMillisecond);

void BM_PocoBinaryReader(benchmark::State& state) {
  const std::vector<char> buffer = ReferenceBytes(false);
  std::int64_t sum = 0;
  for (auto _ : state) {
    Poco::MemoryInputStream memory(buffer.data(), buffer.size());
    Poco::BinaryReader in(memory, Poco::BinaryReader::NETWORK_BYTE_ORDER);
    sum = 0;
    Poco::Int32 n = 0;
    double d = 0;
    for (int i = 0; i < kValues; ++i) {
      in >> n >> d;
      sum += n + static_cast<std::int64_t>(d);
    }
    benchmark::DoNotOptimize(sum);
  }
  CheckSum(state, sum);
  Processed(state);
}
BENCHMARK(BM_PocoBinaryReader)->Unit(benchmark::kMillisecond);

#endif
} // namespace
