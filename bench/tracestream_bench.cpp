// bench/tracestream_bench.cpp: the cost of one trace line written through a TTraceStream to a
// file (flushed per line) beside write(2) of the same bytes, fprintf + fflush and spdlog's
// file sink flushing every line (when spdlog is installed); and the same line into memory.
// Licensed under the Apache License, Version 2.0.
//
// The line is "MM/DD-HH:MM:SS.hh TTTTTTTT E [tracestream_bench.cpp:NN] Value 42 of apples",
// from a trace point (the message built and rendered each time) or from a prebuilt message.
// spdlog's pattern gives the same shape as near as its flags allow (milliseconds, a decimal
// thread id).
#include <tavutil/message.h>
#include <tavutil/trace.h>
#include <tavutil/tracepoint.h>
#include <tavutil/tracestream.h>

#include <benchmark/benchmark.h>

#ifdef TAVUTIL_BENCH_HAVE_SPDLOG
#include <spdlog/logger.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>
#endif

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>

namespace {

const TTrace::Category& kCategory = TUtilityTraceCategory::Utility;
constexpr char kFormat[] = "Value %d of %s";
constexpr char kName[] = "apples";
constexpr int kValue = 42;

std::string BenchFile(const char* tag) {
  return (std::filesystem::temp_directory_path() /
          ("tracestream_bench." + std::to_string(::getpid()) + "." + tag + ".trc"))
      .string();
}

/// The trace point every case writes (one source line, so one line shape).
void TracePoint() {
  TAVUTIL_TRACE(0x4, kCategory, kFormat, kValue, kName);
}

/// The trace point's message, built once: the same line from a message at hand.
TMessage Prebuilt() {
  TMessage message(kFormat, kValue, kName);
  message.SetDebugging("bench/tracestream_bench.cpp", 1);
  return message;
}

/// The line the trace point writes now, with the time and thread prefix.
std::string TraceLine() {
  std::ostringstream out;
  TTraceStream trace(out);
  TracePoint();
  return out.str();
}

// The library's path from a trace point: the message built, rendered, prefixed and written
// to a file, flushed.
void BM_TraceMacroFile(benchmark::State& state) {
  const std::string name = BenchFile("macro");
  {
    TTraceStream trace(name.c_str());
    for (auto _ : state) {
      TracePoint();
    }
  }
  std::remove(name.c_str());
}
BENCHMARK(BM_TraceMacroFile);

// The same line from a prebuilt message: WriteEntry under the trace mutex, prefix, flush.
void BM_TraceStreamFile(benchmark::State& state) {
  const std::string name = BenchFile("prebuilt");
  {
    TTraceStream trace(name.c_str());
    const TMessage message = Prebuilt();
    for (auto _ : state) {
      TTrace::WriteEntry(0x4, kCategory, message);
    }
  }
  std::remove(name.c_str());
}
BENCHMARK(BM_TraceStreamFile);

// The reference: write(2) of the bytes of the trace point's line to a file.
void BM_WriteSyscallFile(benchmark::State& state) {
  const std::string name = BenchFile("write");
  const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const std::string line = TraceLine();
  for (auto _ : state) {
    benchmark::DoNotOptimize(::write(fd, line.data(), line.size()));
  }
  ::close(fd);
  std::remove(name.c_str());
  state.counters["bytes"] = static_cast<double>(line.size());
}
BENCHMARK(BM_WriteSyscallFile);

// The same line by hand: local time, thread id, fprintf, fflush.
void BM_FprintfFile(benchmark::State& state) {
  const std::string name = BenchFile("fprintf");
  std::FILE* file = std::fopen(name.c_str(), "w");
  for (auto _ : state) {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    std::tm t{};
    ::localtime_r(&now.tv_sec, &t);
    const auto thread = static_cast<unsigned>(::syscall(SYS_gettid));
    std::fprintf(file, "%2.2d/%2.2d-%2.2d:%2.2d:%2.2d.%2.2d %08X %c [%s:%d] Value %d of %s\n",
                 t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec,
                 static_cast<int>(now.tv_nsec / 10000000), thread, 'E', "tracestream_bench.cpp",
                 __LINE__, kValue, kName);
    std::fflush(file);
  }
  std::fclose(file);
  std::remove(name.c_str());
}
BENCHMARK(BM_FprintfFile);

// The line without I/O: to a std::ostringstream, emptied now and then. Argument: display
// prefix (1 shows the cost of the time-and-thread prefix).
void BM_TraceStreamMemory(benchmark::State& state) {
  std::ostringstream out;
  TTraceStream trace(out);
  trace.SetDisplayPrefix(static_cast<int>(state.range(0)));
  const TMessage message = Prebuilt();
  unsigned lines = 0;
  for (auto _ : state) {
    TTrace::WriteEntry(0x4, kCategory, message);
    if ((++lines & 4095u) == 0) {
      out.str(std::string());
    }
  }
}
BENCHMARK(BM_TraceStreamMemory)->Arg(1)->Arg(0);

// ------------------------------------------------------------------- spdlog ----
#ifdef TAVUTIL_BENCH_HAVE_SPDLOG

// The peer of BM_TraceMacroFile: spdlog's file sink, flushed after every line.
void BM_SpdlogFileSink(benchmark::State& state) {
  const std::string name = BenchFile("spdlog");
  {
    auto logger = std::make_shared<spdlog::logger>(
        "bench", std::make_shared<spdlog::sinks::basic_file_sink_mt>(name, true));
    logger->set_pattern("%m/%d-%H:%M:%S.%e %t %L [%s:%#] %v");
    logger->flush_on(spdlog::level::trace);
    for (auto _ : state) {
      SPDLOG_LOGGER_ERROR(logger, "Value {} of {}", kValue, kName);
    }
  }
  std::remove(name.c_str());
}
BENCHMARK(BM_SpdlogFileSink);

#endif
} // namespace
