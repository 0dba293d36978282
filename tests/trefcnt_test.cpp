// tests/trefcnt_test.cpp: TRefCounted and TReference<T>.
// Licensed under the Apache License, Version 2.0.
#include <tavutil/trefcnt.h>

#include "library_error.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <utility>
#include <vector>

namespace {

/// Counts its own destructions.
struct TCounted : TRefCounted {
  explicit TCounted(int* deletions) : fDeletions(deletions) {}
  ~TCounted() override { ++*fDeletions; }
  int* fDeletions;
};

TEST(TRefCounted, CountZeroIsLeftAloneAndTheLastRemoveRefDecides) {
  int deletions = 0;
  auto* object = new TCounted(&deletions);
  EXPECT_EQ(object->QueryReferenceCount(), 0);
  object->AddRef();
  object->RemoveRef();
  EXPECT_EQ(deletions, 1); // through the default Unreachable

  struct TKeptAlive : TRefCounted {
    void Unreachable() override { ++fUnreachableCalls; } // stays alive at count 0
    int fUnreachableCalls = 0;
  } kept;
  kept.AddRef();
  EXPECT_EQ(TKeptAlive(kept).QueryReferenceCount(), 1); // a copy takes the count value
  kept.RemoveRef();
  EXPECT_EQ(kept.fUnreachableCalls, 1);
}

TEST(TReference, CopiesAndAssignmentsKeepTheCount) {
  int deletions = 0;
  {
    TReference<TCounted> a(new TCounted(&deletions));
    a = a.QueryPointer(); // the only reference: dropping it before taking the new one deletes
    EXPECT_EQ(deletions, 0);
    TReference<TCounted> b(a);
    a = new TCounted(&deletions);
    b = a;
    EXPECT_EQ(deletions, 1); // the first object went with its last reference
    const TReference<TCounted> moved(std::move(a));
    b = nullptr;
    EXPECT_EQ(deletions, 1); // the moved reference still holds the second object
  }
  EXPECT_EQ(deletions, 2);
}

TEST(TReference, DereferencingNullRaisesTReferenceNull) {
  ExpectRaises([] { (void)*TReference<TCounted>(); },
               {"TInvalidRequest", "TReference null", 1, 1, "utility/TREFCNT", 135});
}

TEST(TRefCountedThreaded, ManyThreadsDeleteExactlyOnce) {
  for (int trial = 0; trial < 20; ++trial) {
    int deletions = 0;
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    TReference<TCounted> shared(new TCounted(&deletions));
    for (int t = 0; t < 8; ++t) { // each thread takes and drops references on its own copy
      threads.emplace_back([held = shared, &go]() mutable {
        while (!go.load()) {
          std::this_thread::yield();
        }
        for (int i = 0; i < 2000; ++i) {
          held = TReference<TCounted>(held);
        }
        held = nullptr; // whichever thread is last deletes
      });
    }
    shared = nullptr; // only the threads hold the object now
    go.store(true);
    for (auto& thread : threads) {
      thread.join();
    }
    EXPECT_EQ(deletions, 1) << "trial " << trial;
  }
}

} // namespace
