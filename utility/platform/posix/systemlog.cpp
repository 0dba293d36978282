// utility/platform/posix/systemlog.cpp: the system log (syslog) for POSIX systems.
// Licensed under the Apache License, Version 2.0.
//
// Entries go as datagrams straight to the log socket in the classic syslog form of
// logrecord.h, the form syslog(3) sends. openlog(3) is not used: it keeps one identity per
// process, and each log here has its own.
#include "platform/logrecord.h"
#include "platform/platform.h"

#include <cerrno>
#include <cstring>
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
  try {
    logrecord::Build(log.record, log.ident, priority, text, size);
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
