// tests/sparse_test.cpp: sparse arrays, checked against std::map as a model.
// Licensed under the Apache License, Version 2.0.
#include <tavutil/sparse.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <random>
#include <vector>

namespace {

/// A value that counts its deletions.
struct Value {
  explicit Value(int* released) : released(released) {}
  Value(const Value&) = delete;
  Value& operator=(const Value&) = delete;
  ~Value() { ++*released; }
  int* released;
};

/// The typed array with its protected inspection opened up.
class Array : public TSparseArrayOf<Value> {
public:
  using TBaseSparseArrayOf::FindEntry;
  using TBaseSparseArrayOf::QueryCapacity;
};

/// The (index, value) pairs in position order, through FindIndex.
std::vector<std::pair<unsigned long, Value*>> Entries(const Array& array) {
  std::vector<std::pair<unsigned long, Value*>> entries;
  for (unsigned long position = 0; position < array.QueryCount(); ++position) {
    unsigned long index = 0;
    Value* value = array.FindIndex(position, index);
    entries.emplace_back(index, value);
  }
  return entries;
}

TEST(TBaseSparseArrayOf, EntriesSortByIndexWhateverTheOrderOfSetting) {
  int released = 0;
  Array array;
  Value* five = new Value(&released);
  array.Set(5, five);
  array.Set(1, new Value(&released));
  array.Set(3, new Value(&released));
  unsigned long index = 99;
  EXPECT_EQ(array.FindIndex(2, index), five);
  EXPECT_EQ(index, 5u);
  EXPECT_EQ(array.FindIndex(3, index), nullptr);
  EXPECT_EQ(index, 5u); // untouched past the end

  array.Set(0xFFFFFFFFul, new Value(&released));
  array.Set(0, new Value(&released));
  std::vector<unsigned long> indices;
  for (const auto& entry : Entries(array)) {
    indices.push_back(entry.first);
  }
  EXPECT_EQ(indices, (std::vector<unsigned long>{0, 1, 3, 5, 0xFFFFFFFFul}));
  if constexpr (sizeof(unsigned long) > 4) {
    EXPECT_EQ(array.Find((1ul << 32) + 5), five); // the low 32 bits are the index
  }
  EXPECT_EQ(released, 0);
}

TEST(TBaseSparseArrayOf, FindEntryGivesTheInsertionPositionOfAMissingIndex) {
  Array array;
  unsigned long position = 99;
  EXPECT_EQ(array.FindEntry(7, position), nullptr);
  EXPECT_EQ(position, 0u);
  const std::vector<unsigned long> set = {10, 20, 30, 40, 50};
  for (unsigned long index : set) {
    array.Set(index, nullptr); // entries holding null are entries all the same
  }
  // Every index from 0 to 60: its entry and position, or the count of entries below it.
  for (unsigned long index = 0; index <= 60; ++index) {
    SCOPED_TRACE(index);
    unsigned long below = 0;
    for (unsigned long other : set) {
      below += other < index ? 1 : 0;
    }
    TSparseArrayElement* entry = array.FindEntry(index, position);
    EXPECT_EQ(position, below);
    if (index % 10 == 0 && index >= 10 && index <= 50) {
      ASSERT_NE(entry, nullptr);
      EXPECT_EQ(entry->QueryIndex(), index);
    } else {
      EXPECT_EQ(entry, nullptr);
    }
  }
}

TEST(TBaseSparseArrayOf, CapacityStartsAtTenAndDoubles) {
  int released = 0;
  Array array;
  EXPECT_EQ(array.QueryCapacity(), 0u);
  std::vector<unsigned long> capacities;
  for (unsigned long i = 0; i < 41; ++i) {
    array.Set(1000 - i, new Value(&released)); // descending: every insertion moves them all
    capacities.push_back(array.QueryCapacity());
  }
  std::vector<unsigned long> expected(10, 10); // doubles at the eleventh, 21st and 41st
  expected.resize(20, 20);
  expected.resize(40, 40);
  expected.resize(41, 80);
  EXPECT_EQ(capacities, expected);
  EXPECT_EQ(array.Find(960)->released, &released);

  array.DeleteArray();
  EXPECT_EQ(released, 41);
  EXPECT_EQ(array.QueryCount(), 0u);
  EXPECT_EQ(array.QueryCapacity(), 0u);
  EXPECT_EQ(array.Find(1000), nullptr);
  array.Set(4, new Value(&released)); // and it fills again
  EXPECT_EQ(array.QueryCapacity(), 10u);
  EXPECT_EQ(array.QueryCount(), 1u);
}

TEST(TBaseSparseArrayOf, SetReleasesReplacedAndRemovedValuesExactlyOnce) {
  int released = 0;
  {
    Array array;
    Value* first = new Value(&released);
    array.Set(7, first);
    array.Set(7, first); // the same value: nothing happens
    EXPECT_EQ(released, 0);
    Value* second = new Value(&released);
    array.Set(7, second);
    EXPECT_EQ(released, 1);
    EXPECT_EQ(array.Find(7), second);

    array.Set(8, nullptr); // a null at a new index adds an entry
    EXPECT_EQ(array.QueryCount(), 2u);
    array.Set(8, nullptr); // and removes it again
    EXPECT_EQ(array.QueryCount(), 1u);
    array.Set(7, nullptr);
    EXPECT_EQ(released, 2);
    EXPECT_EQ(array.QueryCount(), 0u);
    EXPECT_EQ(array.Find(7), nullptr);

    array.Set(1, new Value(&released));
    array.Set(2, new Value(&released));
  }
  EXPECT_EQ(released, 4); // destroying the array releases what it still holds
}

TEST(TBaseSparseArrayOf, RandomSetsMatchAMapModel) {
  std::mt19937 random(12345);
  std::uniform_int_distribution<std::uint32_t> pick(0, 99);
  int released = 0;
  int made = 0;
  Array array;
  std::map<unsigned long, Value*> model;
  for (int step = 0; step < 3000; ++step) {
    const unsigned long index = pick(random) * 42949672ul; // spread over the whole range
    Value* value = nullptr;
    if (pick(random) < 70) {
      value = new Value(&released);
      ++made;
    }
    array.Set(index, value);
    const auto at = model.find(index);
    if (at == model.end()) {
      model.emplace(index, value);
    } else if (value == nullptr) {
      model.erase(at);
    } else {
      at->second = value;
    }
    ASSERT_EQ(array.QueryCount(), model.size());
    ASSERT_EQ(array.Find(index), value);
  }
  EXPECT_EQ(Entries(array),
            (std::vector<std::pair<unsigned long, Value*>>(model.begin(), model.end())));
  int stored = 0;
  for (const auto& entry : model) {
    stored += entry.second != nullptr ? 1 : 0;
  }
  EXPECT_EQ(released, made - stored); // everything replaced or removed, and nothing else
  array.DeleteArray();
  EXPECT_EQ(released, made);
}

} // namespace
