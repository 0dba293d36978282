// tests/helpers/trace_entry.h: a trace output that records the entries it takes, and the checks of
// those entries against the source that wrote them.
// Licensed under the Apache License, Version 2.0.
#ifndef TAVUTIL_TESTS_HELPERS_TRACE_ENTRY_H
#define TAVUTIL_TESTS_HELPERS_TRACE_ENTRY_H

#include <tavutil/message.h>
#include <tavutil/trace.h>

#include "helpers/test_text.h"

#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <stdexcept>
#include <string>
#include <vector>

/// A trace state that keeps a copy of every entry it takes, rendered at once under the trace
/// mutex. A deque never moves its elements: a copy shares string buffers (with counts that
/// are not atomic) with its writer's message, so it must not be copied again on another
/// thread. Tests read the entries on the writing thread or after the writers are joined.
class TRecordingState : public TTrace::Base {
public:
  struct Entry {
    unsigned long level;
    const TTrace::Category* category;
    TMessage message;
  };

  explicit TRecordingState(bool* destroyed = nullptr) : fDestroyed(destroyed) {}
  ~TRecordingState() override {
    if (fDestroyed != nullptr) {
      *fDestroyed = true;
    }
  }
  void Write(unsigned long level, const TTrace::Category& category,
             const TMessage& message) override {
    if (fail) {
      throw std::runtime_error("output failed");
    }
    entries.push_back(Entry{level, &category, message});
    static_cast<void>(entries.back().message.QueryMessage());
    ++written;
  }
  void Change() override { ++changes; }

  std::deque<Entry> entries;
  std::atomic<int> written{0};
  int changes = 0;
  bool fail = false; ///< makes Write throw

private:
  bool* fDestroyed;
};

/// A handle on a new recording state (levels 0xF of every component, as every new state).
class TRecording : public TTrace {
public:
  explicit TRecording(bool* destroyed = nullptr) : TTrace(new TRecordingState(destroyed)) {}
  TRecordingState& State() const {
    return *static_cast<TRecordingState*>(QueryPointer().QueryBase());
  }
  std::deque<TRecordingState::Entry>& Entries() const { return State().entries; }
};

/// Where one source file's diagnostics come from: its category and the location file they name.
struct TraceSource {
  const TTrace::Category& category;
  const char* file;
};

/// One diagnostic of a source: its level, source line and rendered text.
struct ExpectedEntry {
  unsigned long level;
  unsigned long line;
  std::string text;
};

/// Expects `entry` to come from `source` at `level` and `line`; gives its rendered text.
inline std::string EntryText(const TRecordingState::Entry& entry, const TraceSource& source,
                             unsigned long level, unsigned long line) {
  EXPECT_EQ(entry.level, level);
  EXPECT_EQ(entry.category, &source.category);
  EXPECT_STREQ(entry.message.QueryFile(), source.file);
  EXPECT_EQ(entry.message.QueryLine(), line);
  return Bytes(entry.message.QueryMessage());
}

/// Expects `entry` to be `expected`, written by `source`.
inline void ExpectEntry(const TRecordingState::Entry& entry, const TraceSource& source,
                        const ExpectedEntry& expected) {
  EXPECT_EQ(EntryText(entry, source, expected.level, expected.line), expected.text);
}

/// Expects the entries of `source`'s category in `recording` to be exactly the `expected` ones, in
/// order; entries of other categories are passed over.
inline void ExpectEntriesOf(const TRecording& recording, const TraceSource& source,
                            const std::vector<ExpectedEntry>& expected) {
  std::vector<const TRecordingState::Entry*> entries;
  for (const TRecordingState::Entry& entry : recording.Entries()) {
    if (entry.category == &source.category) {
      entries.push_back(&entry);
    }
  }
  ASSERT_EQ(entries.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE("entry " + std::to_string(i));
    ExpectEntry(*entries[i], source, expected[i]);
  }
}

/// Expects the recording to hold exactly the `expected` entries of `source`, in order.
inline void ExpectEntries(const TRecording& recording, const TraceSource& source,
                          const std::vector<ExpectedEntry>& expected) {
  ASSERT_EQ(recording.Entries().size(), expected.size());
  ExpectEntriesOf(recording, source, expected);
}

#endif // TAVUTIL_TESTS_HELPERS_TRACE_ENTRY_H
