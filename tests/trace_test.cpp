// tests/trace_test.cpp: trace levels, component names, categories and the known-category
// registry.
// Licensed under the Apache License, Version 2.0.
#include <tavutil/trace.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

std::vector<std::string> KnownNames() {
  std::vector<std::string> names;
  std::unique_ptr<TTraceSetKnownCursor> cursor(TTrace::ListClasses());
  for (TElemPointer<TTrace::Category>* item = cursor->Element(); item != nullptr;
       item = cursor->Next()) {
    names.emplace_back(static_cast<const char*>(item->QueryPointer()->QueryString()));
  }
  return names;
}

const std::vector<std::string> kLibraryCategories = {"TagVar", "NLSResource", "Message",  "Trace",
                                                     "Queue",  "Utility",     "String",   "Factory",
                                                     "CRTmsg", "MemStream",   "OleStream"};

TEST(TTraceLevel, EveryLevelBitHasItsLetter) {
  const std::pair<unsigned long, char> table[] = {
      {0x1, 'O'},    {0x2, 'S'},    {0x4, 'E'},     {0x8, 'W'},   {0x10, 'I'},
      {0x20, 'i'},   {0x80, 'N'},   {0x100, '1'},   {0x200, '2'}, {0x400, '*'},
      {0x1000, '>'}, {0x2000, '<'}, {0x100000, '?'}};
  for (const auto& [level, letter] : table) {
    EXPECT_EQ(TTrace::Base::LevelChar(level), letter) << std::hex << level;
  }
  for (unsigned long other : {0x0ul, 0x40ul, 0x800ul, 0x5ul, 0x3ul, 0xFFFFFFFFul}) {
    EXPECT_EQ(TTrace::Base::LevelChar(other), '?') << std::hex << other;
  }
}

TEST(TTraceComponent, EveryBitHasItsName) {
  const char* const first[] = {"Utility", "MMToolkits", "Game", "Protocol"};
  for (unsigned bit = 0; bit < 32; ++bit) {
    const std::string expected =
        bit < 4 ? std::string(first[bit]) : "Reserved" + std::to_string(bit + 1);
    const TString name = TTrace::QueryComponentName(1ul << bit);
    EXPECT_EQ(std::string(static_cast<const char*>(name)), expected);
    // Names map back to their bit in any case, and so does the 1-based bit number.
    TString upper(name);
    upper.upperCase();
    EXPECT_EQ(TTrace::QueryComponentFromName(upper), 1ul << bit);
    EXPECT_EQ(TTrace::QueryComponentFromName(TString(std::to_string(bit + 1).c_str())), 1ul << bit);
  }
}

TEST(TTraceComponent, NamesOfMasksAndNumbersWrap) {
  EXPECT_STREQ(TTrace::QueryComponentName(0x8), "Protocol");
  EXPECT_STREQ(TTrace::QueryComponentName(0x30), "Reserved5"); // the lowest set bit
  EXPECT_EQ(TTrace::QueryComponentName(0).length(), 0u);
  EXPECT_EQ(TTrace::QueryComponentFromName(TString("gAmE")), 4u);
  EXPECT_EQ(TTrace::QueryComponentFromName(TString("3")), 4u);
  EXPECT_EQ(TTrace::QueryComponentFromName(TString("33")), 1u);
  EXPECT_EQ(TTrace::QueryComponentFromName(TString("0")), 0x80000000u);
  EXPECT_EQ(TTrace::QueryComponentFromName(TString("Gamer")), 0u);
  EXPECT_EQ(TTrace::QueryComponentFromName(TString("Reserved")), 0u);
  EXPECT_EQ(TTrace::QueryComponentFromName(TString()), 0u);
}

TEST(TTraceCategory, EqualityIsExactAndOrderIsComponentThenName) {
  const TTrace::Category a(1, "Alpha");
  const TTrace::Category lower(1, "alpha");
  const TTrace::Category other(2, "Alpha");
  const TTrace::Category copy(a);
  EXPECT_TRUE(a == copy);
  EXPECT_TRUE(a.IsEqual(copy));
  EXPECT_FALSE(a == lower);
  EXPECT_FALSE(a == other);
  EXPECT_TRUE(a < lower);     // 'A' < 'a'
  EXPECT_TRUE(lower < other); // component first
  EXPECT_FALSE(other < a);
  EXPECT_FALSE(a < copy);
  EXPECT_EQ(other.QueryComponent(), 2u);
  EXPECT_STREQ(other.QueryString(), "Alpha");
}

TEST(TTraceRegistry, LibraryCategoriesAreKnownInTheirOrder) {
  const std::vector<std::string> names = KnownNames();
  ASSERT_EQ(names.size(), kLibraryCategories.size());
  EXPECT_EQ(names, kLibraryCategories);
  EXPECT_EQ(TTrace::FindCategory(TString("string")), &TUtilityTraceCategory::String);
  EXPECT_EQ(TTrace::FindCategory(TString("CRTmsg")), &TUtilityTraceCategory::CrtMsg);
  EXPECT_EQ(TTrace::FindCategory(TString("crtmsg")), &TUtilityTraceCategory::CrtMsg);
  EXPECT_EQ(TTrace::FindCategory(TString("CrtMsg")), &TUtilityTraceCategory::CrtMsg);
  EXPECT_EQ(TTrace::FindCategory(TString("Nothing")), nullptr);
  EXPECT_EQ(TTrace::FindCategory(TString()), nullptr);
  for (const TTrace::Category* c : {&TUtilityTraceCategory::TagVar, &TUtilityTraceCategory::Queue,
                                    &TUtilityTraceCategory::OleStream}) {
    EXPECT_EQ(c->QueryComponent(), 1u);
  }
}

TEST(TTraceRegistry, CategoriesRegisterAndLeaveWithTheirLifetime) {
  const size_t before = KnownNames().size();
  {
    const TTrace::Category mine(4, "GameLoop");
    const TTrace::Category copy(mine); // copies do not register
    TTrace::Category assigned(mine);
    assigned = TUtilityTraceCategory::String;
    EXPECT_EQ(KnownNames().size(), before + 1);
    EXPECT_EQ(KnownNames().back(), "GameLoop");
    EXPECT_EQ(TTrace::FindCategory(TString("gameloop")), &mine);

    // The first match wins, whatever the component.
    const TTrace::Category shadow(8, "GAMELOOP");
    EXPECT_EQ(TTrace::FindCategory(TString("GameLoop")), &mine);
  }
  EXPECT_EQ(KnownNames().size(), before);
  EXPECT_EQ(TTrace::FindCategory(TString("GameLoop")), nullptr);
}

TEST(TTraceGlobal, MasksStartEmptyAndGateTheFirstTest) {
  EXPECT_EQ(TTrace::QueryGlobalLevel(), 0u);
  EXPECT_EQ(TTrace::QueryGlobalComponent(), 0u);
  EXPECT_EQ(TTrace::IsGlobalTracing(0xFFFFFFFF, 0xFFFFFFFF), 0);
}

} // namespace
