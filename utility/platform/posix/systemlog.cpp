// utility/platform/posix/systemlog.cpp: the system log (syslog) for POSIX systems.
// Licensed under the Apache License, Version 2.0.
//
// Entries go as datagrams straight to the log socket in the classic syslog form
// "<PRI>Mmm dd hh:mm:ss IDENT[PID]: TEXT", the form syslog(3) sends. openlog(3) is not used: it
// keeps one identity per process, and each log here has its own.
#include "platform/platform.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <new>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace tavutil::platform {

namespace {

/// The system's log socket.
constexpr const char* kSystemLogSocket = "/dev/log";
/// The facility of every entry: user-level messages.
constexpr int kFacilityUser = 1 << 3;
/// The longest record sent; a longer text is cut. Every syslog receiver takes this much.
constexpr std::size_t kMaxRecord = 8192;

/// The syslog severity of a priority.
int Severity(LogPriority priority) noexcept {
  switch (priority) {
  case LogPriority::critical:
    return 2;
  case LogPriority::error:
    return 3;
  case LogPriority::warning:
    return 4;
  case LogPriority::notice:
    return 5;
  case LogPriority::info:
    return 6;
  case LogPriority::debug:
    break;
  }
  return 7;
}

} // namespace

struct SystemLogHandle {
  std::string ident;
  sockaddr_un address{};
  int socket = -1;
  std::string record; ///< the record being sent, kept for its capacity

  /// Connects when not connected; 0, or the system's error code when the log cannot be
  /// reached now.
  int Connect() noexcept {
    if (socket >= 0) {
      return 0;
    }
    socket = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (socket < 0) {
      return errno;
    }
    if (::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
      const int error = errno;
      Disconnect();
      return error;
    }
    return 0;
  }

  void Disconnect() noexcept {
    if (socket >= 0) {
      ::close(socket);
      socket = -1;
    }
  }
};

SystemLogHandle* OpenSystemLog(const char* ident, const char* address) noexcept {
  const char* path = address != nullptr ? address : kSystemLogSocket;
  auto* log = new (std::nothrow) SystemLogHandle;
  if (log == nullptr) {
    return nullptr;
  }
  if (std::strlen(path) >= sizeof log->address.sun_path) {
    delete log;
    return nullptr;
  }
  try {
    log->ident = ident != nullptr ? ident : "";
    log->record.reserve(256);
  } catch (const std::bad_alloc&) {
    delete log;
    return nullptr;
  }
  log->address.sun_family = AF_UNIX;
  std::memcpy(log->address.sun_path, path, std::strlen(path) + 1);
  return log;
}

int WriteSystemLog(SystemLogHandle& log, LogPriority priority, const char* text,
                   std::size_t size) noexcept {
  static constexpr const char* kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const LocalTimeValue now = LocalTime();
  char head[64];
  const int headLength = std::snprintf(
      head, sizeof head, "<%d>%s %2d %02d:%02d:%02d ", kFacilityUser | Severity(priority),
      kMonths[(now.month + 11) % 12], now.day, now.hour, now.minute, now.second);
  char pid[24];
  const int pidLength = std::snprintf(pid, sizeof pid, "[%u]: ", ProcessId());
  if (headLength < 0 || pidLength < 0) {
    return EINVAL;
  }
  try {
    log.record.assign(head, static_cast<std::size_t>(headLength));
    log.record += log.ident;
    log.record.append(pid, static_cast<std::size_t>(pidLength));
    if (log.record.size() < kMaxRecord && text != nullptr) {
      log.record.append(text, std::min(size, kMaxRecord - log.record.size()));
    }
  } catch (const std::bad_alloc&) {
    return ENOMEM;
  }
  // A log daemon that restarted leaves a dead connection: reconnect once and try again.
  int error = 0;
  for (int attempt = 0; attempt < 2; ++attempt) {
    error = log.Connect();
    if (error != 0) {
      return error;
    }
    if (::send(log.socket, log.record.data(), log.record.size(), MSG_NOSIGNAL) >= 0) {
      return 0;
    }
    error = errno;
    log.Disconnect();
  }
  return error;
}

void CloseSystemLog(SystemLogHandle* log) noexcept {
  if (log != nullptr) {
    log->Disconnect();
    delete log;
  }
}

} // namespace tavutil::platform
