// bench/thread_bench.cpp: semaphore ping-pong and thread start-and-wait, beside the standard
// library doing the same work.
// Licensed under the Apache License, Version 2.0.
#include <tavutil/thread.h>

#include <benchmark/benchmark.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

// ------------------------------------------------------------------ ping-pong ----
// One round trip per iteration: this thread hands the turn to a partner thread, which hands
// it straight back.

void BM_SemaphorePingPong(benchmark::State& state) {
  TSemaphore ping;
  TSemaphore pong;
  bool done = false; // written before the last ping, read after it
  std::thread partner([&] {
    while (ping.Wait(-1) == 0 && !done) {
      pong.Post();
    }
  });
  for (auto _ : state) {
    ping.Post();
    pong.Wait(-1);
  }
  done = true;
  ping.Post();
  partner.join();
}
BENCHMARK(BM_SemaphorePingPong)->UseRealTime();

/// The same hand-over with a mutex, a condition variable and a turn flag.
void BM_StdPingPong(benchmark::State& state) {
  std::mutex mutex;
  std::condition_variable changed;
  int turn = 0; // 0: this thread's, 1: the partner's, 2: the partner stops
  std::thread partner([&] {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      changed.wait(lock, [&] { return turn != 0; });
      if (turn == 2) {
        return;
      }
      turn = 0;
      changed.notify_one();
    }
  });
  for (auto _ : state) {
    std::unique_lock<std::mutex> lock(mutex);
    turn = 1;
    changed.notify_one();
    changed.wait(lock, [&] { return turn == 0; });
  }
  {
    const std::lock_guard<std::mutex> lock(mutex);
    turn = 2;
  }
  changed.notify_one();
  partner.join();
}
BENCHMARK(BM_StdPingPong)->UseRealTime();

// -------------------------------------------------------------- start and wait ----

class TEmptyThread : public TThread {
public:
  int Run() override { return 0; }
};

void BM_ThreadStartWait(benchmark::State& state) {
  const TReference<TEmptyThread> thread(new TEmptyThread);
  for (auto _ : state) {
    if (thread->Start() != 0) {
      state.SkipWithError("Start failed");
      break;
    }
    thread->WaitForTermination(-1);
  }
}
BENCHMARK(BM_ThreadStartWait)->UseRealTime();

void BM_StdThreadJoin(benchmark::State& state) {
  for (auto _ : state) {
    std::thread thread([] {});
    thread.join();
  }
}
BENCHMARK(BM_StdThreadJoin)->UseRealTime();

} // namespace
