// tests/trefcnt_test.cpp: TRefCounted and TReference<T>.
// Licensed under the Apache License, Version 2.0.
#include <tavutil/exception.h>
#include <tavutil/trefcnt.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

/// Counts its own destructions so that a test can see when and how often it was deleted.
class TCounted : public TRefCounted {
public:
  explicit TCounted(int* deletions) : fDeletions(deletions) {}

protected:
  ~TCounted() override { ++*fDeletions; }

private:
  int* fDeletions;
};

/// Keeps itself alive at count 0 and records the call instead.
class TKeptAlive : public TRefCounted {
public:
  void Unreachable() override { ++fUnreachableCalls; }
  int fUnreachableCalls = 0;
};

TEST(TRefCounted, UnreferencedObjectStaysAtZero) {
  TKeptAlive object;
  EXPECT_EQ(object.QueryReferenceCount(), 0);
  {
    const TReference<TKeptAlive> none;
    EXPECT_TRUE(none.IsNull());
  }
  EXPECT_EQ(object.fUnreachableCalls, 0);
}

TEST(TRefCounted, LastRemoveRefDeletesThroughUnreachable) {
  int deletions = 0;
  auto* object = new TCounted(&deletions);
  object->AddRef();
  object->AddRef();
  EXPECT_EQ(object->QueryReferenceCount(), 2);
  object->RemoveRef();
  EXPECT_EQ(deletions, 0);
  object->RemoveRef();
  EXPECT_EQ(deletions, 1);
}

TEST(TRefCounted, OverriddenUnreachableDecidesAtZero) {
  TKeptAlive object;
  object.AddRef();
  object.RemoveRef();
  EXPECT_EQ(object.fUnreachableCalls, 1);
  EXPECT_EQ(object.QueryReferenceCount(), 0);
  // The object lives on and can be taken again.
  {
    const TReference<TKeptAlive> held(&object);
    EXPECT_EQ(object.QueryReferenceCount(), 1);
  }
  EXPECT_EQ(object.fUnreachableCalls, 2);
}

TEST(TRefCounted, CopyAndAssignmentCopyTheCountValue) {
  TKeptAlive source;
  source.AddRef();
  source.AddRef();
  TKeptAlive copy(source);
  EXPECT_EQ(copy.QueryReferenceCount(), 2);
  TKeptAlive assigned;
  assigned = source;
  EXPECT_EQ(assigned.QueryReferenceCount(), 2);
  source.RemoveRef();
  EXPECT_EQ(copy.QueryReferenceCount(), 2);
}

TEST(TReference, CopiesAndAssignmentsKeepTheCount) {
  int deletions = 0;
  auto* first = new TCounted(&deletions);
  auto* second = new TCounted(&deletions);
  {
    TReference<TCounted> a(first);
    TReference<TCounted> b(a);
    EXPECT_EQ(first->QueryReferenceCount(), 2);
    EXPECT_EQ(b.QueryPointer(), first);

    a = a; // self-assignment must not drop the only other reference
    b = b;
    EXPECT_EQ(first->QueryReferenceCount(), 2);

    // Assigning the object already held through a raw pointer keeps it alive.
    a = first;
    EXPECT_EQ(first->QueryReferenceCount(), 2);

    TReference<TCounted> c(second);
    a = c;
    b = c;
    EXPECT_EQ(deletions, 1); // first went with its last reference
    EXPECT_EQ(second->QueryReferenceCount(), 3);

    TReference<TCounted> moved(std::move(a));
    EXPECT_TRUE(a.IsNull()); // NOLINT(bugprone-use-after-move): the moved-from state is null
    EXPECT_EQ(second->QueryReferenceCount(), 3);
    b = nullptr;
    EXPECT_EQ(second->QueryReferenceCount(), 2);
  }
  EXPECT_EQ(deletions, 2);
}

TEST(TReference, NullDereferenceThrowsTheLibraryError) {
  const TReference<TKeptAlive> none;
  EXPECT_FALSE(none);
  EXPECT_EQ(none.QueryPointer(), nullptr);
  try {
    none->AddRef();
    FAIL() << "no exception";
  } catch (const TInvalidRequest& e) {
    EXPECT_STREQ(e.name(), "TInvalidRequest");
    EXPECT_STREQ(e.text(0), "TReference null");
    EXPECT_EQ(e.textCount(), 1u);
    EXPECT_EQ(e.errorId(), 1u);
    EXPECT_EQ(e.isRecoverable(), 1);
    EXPECT_STREQ(e.errorCodeGroup(), "Tessel Library");
    ASSERT_EQ(e.locationCount(), 1u);
    EXPECT_STREQ(e.locationAtIndex(0)->fileName(), "utility/TREFCNT");
    EXPECT_STREQ(e.locationAtIndex(0)->functionName(), "");
    EXPECT_EQ(e.locationAtIndex(0)->lineNumber(), 135u);
  }
  EXPECT_THROW(*none, TInvalidRequest);
}

TEST(TRefCountedThreaded, ManyThreadsDeleteExactlyOnce) {
  constexpr int kThreads = 8;
  constexpr int kRounds = 20000;
  for (int trial = 0; trial < 20; ++trial) {
    int deletions = 0;
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    {
      const TReference<TCounted> shared(new TCounted(&deletions));
      for (int t = 0; t < kThreads; ++t) {
        // Each thread owns one copy and takes and drops more; the last holder deletes.
        threads.emplace_back([held = shared, &go, trial]() mutable {
          while (!go.load()) {
            std::this_thread::yield();
          }
          const int rounds = trial == 0 ? kRounds : kRounds / 50;
          for (int i = 0; i < rounds; ++i) {
            TReference<TCounted> extra(held);
            TReference<TCounted> another;
            another = extra;
          }
          held = nullptr;
        });
      }
    }
    // Only the threads hold the object now.
    go.store(true);
    for (auto& thread : threads) {
      thread.join();
    }
    EXPECT_EQ(deletions, 1) << "trial " << trial;
  }
}

} // namespace
