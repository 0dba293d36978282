// bench/tracestream_bench.cpp: the cost of one trace line written through a TTraceStream, to
// a file (flushed per line) beside fprintf + fflush of the same line, and to memory.
// Licensed under the Apache License, Version 2.0.
#include <tavutil/message.h>
#include <tavutil/tracestream.h>

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <sstream>
#include <string>

namespace {

const TTrace::Category& kCategory = TUtilityTraceCategory::Utility;
constexpr const char* kText = "Mutex creation failed for name qelvoTraceFile, error 13";

std::string BenchFile() {
  return (std::filesystem::temp_directory_path() /
          ("tracestream_bench." + std::to_string(::getpid()) + ".trc"))
      .string();
}

TMessage Line() {
  TMessage message(kText);
  message.SetDebugging("utility\\MUTEXSEM", 71);
  return message;
}

// The library's path: WriteEntry under the trace mutex, prefix, line, one write at the flush.
void BM_TraceStreamFile(benchmark::State& state) {
  const std::string name = BenchFile();
  {
    TTraceStream trace(name.c_str());
    const TMessage message = Line();
    for (auto _ : state) {
      TTrace::WriteEntry(0x4, kCategory, message);
    }
  }
  std::remove(name.c_str());
}
BENCHMARK(BM_TraceStreamFile);

// The same line by hand: local time, thread id, fprintf, fflush.
void BM_FprintfFile(benchmark::State& state) {
  const std::string name = BenchFile();
  std::FILE* file = std::fopen(name.c_str(), "w");
  for (auto _ : state) {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    std::tm t{};
    ::localtime_r(&now.tv_sec, &t);
    const auto thread = static_cast<unsigned>(::syscall(SYS_gettid));
    std::fprintf(file, "%2.2d/%2.2d-%2.2d:%2.2d:%2.2d.%2.2d %08X %c [%s:%lu] %s\n", t.tm_mon + 1,
                 t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, static_cast<int>(now.tv_nsec / 10000000),
                 thread, 'E', "MUTEXSEM", 71ul, kText);
    std::fflush(file);
  }
  std::fclose(file);
  std::remove(name.c_str());
}
BENCHMARK(BM_FprintfFile);

// The reference: write(2) of the bytes of the same line (prefix included) to a file.
void BM_WriteSyscallFile(benchmark::State& state) {
  const std::string name = BenchFile();
  const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const std::string line =
      "12/05-15:22:50.39 00005E60 E [MUTEXSEM:71] " + std::string(kText) + "\n";
  for (auto _ : state) {
    benchmark::DoNotOptimize(::write(fd, line.data(), line.size()));
  }
  ::close(fd);
  std::remove(name.c_str());
}
BENCHMARK(BM_WriteSyscallFile);

// The line without I/O: to a std::ostringstream, emptied now and then. Argument: display
// prefix (1 shows the cost of the time-and-thread prefix).
void BM_TraceStreamMemory(benchmark::State& state) {
  std::ostringstream out;
  TTraceStream trace(out);
  trace.SetDisplayPrefix(static_cast<int>(state.range(0)));
  const TMessage message = Line();
  unsigned lines = 0;
  for (auto _ : state) {
    TTrace::WriteEntry(0x4, kCategory, message);
    if ((++lines & 4095u) == 0) {
      out.str(std::string());
    }
  }
}
BENCHMARK(BM_TraceStreamMemory)->Arg(1)->Arg(0);

} // namespace
