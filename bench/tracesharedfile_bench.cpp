// bench/tracesharedfile_bench.cpp: a flushed trace line through a file output and through the
// shared trace file, beside write(2) of the same bytes; and the shared file's total throughput
// with two processes of two threads beside one process of one thread.
// Licensed under the Apache License, Version 2.0.
#include <tavutil/message.h>
#include <tavutil/tracesharedfile.h>
#include <tavutil/tracestream.h>

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

const TTrace::Category& kCategory = TUtilityTraceCategory::Utility;
constexpr const char* kText = "Mutex creation failed for name qelvoTraceFile, error 13";

std::string BenchFile(const char* tag) {
  return (std::filesystem::temp_directory_path() /
          ("tracesharedfile_bench." + std::to_string(::getpid()) + "." + tag))
      .string();
}

TMessage Line() {
  TMessage message(kText);
  message.SetDebugging("utility\\MUTEXSEM", 71);
  return message;
}

// The reference: one write(2) of a whole shared-file line, appended.
void BM_WriteSyscall(benchmark::State& state) {
  const std::string name = BenchFile("write");
  const int file = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0600);
  const std::string line =
      "12/05-15:22:50.39 00005E60:00005E61 E [MUTEXSEM:71] " + std::string(kText) + "\n";
  for (auto _ : state) {
    benchmark::DoNotOptimize(::write(file, line.data(), line.size()));
  }
  ::close(file);
  std::remove(name.c_str());
}
BENCHMARK(BM_WriteSyscall);

// A line through a TTraceStream on a file: WriteEntry, prefix, one write, flush.
void BM_FileOutput(benchmark::State& state) {
  const std::string name = BenchFile("file");
  {
    const TTraceStream trace(name.c_str());
    const TMessage message = Line();
    for (auto _ : state) {
      TTrace::WriteEntry(0x4, kCategory, message);
    }
  }
  std::remove(name.c_str());
}
BENCHMARK(BM_FileOutput);

// A line through the shared trace file in one process: the named mutex around one append.
void BM_SharedFileOutput(benchmark::State& state) {
  const std::string name = BenchFile("shfile");
  {
    const TTraceSharedFile trace(name.c_str());
    const TMessage message = Line();
    for (auto _ : state) {
      TTrace::WriteEntry(0x4, kCategory, message);
    }
  }
  std::remove(name.c_str());
}
BENCHMARK(BM_SharedFileOutput);

// Lines per second in total when `processes` processes of `threads` threads each write
// `lines` lines per thread into one shared trace file.
void BM_SharedFileProcesses(benchmark::State& state) {
  const auto processes = static_cast<int>(state.range(0));
  const auto threads = static_cast<int>(state.range(1));
  constexpr int kLines = 5000;
  const std::string name = BenchFile("processes");
  for (auto _ : state) {
    std::vector<pid_t> children;
    for (int p = 0; p < processes; ++p) {
      const pid_t child = ::fork();
      if (child == 0) {
        {
          const TTraceSharedFile trace(name.c_str());
          std::vector<std::thread> writers;
          for (int t = 0; t < threads; ++t) {
            writers.emplace_back([] {
              const TMessage message = Line();
              for (int i = 0; i < kLines; ++i) {
                TTrace::WriteEntry(0x4, kCategory, message);
              }
            });
          }
          for (std::thread& writer : writers) {
            writer.join();
          }
        }
        ::_exit(0);
      }
      children.push_back(child);
    }
    for (const pid_t child : children) {
      ::waitpid(child, nullptr, 0);
    }
  }
  state.SetItemsProcessed(state.iterations() * processes * threads * kLines);
  std::remove(name.c_str());
}
BENCHMARK(BM_SharedFileProcesses)
    ->Args({1, 1})
    ->Args({2, 2})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
