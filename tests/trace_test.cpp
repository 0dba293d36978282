// tests/trace_test.cpp: trace vocabulary, the known-category registry and the trace model.
// Licensed under the Apache License, Version 2.0.
#include <tavutil/exception.h>
#include <tavutil/message.h>
#include <tavutil/trace.h>
#include <tavutil/tracepoint.h>

#include "helpers/trace_entry.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

std::vector<std::string> KnownNames() {
  std::vector<std::string> names;
  std::unique_ptr<TTraceSetKnownCursor> cursor(TTrace::ListClasses());
  for (auto* item = cursor->Element(); item != nullptr; item = cursor->Next()) {
    names.emplace_back(static_cast<const char*>(item->QueryPointer()->QueryString()));
  }
  return names;
}

/// A category of component 2, registered on first use (so the registry test sees only the
/// library's own).
const TTrace::Category& ModelCategory() {
  static const TTrace::Category category(2, "ModelTest");
  return category;
}

void Write(unsigned long level, const TTrace::Category& category = ModelCategory()) {
  TTrace::WriteEntry(level, category, TMessage("entry"));
}

/// A handle on a state made by the test.
struct THandle : TTrace {
  explicit THandle(TTrace::Base* base) : TTrace(base) {}
};

/// A state that runs `onWrite` for each entry it takes.
struct TCallbackState : TTrace::Base {
  explicit TCallbackState(std::function<void()> onWrite) : onWrite(std::move(onWrite)) {}
  void Write(unsigned long, const TTrace::Category&, const TMessage&) override { onWrite(); }
  std::function<void()> onWrite;
};

// ------------------------------------------------------------- vocabulary ----

TEST(TTraceLevel, EveryLevelBitHasItsLetterAndEverythingElseIsQuestionMark) {
  const std::pair<unsigned long, char> table[] = {
      {0x1, 'O'},      {0x2, 'S'},   {0x4, 'E'},   {0x8, 'W'},   {0x10, 'I'},   {0x20, 'i'},
      {0x80, 'N'},     {0x100, '1'}, {0x200, '2'}, {0x400, '*'}, {0x1000, '>'}, {0x2000, '<'},
      {0x100000, '?'}, {0x0, '?'},   {0x40, '?'},  {0x800, '?'}, {0x5, '?'},    {0xFFFFFFFF, '?'}};
  for (const auto& [level, letter] : table) {
    EXPECT_EQ(TTrace::Base::LevelChar(level), letter) << std::hex << level;
  }
}

TEST(TTraceComponent, EveryBitHasItsNameAndNamesMapBack) {
  const char* const first[] = {"Utility", "MMToolkits", "Game", "Protocol"};
  for (unsigned bit = 0; bit < 32; ++bit) {
    const std::string expected = bit < 4 ? first[bit] : "Reserved" + std::to_string(bit + 1);
    TString name = TTrace::QueryComponentName(1ul << bit);
    EXPECT_STREQ(name, expected.c_str());
    EXPECT_EQ(TTrace::QueryComponentFromName(name.upperCase()), 1ul << bit);
    EXPECT_EQ(TTrace::QueryComponentFromName(TString(std::to_string(bit + 1).c_str())), 1ul << bit);
  }
  EXPECT_STREQ(TTrace::QueryComponentName(0x30), "Reserved5"); // the lowest set bit
  EXPECT_EQ(TTrace::QueryComponentName(0).length(), 0u);
  const std::pair<const char*, unsigned long> names[] = {
      {"gAmE", 4}, {"33", 1}, {"0", 0x80000000}, {"Gamer", 0}, {"Reserved", 0}, {nullptr, 0}};
  for (const auto& [name, mask] : names) {
    EXPECT_EQ(TTrace::QueryComponentFromName(TString(name)), mask) << (name ? name : "null");
  }
}

TEST(TTraceCategory, EqualityIsExactAndOrderIsComponentThenName) {
  const TTrace::Category a(1, "Alpha");
  const TTrace::Category lower(1, "alpha");
  const TTrace::Category other(2, "Alpha");
  const TTrace::Category copy(a);
  EXPECT_TRUE(a == copy && a.IsEqual(copy));
  EXPECT_FALSE(a == lower || a == other);
  EXPECT_TRUE(a < lower);     // 'A' < 'a'
  EXPECT_TRUE(lower < other); // component first
  EXPECT_FALSE(other < a || a < copy);
}

TEST(TTraceRegistry, LibraryCategoriesAreKnownInTheirOrderAndFoundIgnoringCase) {
  EXPECT_EQ(KnownNames(), (std::vector<std::string>{"TagVar", "NLSResource", "Message", "Trace",
                                                    "Queue", "Utility", "String", "Factory",
                                                    "CRTmsg", "MemStream", "OleStream"}));
  EXPECT_EQ(TTrace::FindCategory(TString("string")), &TUtilityTraceCategory::String);
  EXPECT_EQ(TTrace::FindCategory(TString("crtmsg")), &TUtilityTraceCategory::CrtMsg);
  EXPECT_EQ(TTrace::FindCategory(TString("Nothing")), nullptr);
  EXPECT_EQ(TTrace::FindCategory(TString()), nullptr);
}

TEST(TTraceRegistry, CategoriesRegisterAndLeaveWithTheirLifetime) {
  const size_t before = KnownNames().size();
  {
    const TTrace::Category mine(4, "GameLoop");
    TTrace::Category copy(mine); // copies do not register
    copy = TUtilityTraceCategory::String;
    EXPECT_EQ(KnownNames().size(), before + 1);
    const TTrace::Category shadow(8, "GAMELOOP"); // the first match wins, whatever the component
    EXPECT_EQ(TTrace::FindCategory(TString("gameloop")), &mine);
  }
  EXPECT_EQ(KnownNames().size(), before);
  EXPECT_EQ(TTrace::FindCategory(TString("GameLoop")), nullptr);
}

// -------------------------------------------------------------- the model ----

TEST(TTraceModel, HandlesShareOneStateThatDiesWithTheLast) {
  EXPECT_EQ(TTrace::QueryGlobalLevel(), 0u);
  bool destroyed = false;
  {
    TRecording first(&destroyed);
    EXPECT_EQ(first.QueryLevel(), 0xFu);
    EXPECT_EQ(TTrace::QueryGlobalComponent(), 0xFFFFFFFFu);
    EXPECT_TRUE(first.IsTracing(0x8, 0x80000000, TUtilityTraceCategory::Queue));
    EXPECT_FALSE(first.IsTracing(0x10, 1));
    TTrace second(first);
    TTrace third;
    third = second;
    second.SetLevel(0x30);
    EXPECT_EQ(third.QueryLevel(), 0x30u);
    TTrace& alias = third;
    third = alias; // self-assignment keeps the reference
    EXPECT_EQ(first.QueryPointer().QueryBase()->QueryReferenceCount(), 3);
    static_cast<TTrace&>(first) = TTrace();
    second = TTrace();
    EXPECT_FALSE(destroyed);
  }
  EXPECT_TRUE(destroyed);
  EXPECT_EQ(TTrace::QueryGlobalLevel(), 0u);
  EXPECT_EQ(TTrace::QueryGlobalComponent(), 0u);
}

TEST(TTraceModel, EmptyHandleDoesNothingAndAnswersItsDefaults) {
  TTrace empty;
  empty.SetLevel(0xFF);
  empty.AddCategory(ModelCategory(), 1);
  empty.StopTracing();
  EXPECT_EQ(empty.QueryLevel() + empty.QueryComponent() + empty.QueryCountSaveState(), 0u);
  EXPECT_EQ(empty.IsTracing(1, 1, ModelCategory()) + empty.QueryCategory(ModelCategory()) +
                empty.QueryDefaultTracing() + empty.QueryDisplayPrefix() + empty.StillTracing(),
            0);
  EXPECT_EQ(empty.UsesDefault(ModelCategory()), 1);
  EXPECT_EQ(empty.QueryDisableRestore(), 1);
  EXPECT_THROW(empty.QueryPointer()->QueryLevel(), TInvalidRequest);
}

TEST(TTraceModel, CategorySwitchesOverrideTheDefault) {
  TRecording trace;
  const TTrace::Category& string = TUtilityTraceCategory::String;
  const int changesBefore = trace.State().changes;
  trace.AddCategory(string, 0);
  EXPECT_EQ(trace.QueryCategory(string), 0);
  EXPECT_EQ(trace.QueryCategory(TUtilityTraceCategory::Message), 1);
  EXPECT_EQ(trace.UsesDefault(string), 1); // 1 when the set holds an entry
  EXPECT_EQ(trace.UsesDefault(TUtilityTraceCategory::Message), 0);
  EXPECT_EQ(trace.QueryCategory(TTrace::Category(2, "String")), 1); // another component

  trace.AddCategory(string, 1); // updates the switch in place
  EXPECT_EQ(trace.QueryCategory(string), 1);
  trace.AddCategory(string, 0);
  trace.RemoveCategory(string);
  EXPECT_EQ(trace.QueryCategory(string), 1);
  trace.RemoveCategory(string); // nothing to remove: no Change()
  EXPECT_EQ(trace.State().changes, changesBefore + 4);

  trace.SetDefaultTracing(0);
  trace.AddCategory(TUtilityTraceCategory::Message, 1);
  EXPECT_EQ(trace.IsTracing(1, 1, TUtilityTraceCategory::Message), 1);
  EXPECT_EQ(trace.IsTracing(1, 1, string), 0);
}

TEST(TTraceModel, StoppedStateIgnoresMasksAndLeavesTheGlobalOnes) {
  TRecording stopped;
  TRecording live;
  live.SetLevel(0x100);
  live.SetComponent(0x2);
  EXPECT_EQ(TTrace::QueryGlobalLevel(), 0x10Fu);
  stopped.StopTracing();
  stopped.SetLevel(0xFFFF);
  stopped.SetComponent(0xFFFF);
  EXPECT_EQ(stopped.QueryLevel() + stopped.QueryComponent(), 0u);
  EXPECT_EQ(stopped.StillTracing(), 0);
  EXPECT_EQ(stopped.QueryDisableRestore(), 1);
  EXPECT_EQ(TTrace::QueryGlobalLevel(), 0x100u);
  EXPECT_EQ(TTrace::QueryGlobalComponent(), 0x2u);
  Write(0x100, TUtilityTraceCategory::Factory); // component 1 is not in `live`
  Write(0x100);
  EXPECT_EQ(stopped.State().written, 0);
  EXPECT_EQ(live.State().written, 1);
}

TEST(TTraceModel, GlobalMasksCanBeOverwrittenUntilTheNextRecomputation) {
  TRecording trace;
  TTrace::SetGlobalLevel(0x2000);
  TTrace::SetGlobalComponent(0x10);
  EXPECT_TRUE(TTrace::IsGlobalTracing(0x2000, 0x10));
  EXPECT_FALSE(TTrace::IsGlobalTracing(0x2000, 0x10, ModelCategory())); // no state takes it
  TTrace::SetGlobalTracing();
  EXPECT_EQ(TTrace::QueryGlobalLevel(), 0xFu);
  EXPECT_TRUE(TTrace::IsGlobalTracing(0x4, 0x2, ModelCategory()));
  trace.AddCategory(ModelCategory(), 0);
  EXPECT_FALSE(TTrace::IsGlobalTracing(0x4, 0x2, ModelCategory()));
}

TEST(TTraceModel, WriteEntryOffersEachEntryToEveryAcceptingStateNewestFirst) {
  std::vector<int> order;
  THandle older(new TCallbackState([&order] { order.push_back(1); }));
  THandle newer(new TCallbackState([&order] { order.push_back(2); }));
  TRecording failing; // what an output throws is dropped; the others still get the entry
  failing.State().fail = true;
  TRecording rejecting;
  rejecting.SetLevel(0x10);
  EXPECT_NO_THROW(Write(0x4));
  EXPECT_EQ(order, (std::vector<int>{2, 1}));
  EXPECT_TRUE(rejecting.Entries().empty());

  TMessage message("m", TagVar(1), TagVar(2));
  message.SetDebugging("dir\\file.cpp", 77);
  TTrace::WriteEntry(0x10, ModelCategory(), message);
  ExpectEntries(rejecting, {ModelCategory(), "dir\\file.cpp"}, {{0x10, 77, "m"}});
  EXPECT_EQ(rejecting.Entries().at(0).message.QueryNumberArgs(), 2u);
}

TEST(TTraceModel, AStateUnderConstructionTakesNoEntries) {
  // The state's own constructor writes an entry while it is in the list with count 0; a
  // call of its Write at that point would be a call into a half-built object.
  struct Eager : TCallbackState {
    explicit Eager(int& calls) : TCallbackState([&calls] { ++calls; }) {
      TTrace::WriteEntry(0x1, ModelCategory(), TMessage("from the constructor"));
    }
  };
  TRecording witness;
  int calls = 0;
  THandle handle(new Eager(calls));
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(witness.State().written, 1);
  Write(0x1);
  EXPECT_EQ(calls, 1);
}

TEST(TTraceMacro, ArgumentsRunOnlyWhenTheMasksLetTheEntryThrough) {
  int evaluated = 0;
  auto count = [&evaluated] { return ++evaluated; };
  // No live state: the arguments are not evaluated.
  TAVUTIL_TRACE(0x4, ModelCategory(), "value %d", count());
  EXPECT_EQ(evaluated, 0);

  TRecording trace;
  trace.SetLevel(0x4);
  TAVUTIL_TRACE(0x8, ModelCategory(), "value %d", count()); // level off
  EXPECT_EQ(evaluated, 0);
  const unsigned long here = __LINE__ + 1;
  TAVUTIL_TRACE(0x4, ModelCategory(), "value %d of %s", count(), "two");
  EXPECT_EQ(evaluated, 1);
  ExpectEntries(trace, {ModelCategory(), __FILE__}, {{0x4, here, "value 1 of two"}});
  const TRecordingState::Entry& entry = trace.Entries().at(0);

  // The kept file pointer survives copies and assignment of the message; a copied file
  // (SetDebugging) is the copy's own.
  TMessage copy(entry.message);
  TMessage assigned;
  assigned = entry.message;
  EXPECT_EQ(copy.QueryFile(), entry.message.QueryFile());
  EXPECT_EQ(assigned.QueryFile(), entry.message.QueryFile());
  std::string file = "dir/owned.cpp";
  TMessage owned("x");
  owned.SetDebugging(file.c_str(), 3);
  file.assign("overwritten");
  const TMessage ownedCopy(owned);
  owned.SetDebugging("other.cpp", 4);
  EXPECT_STREQ(ownedCopy.QueryFile(), "dir/owned.cpp");
  EXPECT_STREQ(owned.QueryFile(), "other.cpp");

  // Fixed diagnostics name their own source.
  TAVUTIL_TRACE_AT(0x4, ModelCategory(), "utility/FIXED", 42, "fixed");
  ASSERT_EQ(trace.Entries().size(), 2u);
  ExpectEntry(trace.Entries()[1], {ModelCategory(), "utility/FIXED"}, {0x4, 42, "fixed"});
}

TEST(TTraceModelThreaded, WritersStatesAndSwitchesRaceSafely) {
  std::atomic<bool> stop{false};
  std::atomic<int> delivered{0};
  TRecording permanent;
  permanent.SetLevel(0x1);
  std::vector<std::thread> writers;
  for (int i = 0; i < 8; ++i) {
    writers.emplace_back([&] {
      while (!stop.load()) {
        Write(0x1);
        delivered.fetch_add(1);
      }
    });
  }
  // Transient states only count: a kept copy of a message shares string buffers with its
  // writer's message, and this thread destroys the states while the writers go on.
  std::thread states([&] {
    for (int i = 0; i < 300; ++i) {
      int count = 0;
      THandle transient(new TCallbackState([&count] { ++count; }));
      transient.AddCategory(ModelCategory(), i % 2);
      transient.SetLevel(0x1 | (i & 0x6));
      TTrace copy(transient);
      std::this_thread::yield();
    }
  });
  std::thread switches([&] {
    for (int i = 0; i < 300; ++i) {
      permanent.AddCategory(TUtilityTraceCategory::Queue, i % 2);
      permanent.RemoveCategory(TUtilityTraceCategory::Queue);
      static_cast<void>(TTrace::FindCategory(TString("queue")));
      static_cast<void>(TTrace::IsGlobalTracing(0x1, 0x2, ModelCategory()));
    }
  });
  states.join();
  switches.join();
  stop.store(true);
  for (std::thread& writer : writers) {
    writer.join();
  }
  EXPECT_EQ(permanent.State().written.load(), delivered.load());
  EXPECT_EQ(TTrace::QueryGlobalLevel(), 0x1u);
}

} // namespace
