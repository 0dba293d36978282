// utility/platform/windows/systemlog.cpp: the system log for Windows, which is the event log.
// Licensed under the Apache License, Version 2.0.
//
// Without an address, entries go to the Application event log under the identity as event
// source (RegisterEventSourceA / ReportEventA), one string per event: "IDENT[PID]: TEXT". The
// event log stamps the time and keeps the type; the priority picks the type (critical and
// error: error, warning: warning, the rest: information). The source is not registered with a
// message file, so a viewer shows the string as the event's inserted text.
//
// With an address, the log is a mailslot, "\\.\mailslot\NAME" or one on another machine: each
// entry is one message in the classic syslog form of logrecord.h, as a syslog receiver expects
// it. A mailslot keeps message boundaries as a datagram socket does.
//
// Either way a log that appears or restarts later is reached: the event source is registered
// at the first entry and again after a failure, the mailslot opened for each entry.
#include "platform/logrecord.h"
#include "platform/platform.h"
#include "platform/windows/win32.h"

#include <new>
#include <string>

namespace tavutil::platform {

namespace {

/// The event type of a priority.
WORD EventType(LogPriority priority) noexcept {
  switch (priority) {
  case LogPriority::critical:
  case LogPriority::error:
    return EVENTLOG_ERROR_TYPE;
  case LogPriority::warning:
    return EVENTLOG_WARNING_TYPE;
  default:
    return EVENTLOG_INFORMATION_TYPE;
  }
}

} // namespace

struct SystemLogHandle {
  std::string ident;
  std::string address;          ///< the mailslot; empty for the event log
  HANDLE eventSource = nullptr; ///< registered at the first entry
  std::string record;           ///< the record being sent, kept for its capacity

  /// Registers the event source when it is not registered; 0, or the system's error code.
  int Connect() noexcept {
    if (eventSource == nullptr) {
      eventSource = ::RegisterEventSourceA(nullptr, ident.c_str());
      if (eventSource == nullptr) {
        return static_cast<int>(::GetLastError());
      }
    }
    return 0;
  }

  void Disconnect() noexcept {
    if (eventSource != nullptr) {
      ::DeregisterEventSource(eventSource);
      eventSource = nullptr;
    }
  }

  /// Reports the record as one event; 0 or the system's error code. A failure unregisters the
  /// source, which the next entry registers again.
  int Report(LogPriority priority) noexcept {
    int error = Connect();
    if (error == 0) {
      const char* strings[1] = {record.c_str()};
      if (::ReportEventA(eventSource, EventType(priority), 0, 0, nullptr, 1, 0, strings, nullptr) ==
          FALSE) {
        error = static_cast<int>(::GetLastError());
        Disconnect();
      }
    }
    return error;
  }

  /// Sends the record as one message to the mailslot; 0 or the system's error code. The slot
  /// is opened for each entry: an open handle would keep a slot whose reader has gone alive
  /// and so keep a restarted reader from making it again.
  int Post() noexcept {
    const HANDLE slot =
        ::CreateFileA(address.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (slot == INVALID_HANDLE_VALUE) {
      return static_cast<int>(::GetLastError());
    }
    DWORD written = 0;
    int error = 0;
    if (::WriteFile(slot, record.data(), static_cast<DWORD>(record.size()), &written, nullptr) ==
        FALSE) {
      error = static_cast<int>(::GetLastError());
    } else if (written != record.size()) {
      error = ERROR_WRITE_FAULT;
    }
    ::CloseHandle(slot);
    return error;
  }
};

SystemLogHandle* OpenSystemLog(const char* ident, const char* address) noexcept {
  auto* log = new (std::nothrow) SystemLogHandle;
  if (log == nullptr) {
    return nullptr;
  }
  try {
    log->ident = ident != nullptr ? ident : "";
    log->address = address != nullptr ? address : "";
    log->record.reserve(256);
  } catch (const std::bad_alloc&) {
    delete log;
    return nullptr;
  }
  return log;
}

int WriteSystemLog(SystemLogHandle& log, LogPriority priority, const char* text,
                   std::size_t size) noexcept {
  try {
    if (log.address.empty()) {
      log.record.clear();
      logrecord::AppendTail(log.record, log.ident, text, size);
    } else {
      logrecord::Build(log.record, log.ident, priority, text, size);
    }
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  return log.address.empty() ? log.Report(priority) : log.Post();
}

void CloseSystemLog(SystemLogHandle* log) noexcept {
  if (log != nullptr) {
    log->Disconnect();
    delete log;
  }
}

} // namespace tavutil::platform
