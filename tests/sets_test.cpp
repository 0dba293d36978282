// tests/sets_test.cpp: ordered sets, keyed sets, element pointers and cursors.
// Licensed under the Apache License, Version 2.0.
#include <tavutil/sets.h>
#include <tavutil/tstring.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

/// An item that counts its live instances and carries a key.
struct Item {
  explicit Item(const char* key, int* live = nullptr) : key(key), live(live) {
    if (live != nullptr) {
      ++*live;
    }
  }
  ~Item() {
    if (live != nullptr) {
      --*live;
    }
  }
  const TString& Key() const { return key; }

  TString key;
  int* live;
};

std::vector<std::string> Keys(TSetOf<Item>& set) {
  std::vector<std::string> keys;
  TSetOf<Item>::Cursor cursor(set);
  for (Item* item = cursor.Element(); item != nullptr; item = cursor.Next()) {
    keys.emplace_back(static_cast<const char*>(item->key));
  }
  EXPECT_EQ(cursor.Next(), nullptr); // stays at the end
  EXPECT_EQ(keys.size(), set.GetNumberElements());
  return keys;
}

TEST(TBaseSetOf, AddAppendsAndInsertsByPosition) {
  TSetOf<Item> set;
  EXPECT_EQ(set.Find(0ul), nullptr);
  EXPECT_TRUE(Keys(set).empty());
  Item* b = new Item("b");
  set.Add(new Item("a"));
  set.Add(b);
  set.Add(new Item("c"), 1);
  EXPECT_EQ(Keys(set), (std::vector<std::string>{"a", "c", "b"}));
  EXPECT_EQ(set.Find(2ul), b);
  EXPECT_EQ(set.Find(3ul), nullptr);

  set.Add(new Item("first"), 0);
  set.Add(new Item("end"), 99);                       // beyond the count appends
  set.Add(new Item("last"), set.GetNumberElements()); // so does the count itself
  EXPECT_EQ(Keys(set), (std::vector<std::string>{"first", "a", "c", "b", "end", "last"}));
}

TEST(TBaseSetOf, RemoveUnlinksOnlyTheFirstIdenticalItemAndKeepsTheLastPointer) {
  TSetOf<Item> set;
  Item* a = new Item("a");
  set.Add(a);
  set.Add(new Item("b"));
  set.Add(a); // the same pointer twice
  set.Remove(a);
  EXPECT_EQ(Keys(set), (std::vector<std::string>{"b", "a"}));
  Item outsider("x");
  set.Remove(&outsider);
  EXPECT_EQ(set.GetNumberElements(), 2u);

  set.Remove(a); // the last element: the next Add must append after the new last one
  set.Add(new Item("c"));
  EXPECT_EQ(Keys(set), (std::vector<std::string>{"b", "c"}));
  delete a;

  TSetOf<Item> single;
  Item only("only");
  single.Add(&only);
  single.Remove(&only); // first and last both go
  single.Add(new Item("again"), 5);
  EXPECT_EQ(Keys(single), std::vector<std::string>{"again"});
}

TEST(TSetOf, OwnsItsItemsUntilRemovedAndCursorsCopyIndependently) {
  int live = 0;
  Item* survivor = new Item("b", &live);
  {
    TSetOf<Item> set;
    set.Add(new Item("a", &live));
    set.Add(survivor);
    set.Remove(survivor);
    TSetOf<Item>::Cursor first(set);
    TSetOf<Item>::Cursor second = first;
    EXPECT_EQ(first.Next(), nullptr);
    EXPECT_STREQ(second.Element()->key, "a");
  }
  EXPECT_EQ(live, 1);
  delete survivor;
}

TEST(TKeySetOf, FindByKeyGivesTheEarliestMatch) {
  TKeySetOf<Item, TString> set;
  Item* first = new Item("k");
  set.Add(new Item("other"));
  set.Add(first);
  set.Add(new Item("k"));
  EXPECT_EQ(set.Find(TString("k")), first);
  EXPECT_EQ(set.Find(TString("K")), nullptr); // the default comparison is exact
  EXPECT_STREQ(set.Find(0ul)->key, "other");  // the positional Find stays reachable
}

TEST(TElemPointer, FindsByThePointedKeyAndDoesNotOwn) {
  int live = 0;
  Item target("target", &live);
  {
    TKeySetOf<TElemPointer<Item>, TString> pointers;
    pointers.Add(new TElemPointer<Item>(&target));
    EXPECT_EQ(pointers.Find(TString("target"))->QueryPointer(), &target);
  }
  EXPECT_EQ(live, 1);
}

} // namespace
