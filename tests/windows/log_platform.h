// tests/windows/log_platform.h: a mailslot of the test's own that stands in for the system log.
// Licensed under the Apache License, Version 2.0.
#ifndef TAVUTIL_TESTS_LOG_PLATFORM_H
#define TAVUTIL_TESTS_LOG_PLATFORM_H

#include <gtest/gtest.h>

#include <string>
#include <windows.h>

/// Why the system's own log (the output without an address) is not tried here; null when it is:
/// the event log takes entries from any program.
constexpr const char* kNoOwnLogReason = nullptr;

/// A mailslot where the output sends: the stand-in for the log.
class LogReceiver {
public:
  LogReceiver() : fSlot(::CreateMailslotA(Address().c_str(), 0, 0, nullptr)) {
    EXPECT_NE(fSlot, INVALID_HANDLE_VALUE) << ::GetLastError();
  }
  ~LogReceiver() { ::CloseHandle(fSlot); }
  LogReceiver(const LogReceiver&) = delete;
  LogReceiver& operator=(const LogReceiver&) = delete;

  /// Where the output is to send.
  static std::string Address() {
    return "\\\\.\\mailslot\\tavutil-test\\log." + std::to_string(::GetCurrentProcessId());
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
  HANDLE fSlot;
};

#endif // TAVUTIL_TESTS_LOG_PLATFORM_H
