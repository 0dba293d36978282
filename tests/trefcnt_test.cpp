// tests/trefcnt_test.cpp: TRefCounted and TReference<T>.
// Licensed under the Apache License, Version 2.0.
#include <tavutil/exception.h>
#include <tavutil/trefcnt.h>

#include "library_error.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

/// Counts its own destructions.
class TCounted : public TRefCounted {
public:
  explicit TCounted(int* deletions) : fDeletions(deletions) {}

protected:
  ~TCounted() override { ++*fDeletions; }

private:
  int* fDeletions;
};

/// Stays alive at count 0 and records the call instead.
class TKeptAlive : public TRefCounted {
public:
  void Unreachable() override { ++fUnreachableCalls; }
  int fUnreachableCalls = 0;
};

TEST(TRefCounted, CountZeroIsLeftAloneAndTheLastRemoveRefDecides) {
  TKeptAlive kept;
  { const TReference<TKeptAlive> none; }
  EXPECT_EQ(kept.fUnreachableCalls, 0);
  kept.AddRef();
  kept.AddRef();
  TKeptAlive copy(kept); // copies take the count value, not references
  EXPECT_EQ(copy.QueryReferenceCount(), 2);
  kept.RemoveRef();
  EXPECT_EQ(kept.fUnreachableCalls, 0);
  kept.RemoveRef();
  EXPECT_EQ(kept.fUnreachableCalls, 1); // the override keeps the object alive

  int deletions = 0;
  auto* object = new TCounted(&deletions);
  object->AddRef();
  object->RemoveRef();
  EXPECT_EQ(deletions, 1);
}

TEST(TReference, CopiesAndAssignmentsKeepTheCount) {
  int deletions = 0;
  auto* first = new TCounted(&deletions);
  auto* second = new TCounted(&deletions);
  {
    TReference<TCounted> a(first);
    TReference<TCounted> b(a);
    TReference<TCounted>& alias = a;
    a = alias; // must not drop the reference it takes again
    a = first;
    EXPECT_EQ(first->QueryReferenceCount(), 2);
    const TReference<TCounted> c(second);
    a = c;
    b = c;
    EXPECT_EQ(deletions, 1); // first went with its last reference
    const TReference<TCounted> moved(std::move(a));
    EXPECT_EQ(second->QueryReferenceCount(), 3);
    b = nullptr;
    EXPECT_EQ(second->QueryReferenceCount(), 2);
  }
  EXPECT_EQ(deletions, 2);
}

TEST(TReference, NullDereferenceThrowsTheLibraryError) {
  const TReference<TKeptAlive> none;
  EXPECT_TRUE(none.IsNull());
  ExpectRaises([&] { none->AddRef(); },
               {"TInvalidRequest", "TReference null", 1, 1, "utility/TREFCNT", 135});
  EXPECT_THROW(*none, TInvalidRequest);
}

TEST(TRefCountedThreaded, ManyThreadsDeleteExactlyOnce) {
  for (int trial = 0; trial < 20; ++trial) {
    int deletions = 0;
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    {
      const TReference<TCounted> shared(new TCounted(&deletions));
      for (int t = 0; t < 8; ++t) {
        // Each thread owns a copy and takes and drops more; whichever is last deletes.
        threads.emplace_back([held = shared, &go]() mutable {
          while (!go.load()) {
            std::this_thread::yield();
          }
          for (int i = 0; i < 2000; ++i) {
            TReference<TCounted> extra(held);
            extra = held;
          }
          held = nullptr;
        });
      }
    }
    go.store(true); // only the threads hold the object now
    for (auto& thread : threads) {
      thread.join();
    }
    EXPECT_EQ(deletions, 1) << "trial " << trial;
  }
}

} // namespace
