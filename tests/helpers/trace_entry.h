// tests/helpers/trace_entry.h: the check of the diagnostics a recording trace output took.
// Licensed under the Apache License, Version 2.0.
#ifndef TAVUTIL_TESTS_HELPERS_TRACE_ENTRY_H
#define TAVUTIL_TESTS_HELPERS_TRACE_ENTRY_H

#include "helpers/test_text.h"
#include "recording_trace.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

/// Expects `entry` to be `expected`, written by `source`.
inline void ExpectEntry(const TRecordingState::Entry& entry, const TraceSource& source,
                        const ExpectedEntry& expected) {
  EXPECT_EQ(entry.level, expected.level);
  EXPECT_EQ(entry.category, &source.category);
  EXPECT_STREQ(entry.message.QueryFile(), source.file);
  EXPECT_EQ(entry.message.QueryLine(), expected.line);
  EXPECT_EQ(Bytes(entry.message.QueryMessage()), expected.text);
}

/// Expects the recording to hold exactly the `expected` entries of `source`, in order.
inline void ExpectEntries(const TRecording& recording, const TraceSource& source,
                          const std::vector<ExpectedEntry>& expected) {
  ASSERT_EQ(recording.Entries().size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE("entry " + std::to_string(i));
    ExpectEntry(recording.Entries()[i], source, expected[i]);
  }
}

#endif // TAVUTIL_TESTS_HELPERS_TRACE_ENTRY_H
