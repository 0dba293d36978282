// tests/tracesystemlog_test.cpp: the system-log output ("pm"), read back from a stand-in for the
// log of the test's own. Licensed under the Apache License, Version 2.0.
//
// This program carries its own copy of the output and of the platform's system-log code (see
// tests/CMakeLists.txt), so the output can be pointed at the stand-in (test_platform.h).
#include <tavutil/exception.h>
#include <tavutil/message.h>

#include "internal/tracesystemlog.h"
#include "test_platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

namespace {

using tavutil::detail::MakeSystemLogTrace;

void Write(unsigned long level, const char* text) {
  TMessage message("%s #%d", TagVar(text), TagVar(7));
  message.SetDebugging("utility\\MUTEXSEM", 71);
  TTrace::WriteEntry(level, TUtilityTraceCategory::Utility, message);
}

/// Whether `record` ends with the identity, the process id and the entry.
bool EndsWith(const std::string& record, const std::string& ident, char letter,
              const std::string& text) {
  const std::string tail =
      ident + "[" + std::to_string(ProcessId()) + "]: " + letter + " [MUTEXSEM:71] " + text + " #7";
  return record.size() >= tail.size() &&
         record.compare(record.size() - tail.size(), tail.size(), tail) == 0;
}

TEST(TTraceSystemLog, EachLevelGoesWithItsPriority) {
  LogReceiver log;
  TTrace trace = MakeSystemLogTrace("unit-ident", LogReceiver::Address().c_str());
  trace.SetLevel(0xFFFFFFFF);
  const struct {
    unsigned long level;
    const char* head; ///< facility user (8) plus the severity
    char letter;
  } cases[] = {
      {0x2, "<10>", 'S'},    {0x4, "<11>", 'E'},  {0x8, "<12>", 'W'},  {0x1, "<13>", 'O'},
      {0x400, "<13>", '*'},  {0x10, "<14>", 'I'}, {0x20, "<14>", 'i'}, {0x100, "<15>", '1'},
      {0x1000, "<15>", '>'}, {0x40, "<15>", '?'},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.level);
    Write(c.level, "entry");
    const std::string record = log.Receive();
    EXPECT_EQ(record.compare(0, 4, c.head), 0) << record;
    EXPECT_EQ(record.find(' ', 4), 7u) << record; // "<PRI>Mmm dd hh:mm:ss " then the identity
    EXPECT_EQ(record[19], ' ') << record;
    EXPECT_TRUE(EndsWith(record, "unit-ident", c.letter, "entry")) << record;
  }
}

TEST(TTraceSystemLog, ALogThatComesAndGoesIsReachedAgain) {
  std::unique_ptr<LogReceiver> log;
  const TTrace trace = MakeSystemLogTrace("again", LogReceiver::Address().c_str());
  Write(0x4, "before the log exists"); // lost, and nothing thrown
  log = std::make_unique<LogReceiver>();
  Write(0x4, "first");
  EXPECT_TRUE(EndsWith(log->Receive(), "again", 'E', "first"));
  Write(0x4, std::string(20000, 'x').c_str()); // cut to one record
  EXPECT_EQ(log->Receive().size(), 8192u);
  log.reset(); // the log restarts: the output's connection is dead
  log = std::make_unique<LogReceiver>();
  Write(0x4, "second");
  EXPECT_TRUE(EndsWith(log->Receive(), "again", 'E', "second"));
  EXPECT_EQ(log->Receive(), "<none>");
}

// A control byte of the identity or the text could forge a record's end in a reader that splits
// on line ends: each is written as '#' and three octal digits. The identity is cut to 48 bytes,
// and no record exceeds 8192 bytes, however long the identity and however many escapes.
TEST(TTraceSystemLog, ControlBytesAreEscapedAndRecordsKeepTheirSize) {
  LogReceiver log;
  {
    const TTrace trace = MakeSystemLogTrace("id\nent\x1b", LogReceiver::Address().c_str());
    Write(0x4, "one\ntwo\rthree\x1b[31mfour\x7f\x01");
    EXPECT_TRUE(
        EndsWith(log.Receive(), "id#012ent#033", 'E', "one#012two#015three#033[31mfour#177#001"));
  }
  const std::string longIdent(10000, 'n');
  const TTrace trace =
      MakeSystemLogTrace((longIdent + "\n").c_str(), LogReceiver::Address().c_str());
  Write(0x4, std::string(20000, '\n').c_str());
  const std::string record = log.Receive();
  EXPECT_LE(record.size(), 8192u);
  EXPECT_NE(record.find(" " + std::string(48, 'n') + "[" + std::to_string(ProcessId()) + "]: E "),
            std::string::npos);
  const std::size_t escapes = record.find("#012");
  ASSERT_NE(escapes, std::string::npos);
  EXPECT_EQ((record.size() - escapes) % 4, 0u) << "an escape cut in two";
  EXPECT_TRUE(std::none_of(record.begin(), record.end(), [](char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
  }));
}

TEST(TTraceSystemLog, AStoreThatThrowsLosesTheEntryAndNothingElse) {
  struct TThrowingStore : TMessageStore {
    TThrowingStore() : TMessageStore(TMessage::StoreID(TString("Throwing"), explicitInit)) {}
    TString* GetMsg(long /*setId*/, long /*messageId*/) override {
      throw TInvalidRequest("no text", 1, TException::recoverable);
    }
  } store;
  LogReceiver log;
  TTrace trace = MakeSystemLogTrace("unit-ident", LogReceiver::Address().c_str());
  EXPECT_NO_THROW(trace.QueryPointer()->Write(0x4, TUtilityTraceCategory::Utility,
                                              TMessage(store.QueryStoreID(), 1, 2, "default")));
  Write(0x4, "after");
  EXPECT_TRUE(EndsWith(log.Receive(), "unit-ident", 'E', "after"));
}

TEST(TTraceSystemLog, TheSystemsOwnLogTakesEntries) {
  if (kNoOwnLogReason != nullptr) {
    GTEST_SKIP() << kNoOwnLogReason;
  }
  tavutil::platform::SystemLogHandle* log =
      tavutil::platform::OpenSystemLog("tavutil-test", nullptr);
  ASSERT_NE(log, nullptr);
  EXPECT_EQ(
      tavutil::platform::WriteSystemLog(*log, tavutil::platform::LogPriority::error, "an entry", 8),
      0);
  tavutil::platform::CloseSystemLog(log);
}

} // namespace
