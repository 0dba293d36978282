// bench/mutexsem_bench.cpp: uncontended lock and unlock of TMutexSemaphore, unnamed and named,
// beside the standard library's mutexes; making and closing a named mutex beside the bare
// shared-memory calls.
// Licensed under the Apache License, Version 2.0.
#include <tavutil/mutexsem.h>

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <memory>
#include <mutex>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

void BM_UnnamedEntry(benchmark::State& state) {
  TMutexSemaphore mutex;
  for (auto _ : state) {
    TMutexSemaphoreEntry entry(mutex, TMutexSemaphore::fsInfinite);
    benchmark::DoNotOptimize(entry.State());
  }
}
BENCHMARK(BM_UnnamedEntry);

void BM_NamedEntry(benchmark::State& state) {
  const std::string name = "tavutil-bench." + std::to_string(::getpid());
  TMutexSemaphore mutex(name.c_str());
  for (auto _ : state) {
    TMutexSemaphoreEntry entry(mutex, TMutexSemaphore::fsInfinite);
    benchmark::DoNotOptimize(entry.State());
  }
}
BENCHMARK(BM_NamedEntry);

void BM_StdMutex(benchmark::State& state) {
  std::mutex mutex;
  for (auto _ : state) {
    const std::lock_guard<std::mutex> hold(mutex);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_StdMutex);

void BM_StdRecursiveMutex(benchmark::State& state) {
  std::recursive_mutex mutex;
  for (auto _ : state) {
    const std::lock_guard<std::recursive_mutex> hold(mutex);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_StdRecursiveMutex);

// Making a named mutex sweeps the user's namespace for abandoned names: the argument is the
// number of other named mutexes this process holds meanwhile, which every sweep looks at.
void BM_NamedMutexMakeAndClose(benchmark::State& state) {
  const std::string base = "tavutil-bench." + std::to_string(::getpid());
  std::vector<std::unique_ptr<TMutexSemaphore>> others;
  for (long i = 0; i < state.range(0); ++i) {
    others.push_back(
        std::make_unique<TMutexSemaphore>((base + ".other." + std::to_string(i)).c_str()));
  }
  const std::string name = base + ".made";
  for (auto _ : state) {
    TMutexSemaphore mutex(name.c_str());
    benchmark::DoNotOptimize(&mutex);
  }
}
BENCHMARK(BM_NamedMutexMakeAndClose)->Arg(0)->Arg(50);

// The reference: the system calls of a shared-memory object's life, without locks or checks.
void BM_ShmMakeAndRemove(benchmark::State& state) {
  const std::string name = "/tavutil-bench.raw." + std::to_string(::getpid());
  for (auto _ : state) {
    const int fd = ::shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    ::ftruncate(fd, 4096);
    void* base = ::mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ::munmap(base, 4096);
    ::close(fd);
    ::shm_unlink(name.c_str());
  }
}
BENCHMARK(BM_ShmMakeAndRemove);

} // namespace
