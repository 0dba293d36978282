// tests/posix/log_platform.h: a log socket of the test's own that stands in for the system log.
// Licensed under the Apache License, Version 2.0.
#ifndef TAVUTIL_TESTS_LOG_PLATFORM_H
#define TAVUTIL_TESTS_LOG_PLATFORM_H

#include <gtest/gtest.h>

#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

/// Why the system's own log (the output without an address) is not tried here; null when it is.
constexpr const char* kNoOwnLogReason =
    "the system's own log is /dev/log, which a test may not write to nor read back";

/// A datagram socket bound where the output sends: the stand-in for the system log.
class LogReceiver {
public:
  LogReceiver() : fSocket(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    Address().copy(address.sun_path, sizeof address.sun_path - 1);
    ::unlink(address.sun_path);
    EXPECT_EQ(::bind(fSocket, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  }
  ~LogReceiver() {
    ::close(fSocket);
    ::unlink(Address().c_str());
  }
  LogReceiver(const LogReceiver&) = delete;
  LogReceiver& operator=(const LogReceiver&) = delete;

  /// Where the output is to send.
  static std::string Address() {
    return ::testing::TempDir() + "tavlog." + std::to_string(::getpid());
  }
  /// The next record, or "<none>" when none comes within a second.
  std::string Receive() {
    pollfd ready{fSocket, POLLIN, 0};
    if (::poll(&ready, 1, 1000) != 1) {
      return "<none>";
    }
    std::string record(65536, '\0');
    const ssize_t size = ::recv(fSocket, record.data(), record.size(), 0);
    record.resize(size > 0 ? static_cast<std::size_t>(size) : 0);
    return record;
  }

private:
  int fSocket;
};

#endif // TAVUTIL_TESTS_LOG_PLATFORM_H
