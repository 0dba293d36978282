// bench/memstream_bench.cpp: 256 MiB through memory and temporary-file streams beside
// std::stringstream.
// Licensed under the Apache License, Version 2.0.
//
// 256 MiB in 100-byte writes to a TMemStream beside std::stringstream, and through a
// TTempStream that moves to its file at 1 MiB. Each run happens in a child process of its
// own, which reports its CPU time and its peak resident memory: counters peak_rss_MiB and
// rss_per_payload (the growth of the peak over the child's start, divided by the payload).
// The payload is exactly 2^28 bytes, which suits std::stringstream's doubling: one byte
// more and its string would grow to 512 MiB, copying 256 MiB.
#include <tavutil/memstream.h>
#include <tavutil/tmpstrm.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr std::size_t kPayload = std::size_t{256} << 20;
constexpr std::size_t kPiece = 100;
constexpr unsigned long kMegabyte = 1UL << 20;

// ----------------------------------------------------- bulk data, own process ----

/// What a child process measured.
struct ChildFigures {
  double cpuSeconds;
  double wallSeconds;
  long startRssKiB;
  long peakRssKiB;
  std::size_t bytes;
};

long CurrentRssKiB() {
  long pages = 0;
  long resident = 0;
  if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) {
      resident = 0;
    }
    std::fclose(statm);
  }
  return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

double CpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

/// Runs `work` (which gives the bytes it holds at the end) in a child process of its own and
/// reports its CPU time (user + system: on a shared machine the wall clock says more about
/// the neighbours) as the iteration time, with the wall time and the memory as counters.
template <class Work> void RunInChild(benchmark::State& state, Work work) {
  for (auto _ : state) {
    int channel[2];
    if (::pipe(channel) != 0) {
      state.SkipWithError("pipe failed");
      return;
    }
    const pid_t child = ::fork();
    if (child == 0) {
      ::close(channel[0]);
      ChildFigures figures{};
      figures.startRssKiB = CurrentRssKiB();
      const double cpuStart = CpuSeconds();
      const auto start = std::chrono::steady_clock::now();
      figures.bytes = work();
      figures.wallSeconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      figures.cpuSeconds = CpuSeconds() - cpuStart;
      rusage usage{};
      ::getrusage(RUSAGE_SELF, &usage);
      figures.peakRssKiB = usage.ru_maxrss;
      (void)!::write(channel[1], &figures, sizeof figures);
      ::_exit(0);
    }
    ::close(channel[1]);
    ChildFigures figures{};
    const bool got = ::read(channel[0], &figures, sizeof figures) == sizeof figures;
    ::close(channel[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!got || figures.bytes != kPayload) {
      state.SkipWithError("the child failed");
      return;
    }
    state.SetIterationTime(figures.cpuSeconds);
    state.counters["wall_s"] = figures.wallSeconds;
    state.counters["peak_rss_MiB"] = static_cast<double>(figures.peakRssKiB) / 1024;
    state.counters["rss_per_payload"] =
        static_cast<double>(figures.peakRssKiB - figures.startRssKiB) * 1024 / kPayload;
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kPayload));
}

/// Writes the payload in 100-byte pieces.
void WritePayload(std::ostream& out) {
  char piece[kPiece];
  std::memset(piece, 'x', sizeof piece);
  for (std::size_t done = 0; done < kPayload; done += kPiece) {
    out.write(piece, static_cast<std::streamsize>(std::min(kPiece, kPayload - done)));
  }
}

void BM_MemStream256MiB(benchmark::State& state) {
  RunInChild(state, [] {
    TMemStream stream;
    WritePayload(stream);
    stream.rdbuf()->pubsync();
    std::size_t held = 0;
    for (const TMemStreamBuffer* b = stream.rdbuf()->QueryFirstBuffer(); b != nullptr;
         b = b->QueryNext()) {
      held += b->QueryLength();
    }
    return held;
  });
}
BENCHMARK(BM_MemStream256MiB)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_StringStream256MiB(benchmark::State& state) {
  RunInChild(state, [] {
    std::stringstream stream;
    WritePayload(stream);
    return static_cast<std::size_t>(stream.tellp());
  });
}
BENCHMARK(BM_StringStream256MiB)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

/// Moves to the file once a block of memory is full.
class TAfterOneBlock : public TTempStreamTest {
  int UseTempFile(TTempStreamBuf* buffer) override { return buffer->QueryFirstBuffer() != nullptr; }
};

void BM_TempStream256MiB(benchmark::State& state) {
  RunInChild(state, [] {
    TTempStream stream(kMegabyte, "bench", new TAfterOneBlock);
    WritePayload(stream);
    stream.flush();
    return stream.rdbuf()->IsInMemory() == 0 && stream.good()
               ? static_cast<std::size_t>(stream.rdbuf()->pubseekoff(kPayload * 2, std::ios::beg))
               : 0;
  });
}
BENCHMARK(BM_TempStream256MiB)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
