// bench/message_bench.cpp: rendering a two-argument message beside fmt::format, snprintf,
// Qt's QString::arg (fmt and Qt when installed) and ostringstream, with the heap allocations
// of each; the binary form of a four-argument message beside the same fields through the raw
// binary-stream operators.
// Licensed under the Apache License, Version 2.0.
//
// Every iteration renders afresh: the message is built inside the loop, so its cache never
// answers. Building alone is measured too, to separate it from the formatting. Allocations
// are counted by a replacement operator new, which sees the standard library's and fmt's but
// not Qt's (Qt allocates with malloc), so Qt's case reports none.
#include <tavutil/binstream.h>
#include <tavutil/memstream.h>
#include <tavutil/message.h>

#include "counting_allocator.h"

#include <benchmark/benchmark.h>

#ifdef TAVUTIL_BENCH_HAVE_FMT
#include <fmt/format.h>
#endif
#ifdef TAVUTIL_BENCH_HAVE_QT
#include <QLatin1String>
#include <QString>
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
    TMessage message(kFormat, ++value, kName);
    benchmark::DoNotOptimize(message.QueryNumberArgs());
  }
}
BENCHMARK(BM_MessageConstruct);

void BM_MessageQueryMessage(benchmark::State& state) {
  int value = 0;
  const long long before = bench::Allocations();
  for (auto _ : state) {
    TMessage message(kFormat, ++value, kName);
    benchmark::DoNotOptimize(static_cast<const char*>(message.QueryMessage()));
  }
  bench::ReportAllocations(state, before);
}
BENCHMARK(BM_MessageQueryMessage);

/// A copy of a built message renders afresh: only the argument copies add to the formatting.
void BM_MessageCopyQueryMessage(benchmark::State& state) {
  const TMessage original(kFormat, 42, kName);
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
  const long long before = bench::Allocations();
  for (auto _ : state) {
    std::ostringstream out;
    out << "Value " << ++value << " of " << kName;
    const std::string text = out.str();
    benchmark::DoNotOptimize(text.data());
  }
  bench::ReportAllocations(state, before);
}
BENCHMARK(BM_Ostringstream);

#ifdef TAVUTIL_BENCH_HAVE_QT
// Qt's way: a QString (UTF-16) from a pattern with numbered places.
void BM_QStringArg(benchmark::State& state) {
  int value = 0;
  const QString pattern = QStringLiteral("Value %1 of %2");
  for (auto _ : state) {
    const QString text = pattern.arg(++value).arg(QLatin1String(kName));
    benchmark::DoNotOptimize(text.constData());
  }
}
BENCHMARK(BM_QStringArg);
#endif

// ------------------------------------------------------------- binary form ----
// One iteration writes the form into a memory stream (rewritten from offset 0, network order)
// and reads it back: into a message, or into plain variables and strings.

constexpr char kStoredFormat[] = "Disk %s: %d files, %f full since %s";
constexpr int kWhen = 946728000;

TMessage FourArgumentMessage() {
  return TMessage(TMessage::StoreID(TString("App"), explicitInit), 3, 7, kStoredFormat, TagVar(93),
                  TagVar(0.5), TagVar("C:"), TagVar(TDateTime(kWhen, 0)));
}

/// The same bytes as FourArgumentMessage's form, from the binary-stream operators alone.
void WriteRawFields(ToBinaryStream& out, const TString& store, const TString& format,
                    const TString& name) {
  out << store << 3 << 7 << format << 4u << int{TagVar::integer} << 93 << int{TagVar::real} << 0.5
      << int{TagVar::string} << 1 << name << int{TagVar::datetime} << 1 << kWhen << TString() << 0;
}

void BM_MessageBinaryWriteRead(benchmark::State& state) {
  const TMessage written = FourArgumentMessage();
  TMemStream memory;
  TBinaryStream stream(memory, 1);
  TMessage read;
  for (auto _ : state) {
    memory.seekp(0);
    written.WriteToBinaryStream(stream);
    memory.seekg(0);
    read.ReadFromBinaryStream(stream);
    benchmark::DoNotOptimize(read.QueryNumberArgs());
  }
  if (!stream.good() || read.QueryNumberArgs() != 4 || static_cast<long>(read[0]) != 93) {
    state.SkipWithError("the message did not read back");
  }
}
BENCHMARK(BM_MessageBinaryWriteRead);

void BM_RawFieldsWriteRead(benchmark::State& state) {
  const TString store("App");
  const TString format(kStoredFormat);
  const TString name("C:");
  {
    // The reference must do the same work: the same bytes.
    std::ostringstream message;
    std::ostringstream raw;
    ToBinaryStream messageOut(message, 1);
    ToBinaryStream rawOut(raw, 1);
    FourArgumentMessage().WriteToBinaryStream(messageOut);
    WriteRawFields(rawOut, store, format, name);
    if (message.str() != raw.str()) {
      state.SkipWithError("the raw fields are not the message's form");
      return;
    }
  }
  TMemStream memory;
  TBinaryStream stream(memory, 1);
  TString readStore;
  TString readFormat;
  TString readName;
  TString readFile;
  int setId = 0;
  int messageId = 0;
  int count = 0;
  int tag = 0;
  int presence = 0;
  int number = 0;
  double real = 0;
  int when = 0;
  int line = 0;
  for (auto _ : state) {
    memory.seekp(0);
    WriteRawFields(stream, store, format, name);
    memory.seekg(0);
    stream >> readStore >> setId >> messageId >> readFormat >> count >> tag >> number >> tag >>
        real >> tag >> presence >> readName >> tag >> presence >> when >> readFile >> line;
    benchmark::DoNotOptimize(number);
    benchmark::DoNotOptimize(real);
    benchmark::DoNotOptimize(when);
  }
  if (!stream.good() || number != 93 || when != kWhen) {
    state.SkipWithError("the fields did not read back");
  }
}
BENCHMARK(BM_RawFieldsWriteRead);

} // namespace
