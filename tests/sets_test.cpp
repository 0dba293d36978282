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
  Item(const Item&) = delete;
  Item& operator=(const Item&) = delete;
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
  return keys;
}

TEST(TBaseSetOf, EmptySetHasNothingToFindOrWalk) {
  TSetOf<Item> set;
  EXPECT_EQ(set.GetNumberElements(), 0u);
  EXPECT_EQ(set.Find(0ul), nullptr);
  TSetOf<Item>::Cursor cursor(set);
  EXPECT_EQ(cursor.Element(), nullptr);
  EXPECT_EQ(cursor.Next(), nullptr);
  EXPECT_EQ(cursor.Next(), nullptr);
}

TEST(TBaseSetOf, AddAppendsAndInsertsByPosition) {
  TSetOf<Item> set;
  Item* a = new Item("a");
  Item* b = new Item("b");
  set.Add(a);
  set.Add(b);
  set.Add(new Item("c"), 1);
  EXPECT_EQ(Keys(set), (std::vector<std::string>{"a", "c", "b"}));
  EXPECT_STREQ(set.Find(1ul)->key, "c");
  EXPECT_EQ(set.Find(2ul), b);
  EXPECT_EQ(set.Find(3ul), nullptr);

  set.Add(new Item("first"), 0);
  set.Add(new Item("end"), 99); // beyond the count appends
  set.Add(new Item("last"), set.GetNumberElements());
  EXPECT_EQ(Keys(set), (std::vector<std::string>{"first", "a", "c", "b", "end", "last"}));
  EXPECT_STREQ(set.Find(set.GetNumberElements() - 1)->key, "last");
}

TEST(TBaseSetOf, RemoveUnlinksOnlyTheFirstIdenticalItem) {
  TSetOf<Item> set;
  Item* a = new Item("a");
  Item* b = new Item("b");
  set.Add(a);
  set.Add(b);
  set.Add(a); // the same pointer twice
  set.Remove(a);
  EXPECT_EQ(Keys(set), (std::vector<std::string>{"b", "a"}));

  Item outsider("x");
  set.Remove(&outsider);
  EXPECT_EQ(set.GetNumberElements(), 2u);

  set.Remove(a); // the last element: the next Add must append after the new last
  set.Add(new Item("c"));
  EXPECT_EQ(Keys(set), (std::vector<std::string>{"b", "c"}));
  delete a;
}

TEST(TBaseSetOf, RemovingTheOnlyElementEmptiesTheSet) {
  TSetOf<Item> set;
  Item* only = new Item("only");
  set.Add(only);
  set.Remove(only);
  delete only;
  EXPECT_EQ(set.GetNumberElements(), 0u);
  TSetOf<Item>::Cursor cursor(set);
  EXPECT_EQ(cursor.Element(), nullptr);
  set.Add(new Item("again"), 5);
  EXPECT_EQ(Keys(set), std::vector<std::string>{"again"});
}

TEST(TSetOf, OwnsItsItemsUntilRemoved) {
  int live = 0;
  Item* survivor = nullptr;
  {
    TSetOf<Item> set;
    set.Add(new Item("a", &live));
    survivor = new Item("b", &live);
    set.Add(survivor);
    set.Add(new Item("c", &live));
    set.Remove(survivor);
    EXPECT_EQ(live, 3);
  }
  EXPECT_EQ(live, 1);
  delete survivor;
  EXPECT_EQ(live, 0);
}

TEST(TSetOf, CursorCopiesWalkIndependently) {
  TSetOf<Item> set;
  set.Add(new Item("a"));
  set.Add(new Item("b"));
  TSetOf<Item>::Cursor first(set);
  TSetOf<Item>::Cursor second = first;
  EXPECT_STREQ(first.Next()->key, "b");
  EXPECT_STREQ(second.Element()->key, "a");
  second = first;
  EXPECT_STREQ(second.Element()->key, "b");
}

TEST(TKeySetOf, FindByKeyGivesTheEarliestMatch) {
  TKeySetOf<Item, TString> set;
  Item* first = new Item("k");
  set.Add(new Item("other"));
  set.Add(first);
  set.Add(new Item("k"));
  EXPECT_EQ(set.Find(TString("k")), first);
  EXPECT_EQ(set.Find(TString("K")), nullptr); // the default comparison is exact
  EXPECT_EQ(set.Find(TString("missing")), nullptr);
  EXPECT_STREQ(set.Find(0ul)->key, "other"); // the positional Find stays reachable
}

TEST(TElemPointer, DoesNotOwnWhatItPointsAt) {
  int live = 0;
  Item target("target", &live);
  {
    TKeySetOf<TElemPointer<Item>, TString> set;
    set.Add(new TElemPointer<Item>(&target));
    TElemPointer<Item>* found = set.Find(TString("target"));
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->QueryPointer(), &target);
  }
  EXPECT_EQ(live, 1);
}

} // namespace
