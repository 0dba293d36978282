// tests/helpers/named_objects.h: names of mutexes and sections unique to a test run, a fixture
// that fails a test which leaves one behind, and a mutex the tests may lock without a scope.
// Licensed under the Apache License, Version 2.0.
#ifndef TAVUTIL_TESTS_NAMED_OBJECTS_H
#define TAVUTIL_TESTS_NAMED_OBJECTS_H

#include <tavutil/mutexsem.h>

#include "test_platform.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <thread>
#include <vector>

/// A new name "tavutil-test.<run>.<n>.<tag>": <run> is drawn once per process, so no other test
/// process, nor an earlier run's leftovers, has it.
inline std::string UniqueName(const std::string& tag) {
  static const std::string run = std::to_string(std::random_device{}());
  static int counter = 0;
  return "tavutil-test." + run + "." + std::to_string(++counter) + "." + tag;
}

/// Fixture base: a mutex or section of a name it gave out still there at tear-down (every child
/// has gone by then) fails the test, and is removed where the system lets a test do that.
class NamedObjectTest : public ::testing::Test {
protected:
  std::string Unique(const std::string& tag) { return Track(UniqueName(tag)); }
  /// Tracks a name made from unique ones.
  std::string Track(const std::string& name) { return fNames.emplace_back(name); }

  void TearDown() override {
    for (const std::string& name : fNames) {
      const std::string left = RemoveNamedObjects(name);
      EXPECT_EQ(left, "") << "left behind";
    }
  }

private:
  std::vector<std::string> fNames;
};

/// The states of a lock, and the time-out that waits without limit.
constexpr auto kLocked = TMutexSemaphore::locked;
constexpr auto kTimedOut = TMutexSemaphore::timedOut;
constexpr long kForever = TMutexSemaphore::fsInfinite;

/// A mutex whose lock and unlock the test may call without a scope.
class UnscopedMutex : public TMutexSemaphore {
public:
  using TMutexSemaphore::Lock;
  using TMutexSemaphore::TMutexSemaphore;
  using TMutexSemaphore::Unlock;
};

/// What a lock with time-out 0 gives on another thread, which lets go again at once.
inline TMutexSemaphore::EState TryElsewhere(UnscopedMutex& mutex) {
  TMutexSemaphore::EState state = TMutexSemaphore::failed;
  std::thread([&] { state = TMutexSemaphoreEntry(mutex, 0).State(); }).join();
  return state;
}

#endif // TAVUTIL_TESTS_NAMED_OBJECTS_H
