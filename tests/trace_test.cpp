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
  // Exactly the library's own: this program makes its categories only on first use.
  EXPECT_EQ(KnownNames(), kLibraryCategories);
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

// ------------------------------------------------------------- the model ----

#include <tavutil/exception.h>
#include <tavutil/message.h>

#include "platform/posix/ipclayout.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <stdexcept>
#include <thread>

namespace {

/// What a recording state was given.
struct Entry {
  unsigned long level;
  const TTrace::Category* category;
  std::string file;
  unsigned long line;
  unsigned arguments;
};

/// A trace state that records its entries (tests read them only on the writing thread or
/// after the writers are joined).
class TRecordingState : public TTrace::Base {
public:
  explicit TRecordingState(bool* destroyed = nullptr) : fDestroyed(destroyed) {}
  ~TRecordingState() override {
    if (fDestroyed != nullptr) {
      *fDestroyed = true;
    }
  }
  void Write(unsigned long level, const TTrace::Category& category,
             const TMessage& message) override {
    if (fThrow) {
      throw std::runtime_error("output failed");
    }
    entries.push_back(Entry{level, &category, message.QueryFile() ? message.QueryFile() : "",
                            message.QueryLine(), message.QueryNumberArgs()});
    ++written;
  }
  void Change() override { ++changes; }

  std::vector<Entry> entries;
  std::atomic<int> written{0};
  int changes = 0;
  bool fThrow = false;

private:
  bool* fDestroyed;
};

/// A handle on a new recording state.
class TRecording : public TTrace {
public:
  explicit TRecording(bool* destroyed = nullptr) : TTrace(new TRecordingState(destroyed)) {}
  TRecordingState& State() const {
    return *static_cast<TRecordingState*>(QueryPointer().QueryBase());
  }
};

/// A category of component 2, registered on first use.
const TTrace::Category& ModelCategory() {
  static const TTrace::Category category(2, "ModelTest");
  return category;
}

void Write(unsigned long level, const TTrace::Category& category = ModelCategory()) {
  TTrace::WriteEntry(level, category, TMessage("entry"));
}

TEST(TTraceModel, NewStateTakesTheFirstFourLevelsOfEverything) {
  EXPECT_EQ(TTrace::QueryGlobalLevel(), 0u);
  TRecording trace;
  EXPECT_EQ(trace.QueryLevel(), 0xFu);
  EXPECT_EQ(trace.QueryComponent(), 0xFFFFFFFFu);
  EXPECT_EQ(trace.QueryDefaultTracing(), 1);
  EXPECT_EQ(trace.QueryDisplayPrefix(), 1);
  EXPECT_EQ(trace.QueryDisableRestore(), 0);
  EXPECT_EQ(trace.StillTracing(), 1);
  for (unsigned long level : {0x1ul, 0x2ul, 0x4ul, 0x8ul}) {
    EXPECT_TRUE(trace.IsTracing(level, 0x80000000, TUtilityTraceCategory::Queue));
  }
  EXPECT_FALSE(trace.IsTracing(0x10, 1));
  EXPECT_EQ(TTrace::QueryGlobalLevel(), 0xFu);
  EXPECT_EQ(TTrace::QueryGlobalComponent(), 0xFFFFFFFFu);
}

TEST(TTraceModel, HandlesShareOneStateThatDiesWithTheLast) {
  bool destroyed = false;
  {
    TRecording first(&destroyed);
    TTrace second(first);
    TTrace third;
    third = second;
    second.SetLevel(0x30);
    EXPECT_EQ(first.QueryLevel(), 0x30u);
    EXPECT_EQ(third.QueryLevel(), 0x30u);
    EXPECT_EQ(first.QueryPointer().QueryBase()->QueryReferenceCount(), 3);
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
  empty.SetComponent(1);
  empty.AddCategory(ModelCategory(), 1);
  empty.RemoveCategory(ModelCategory());
  empty.SetDefaultTracing(1);
  empty.SetDisableRestore(0);
  empty.SetDisplayPrefix(1);
  empty.StopTracing();
  EXPECT_EQ(empty.QueryLevel(), 0u);
  EXPECT_EQ(empty.QueryComponent(), 0u);
  EXPECT_EQ(empty.IsTracing(1, 1), 0);
  EXPECT_EQ(empty.IsTracing(1, 1, ModelCategory()), 0);
  EXPECT_EQ(empty.QueryCategory(ModelCategory()), 0);
  EXPECT_EQ(empty.UsesDefault(ModelCategory()), 1);
  EXPECT_EQ(empty.QueryDefaultTracing(), 0);
  EXPECT_EQ(empty.QueryDisableRestore(), 1);
  EXPECT_EQ(empty.QueryDisplayPrefix(), 0);
  EXPECT_EQ(empty.QueryCountSaveState(), 0u);
  EXPECT_EQ(empty.StillTracing(), 0);
  EXPECT_EQ(TTrace::QueryGlobalLevel(), 0u);
  try {
    empty.QueryPointer()->QueryLevel();
    FAIL() << "a null pointer was dereferenced";
  } catch (const TInvalidRequest& e) {
    EXPECT_STREQ(e.text(0), "TReference null");
  }
}

TEST(TTraceModel, CategorySwitchesOverrideTheDefault) {
  TRecording trace;
  const int changesBefore = trace.State().changes;
  trace.AddCategory(TUtilityTraceCategory::String, 0);
  EXPECT_EQ(trace.QueryCategory(TUtilityTraceCategory::String), 0);
  EXPECT_EQ(trace.QueryCategory(TUtilityTraceCategory::Message), 1);
  EXPECT_EQ(trace.UsesDefault(TUtilityTraceCategory::String), 1);
  EXPECT_EQ(trace.UsesDefault(TUtilityTraceCategory::Message), 0);
  // A category of the same name in another component is another category.
  const TTrace::Category otherComponent(2, "String");
  EXPECT_EQ(trace.QueryCategory(otherComponent), 1);

  trace.AddCategory(TUtilityTraceCategory::String, 1); // updates the switch in place
  EXPECT_EQ(trace.QueryCategory(TUtilityTraceCategory::String), 1);
  trace.AddCategory(TUtilityTraceCategory::String, 0);
  trace.RemoveCategory(TUtilityTraceCategory::String);
  EXPECT_EQ(trace.QueryCategory(TUtilityTraceCategory::String), 1);
  trace.RemoveCategory(TUtilityTraceCategory::String); // nothing to remove: no Change()
  EXPECT_EQ(trace.State().changes, changesBefore + 4);

  trace.SetDefaultTracing(0);
  trace.AddCategory(TUtilityTraceCategory::Message, 1);
  EXPECT_EQ(trace.QueryCategory(TUtilityTraceCategory::String), 0);
  EXPECT_EQ(trace.IsTracing(1, 1, TUtilityTraceCategory::Message), 1);
  EXPECT_EQ(trace.IsTracing(1, 1, TUtilityTraceCategory::String), 0);
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
  EXPECT_EQ(stopped.QueryLevel(), 0u);
  EXPECT_EQ(stopped.QueryComponent(), 0u);
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
  EXPECT_EQ(TTrace::QueryGlobalLevel(), 0x2000u);
  EXPECT_TRUE(TTrace::IsGlobalTracing(0x2000, 0x10));
  EXPECT_FALSE(TTrace::IsGlobalTracing(0x2000, 0x10, ModelCategory())); // no state takes 0x2000
  TTrace::SetGlobalTracing();
  EXPECT_EQ(TTrace::QueryGlobalLevel(), 0xFu);
  EXPECT_EQ(TTrace::QueryGlobalComponent(), 0xFFFFFFFFu);
  EXPECT_TRUE(TTrace::IsGlobalTracing(0x4, 0x2, ModelCategory()));
  trace.AddCategory(ModelCategory(), 0);
  EXPECT_FALSE(TTrace::IsGlobalTracing(0x4, 0x2, ModelCategory()));
}

TEST(TTraceModel, WriteEntryOffersEachEntryToEveryAcceptingStateNewestFirst) {
  std::vector<int> order;
  struct Ordered : TTrace::Base {
    Ordered(std::vector<int>& order, int id) : order(order), id(id) {}
    void Write(unsigned long, const TTrace::Category&, const TMessage&) override {
      order.push_back(id);
    }
    std::vector<int>& order;
    int id;
  };
  struct Handle : TTrace {
    explicit Handle(TTrace::Base* base) : TTrace(base) {}
  };
  Handle older(new Ordered(order, 1));
  Handle newer(new Ordered(order, 2));
  TRecording rejecting;
  rejecting.SetLevel(0x10);
  Write(0x4);
  EXPECT_EQ(order, (std::vector<int>{2, 1}));
  EXPECT_EQ(rejecting.State().written, 0);

  TMessage message("m", TagVar(1), TagVar(2));
  message.SetDebugging("dir\\file.cpp", 77);
  TTrace::WriteEntry(0x10, ModelCategory(), message);
  ASSERT_EQ(rejecting.State().entries.size(), 1u);
  const Entry& entry = rejecting.State().entries[0];
  EXPECT_EQ(entry.level, 0x10u);
  EXPECT_EQ(entry.category, &ModelCategory());
  EXPECT_EQ(entry.file, "dir\\file.cpp");
  EXPECT_EQ(entry.line, 77u);
  EXPECT_EQ(entry.arguments, 2u);
}

TEST(TTraceModel, AFailingOutputDoesNotStopTheOthersOrTheCaller) {
  TRecording healthy;
  TRecording failing;
  failing.State().fThrow = true;
  EXPECT_NO_THROW(Write(0x1));
  EXPECT_EQ(healthy.State().written, 1);
}

TEST(TTraceModel, AStateUnderConstructionTakesNoEntries) {
  // The state's own constructor writes an entry while it is in the list with count 0; a
  // call of its Write at that point would be a call into a half-built object.
  struct Eager : TTrace::Base {
    Eager() { TTrace::WriteEntry(0x1, ModelCategory(), TMessage("from the constructor")); }
    void Write(unsigned long, const TTrace::Category&, const TMessage&) override { ++calls; }
    int calls = 0;
  };
  TRecording witness;
  struct Handle : TTrace {
    explicit Handle(Eager* base) : TTrace(base) {}
  };
  auto* eager = new Eager;
  Handle handle(eager);
  EXPECT_EQ(eager->calls, 0);
  EXPECT_EQ(witness.State().written, 1);
  Write(0x1);
  EXPECT_EQ(eager->calls, 1);
}

TEST(TTraceModel, LibraryTracePointsReachLiveStates) {
  TRecording trace;
  trace.SetLevel(0x8 | 0x400);
  TMessage message("no arguments");
  message.SetDebugging("caller.cpp", 12);
  EXPECT_THROW(message[0], TInvalidParameter);
  ASSERT_EQ(trace.State().entries.size(), 1u);
  const Entry& entry = trace.State().entries[0];
  EXPECT_EQ(entry.level, 0x8u);
  EXPECT_EQ(entry.category, &TUtilityTraceCategory::Message);
  EXPECT_EQ(entry.file, "utility/MESSAGE");
  EXPECT_EQ(entry.arguments, 3u);

  trace.SetLevel(0x4); // level 8 off: the trace point builds nothing
  EXPECT_THROW(message[1], TInvalidParameter);
  EXPECT_EQ(trace.State().entries.size(), 1u);
}

TEST(TTraceModel, MutexCreationFailureIsTraced) {
  // A directory where the mutex's shared-memory object would go makes its creation fail.
  const std::string name = "trace-test-" + std::to_string(::getpid());
  char osName[tavutil::platform::posix::kIpcNameCapacity];
  tavutil::platform::posix::MakeIpcName(tavutil::platform::posix::IpcKind::mutex, name.c_str(),
                                        name.size(), osName);
  const std::string blocker = std::string("/dev/shm") + osName;
  ASSERT_EQ(::mkdir(blocker.c_str(), 0700), 0);
  struct Cleanup {
    ~Cleanup() { ::rmdir(path.c_str()); }
    std::string path;
  } cleanup{blocker};

  TRecording trace;
  trace.SetLevel(0x4);
  {
    TMutexSemaphore broken(name.c_str());
    EXPECT_EQ(TMutexSemaphoreEntry(broken, 0).State(), TMutexSemaphore::failed);
  }
  ASSERT_EQ(trace.State().entries.size(), 1u);
  const Entry& entry = trace.State().entries[0];
  EXPECT_EQ(entry.level, 0x4u);
  EXPECT_EQ(entry.category, &TUtilityTraceCategory::Utility);
  EXPECT_EQ(entry.file, "utility/MUTEXSEM");
  EXPECT_EQ(entry.line, 71u);
  EXPECT_EQ(entry.arguments, 2u);
}

TEST(TTraceModelThreaded, WritersStatesAndSwitchesRaceSafely) {
  std::atomic<bool> stop{false};
  std::atomic<int> delivered{0};
  std::vector<std::thread> threads;
  TRecording permanent;
  permanent.SetLevel(0x1);
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&] {
      while (!stop.load()) {
        TTrace::WriteEntry(0x1, ModelCategory(), TMessage("x"));
        delivered.fetch_add(1);
      }
    });
  }
  threads.emplace_back([&] {
    for (int i = 0; i < 300; ++i) {
      TRecording transient;
      transient.AddCategory(ModelCategory(), i % 2);
      transient.SetLevel(0x1 | (i & 0x6));
      TTrace copy(transient);
      std::this_thread::yield();
    }
  });
  threads.emplace_back([&] {
    for (int i = 0; i < 300; ++i) {
      permanent.AddCategory(TUtilityTraceCategory::Queue, i % 2);
      permanent.RemoveCategory(TUtilityTraceCategory::Queue);
      static_cast<void>(TTrace::FindCategory(TString("queue")));
      static_cast<void>(TTrace::IsGlobalTracing(0x1, 0x2, ModelCategory()));
    }
  });
  threads[9].join();
  threads[8].join();
  stop.store(true);
  for (int i = 0; i < 8; ++i) {
    threads[i].join();
  }
  EXPECT_EQ(permanent.State().written.load(), delivered.load());
  EXPECT_EQ(TTrace::QueryGlobalLevel(), 0x1u);
}

} // namespace
