// tests/windows/tracesystemlog_windows_test.cpp: the system-log output ("pm") on Windows.
// Licensed under the Apache License, Version 2.0.
//
// Read back from a mailslot of the test's own: this program carries its own copy of the
// output and of the platform's system-log code (see CMakeLists.txt here), so the output can
// be pointed at a mailslot that stands in for the log.
#include <tavutil/message.h>

#include "internal/tracesystemlog.h"

#include "windows/child_process.h"

#include <string>

namespace {

/// A mailslot where the output sends: the stand-in for the log.
class LogSlot {
public:
  explicit LogSlot(const std::string& path) : fPath(path) { Create(); }
  ~LogSlot() { Close(); }
  LogSlot(const LogSlot&) = delete;
  LogSlot& operator=(const LogSlot&) = delete;

  void Create() {
    fSlot = ::CreateMailslotA(fPath.c_str(), 0, 0, nullptr);
    ASSERT_NE(fSlot, INVALID_HANDLE_VALUE) << ::GetLastError();
  }
  void Close() {
    if (fSlot != INVALID_HANDLE_VALUE) {
      ::CloseHandle(fSlot);
      fSlot = INVALID_HANDLE_VALUE;
    }
  }
  /// The next record, or "<none>" when none comes within a second.
  std::string Receive() {
    for (int waited = 0; waited < 1000; waited += 5) {
      DWORD next = MAILSLOT_NO_MESSAGE;
      if (::GetMailslotInfo(fSlot, nullptr, &next, nullptr, nullptr) == FALSE) {
        return "<error>";
      }
      if (next != MAILSLOT_NO_MESSAGE) {
        std::string record(next, '\0');
        DWORD got = 0;
        if (::ReadFile(fSlot, record.data(), next, &got, nullptr) == FALSE) {
          return "<error>";
        }
        record.resize(got);
        return record;
      }
      ::Sleep(5);
    }
    return "<none>";
  }

private:
  std::string fPath;
  HANDLE fSlot = INVALID_HANDLE_VALUE;
};

std::string SlotPath() {
  return "\\\\.\\mailslot\\tavutil-test\\log." + std::to_string(::GetCurrentProcessId());
}

void Write(unsigned long level, const char* text) {
  TMessage message("%s #%d", TagVar(text), TagVar(7));
  message.SetDebugging("utility\\MUTEXSEM", 71);
  TTrace::WriteEntry(level, TUtilityTraceCategory::Utility, message);
}

/// What a record must end with: the identity, the process id and the entry.
std::string Tail(const char* ident, char letter, const char* text) {
  return std::string(ident) + "[" + std::to_string(::GetCurrentProcessId()) + "]: " + letter +
         " [MUTEXSEM:71] " + text + " #7";
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

TEST(TTraceSystemLogWindows, EntriesReachAMailslotAsSyslogRecords) {
  LogSlot log(SlotPath());
  TTrace trace = tavutil::detail::MakeSystemLogTrace("unit-ident", SlotPath().c_str());
  trace.SetLevel(0xFFFFFFFF);
  const struct {
    unsigned long level;
    const char* head; ///< facility user (8) plus the severity
    char letter;
  } cases[] = {{0x2, "<10>", 'S'}, {0x8, "<12>", 'W'}, {0x20, "<14>", 'i'}, {0x100, "<15>", '1'}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.level);
    Write(c.level, "entry");
    const std::string record = log.Receive();
    EXPECT_EQ(record.compare(0, 4, c.head), 0) << record;
    EXPECT_EQ(record.find(' ', 4), 7u) << record; // "<PRI>Mmm dd hh:mm:ss "
    EXPECT_EQ(record[19], ' ') << record;
    EXPECT_TRUE(EndsWith(record, Tail("unit-ident", c.letter, "entry"))) << record;
  }
}

TEST(TTraceSystemLogWindows, ALogThatComesAndGoesIsReachedAgain) {
  const std::string path = SlotPath();
  const TTrace trace = tavutil::detail::MakeSystemLogTrace("again", path.c_str());
  Write(0x4, "before the log exists"); // lost, and nothing thrown
  LogSlot log(path);
  Write(0x4, "first");
  EXPECT_TRUE(EndsWith(log.Receive(), Tail("again", 'E', "first")));
  const std::string longText(20000, 'x'); // cut to one record
  Write(0x4, longText.c_str());
  EXPECT_EQ(log.Receive().size(), 8192u);
  log.Close(); // the log restarts
  log.Create();
  Write(0x4, "second");
  EXPECT_TRUE(EndsWith(log.Receive(), Tail("again", 'E', "second")));
  EXPECT_EQ(log.Receive(), "<none>");
}

TEST(TTraceSystemLogWindows, TheEventLogTakesEntriesWithoutAnAddress) {
  tavutil::platform::SystemLogHandle* log =
      tavutil::platform::OpenSystemLog("tavutil-test", nullptr);
  ASSERT_NE(log, nullptr);
  EXPECT_EQ(
      tavutil::platform::WriteSystemLog(*log, tavutil::platform::LogPriority::error, "an entry", 8),
      0);
  tavutil::platform::CloseSystemLog(log);
}

} // namespace
