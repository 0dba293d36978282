// tests/tracescope_test.cpp: TTrace::SaveState, TTraceExit, TTraceObjects and TCrtMsg.
// Licensed under the Apache License, Version 2.0.
#include <tavutil/exception.h>
#include <tavutil/tracescope.h>

#include "helpers/trace_entry.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

/// A category of component 2, as a component other than the library's own.
const TTrace::Category& GameCategory() {
  static const TTrace::Category category(2, "ScopeTest");
  return category;
}

/// Level mask, component mask, default tracing and the count of live scopes.
using Settings = std::tuple<unsigned long, unsigned long, int, unsigned long>;

Settings Of(const TTrace& trace) {
  return {trace.QueryLevel(), trace.QueryComponent(), trace.QueryDefaultTracing(),
          trace.QueryCountSaveState()};
}

// ---------------------------------------------------------------- SaveState ----

TEST(TTraceSaveState, ScopeSwitchesOnItsLevelComponentAndCategoryAndRestoresTheMasks) {
  TRecording trace;
  trace.SetComponent(1);
  trace.SetDefaultTracing(0);
  const int changesBefore = trace.State().changes;
  {
    const TTrace::SaveState scope(trace, 0x100, GameCategory());
    EXPECT_EQ(Of(trace), (Settings{0x100, 3, 0, 1}));
    EXPECT_EQ(trace.QueryCategory(GameCategory()), 1);
    EXPECT_EQ(TTrace::QueryGlobalLevel() & 0x10F, 0x100u); // the global masks follow
    trace.SetDefaultTracing(1);
  }
  EXPECT_EQ(Of(trace), (Settings{0xF, 1, 0, 0}));
  EXPECT_EQ(TTrace::QueryGlobalLevel() & 0x100, 0u);
  // The category switch the scope made is not undone.
  EXPECT_EQ(trace.UsesDefault(GameCategory()), 1);
  // Three on entry (level, component, switch), one inside, four on leaving.
  EXPECT_EQ(trace.State().changes - changesBefore, 8);
}

TEST(TTraceSaveState, NestedScopesAndCopiesEachRestoreWhatTheySaved) {
  TRecording trace;
  {
    const TTrace::SaveState outer(trace);
    trace.SetLevel(0x3);
    {
      TTrace::SaveState inner(trace, 0x2000, GameCategory());
      const TTrace::SaveState copy(inner); // a copy is one more live scope
      EXPECT_EQ(Of(trace), (Settings{0x2000, 0xFFFFFFFF, 1, 3}));
      trace.SetLevel(0x40);
      inner = outer; // inner restores its own save, then saves as outer did
      EXPECT_EQ(Of(trace), (Settings{0x3, 0xFFFFFFFF, 1, 3}));
    }
    EXPECT_EQ(Of(trace), (Settings{0xF, 0xFFFFFFFF, 1, 1})); // the last to go wrote outer's save
    trace.SetLevel(0x7);
  }
  EXPECT_EQ(Of(trace), (Settings{0xF, 0xFFFFFFFF, 1, 0}));
}

TEST(TTraceSaveState, DisabledRestoreOrStoppedTracingKeepsTheSettingsButStillUncounts) {
  TRecording disabled;
  {
    const TTrace::SaveState scope(disabled, 0x400, GameCategory());
    disabled.SetDisableRestore(1);
  }
  EXPECT_EQ(Of(disabled), (Settings{0x400, 0xFFFFFFFF, 1, 0}));

  TRecording stopped;
  {
    const TTrace::SaveState scope(stopped);
    stopped.StopTracing();
  }
  EXPECT_EQ(Of(stopped), (Settings{0, 0, 1, 0}));

  TTrace empty;
  {
    const TTrace::SaveState scope(empty, 0x100, GameCategory());
    const TTrace::SaveState plain(empty);
  }
  EXPECT_EQ(Of(empty), (Settings{0, 0, 0, 0}));
}

// ---------------------------------------------------------------- TTraceExit ----

/// A function that traces its exit as a library function would.
long CopyFiles(const char* from, long rc) {
  TTraceExit exit(GameCategory(), new TMessage("CopyFiles(%2$s) gives %1$d", TagVar(0L), TagVar()));
  exit.SetArgs(TagVar(0L), TagVar(from));
  exit.SetDebugging("copy.cpp", 42);
  exit.SetRC(TagVar(rc));
  return rc;
}

TEST(TTraceExit, WritesTheExitEntryWhenTheScopeEndsIfLevelComponentAndCategoryAreOn) {
  TRecording trace; // levels 0xF: no exits
  CopyFiles("a", 1);
  trace.SetLevel(0x2000);
  trace.SetComponent(1); // the category is of component 2
  CopyFiles("b", 2);
  trace.SetComponent(2);
  trace.AddCategory(GameCategory(), 0);
  CopyFiles("c", 3);
  trace.AddCategory(GameCategory(), 1);
  CopyFiles("a.txt", 3);
  ASSERT_EQ(trace.Entries().size(), 1u);
  const TRecordingState::Entry& entry = trace.Entries()[0];
  EXPECT_EQ(entry.level, 0x2000u);
  EXPECT_EQ(std::string(entry.message.QueryFile()) + ":" +
                std::to_string(entry.message.QueryLine()) + " " +
                Bytes(entry.message.QueryMessage()),
            "copy.cpp:42 CopyFiles(a.txt) gives 3");
}

TEST(TTraceExit, ArgumentsFollowTheMessageRules) {
  TRecording trace;
  trace.SetLevel(0x2000);
  const TagVar a(1L);
  const TagVar b("two");
  {
    TTraceExit exit(GameCategory(), new TMessage("%d %s"));
    EXPECT_THROW(exit.SetRC(TagVar(0L)), TInvalidParameter); // no argument 0 yet
    exit.SetArgs(&a, &b, &TMessage::fsEndOfArgs, &a);        // the list ends at the marker
    EXPECT_THROW(exit[2], TInvalidParameter);
    exit[0] = TagVar(5L);
  }
  {
    TTraceExit exit(GameCategory(), new TMessage("%s %d"));
    const TagVar* list[] = {&b, &a, nullptr};
    exit.SetArgs(list);
  }
  {
    const TTraceExit exit(GameCategory(), nullptr); // an empty entry, not a crash
  }
  ASSERT_EQ(trace.Entries().size(), 3u);
  EXPECT_STREQ(trace.Entries()[0].message.QueryMessage(), "5 two");
  EXPECT_STREQ(trace.Entries()[1].message.QueryMessage(), "two 1");
  EXPECT_EQ(trace.Entries()[2].message.QueryMessage().length(), 0u);
}

TEST(TTraceObjects, NothingIsAddedSoEveryIndexIsAnEmptyHandle) {
  TTraceObjects table(10);
  EXPECT_EQ(table.Add("stream", 1, nullptr), static_cast<unsigned int>(-1));
  EXPECT_EQ(table.QueryCount(), 0u);
  EXPECT_EQ(table.QueryCapacity(), 10u);
  table.Remove(0);
  EXPECT_TRUE(table[0].QueryPointer().IsNull());
  EXPECT_TRUE(TTraceObjects()[7].QueryPointer().IsNull());
  EXPECT_EQ(TCrtMsg("CON").QueryHandle(), -1);
}

} // namespace
