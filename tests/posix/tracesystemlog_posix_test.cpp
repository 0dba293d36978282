// tests/posix/tracesystemlog_posix_test.cpp: the system-log output ("pm"), read back from a log
// socket of the test's own. Licensed under the Apache License, Version 2.0.
//
// This program carries its own copy of the output and of the platform's system-log code (see
// tests/CMakeLists.txt), so the output can be pointed at a socket that stands in for the log.
#include <tavutil/message.h>

#include "internal/tracesystemlog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using tavutil::platform::LogPriority;

/// A datagram socket bound where the output sends: the stand-in for the system log.
class LogSocket {
public:
  explicit LogSocket(const std::string& path) : fPath(path) { Bind(); }
  ~LogSocket() { Close(); }
  LogSocket(const LogSocket&) = delete;
  LogSocket& operator=(const LogSocket&) = delete;

  void Bind() {
    fSocket = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    fPath.copy(address.sun_path, sizeof address.sun_path - 1);
    ::unlink(fPath.c_str());
    ASSERT_EQ(::bind(fSocket, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  }
  void Close() {
    if (fSocket >= 0) {
      ::close(fSocket);
      fSocket = -1;
      ::unlink(fPath.c_str());
    }
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
  std::string fPath;
  int fSocket = -1;
};

std::string SocketPath() {
  return ::testing::TempDir() + "tavlog." + std::to_string(::getpid());
}

void Write(unsigned long level, const char* text) {
  TMessage message("%s #%d", TagVar(text), TagVar(7));
  message.SetDebugging("utility\\MUTEXSEM", 71);
  TTrace::WriteEntry(level, TUtilityTraceCategory::Utility, message);
}

/// What a record must end with: the identity, the process id and the entry.
std::string Tail(const char* ident, char letter, const char* text) {
  return std::string(ident) + "[" + std::to_string(::getpid()) + "]: " + letter +
         " [MUTEXSEM:71] " + text + " #7";
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

} // namespace

TEST(TTraceSystemLog, EachLevelGoesWithItsPriority) {
  LogSocket log(SocketPath());
  TTrace trace = tavutil::detail::MakeSystemLogTrace("unit-ident", SocketPath().c_str());
  trace.SetLevel(0xFFFFFFFF);
  const struct {
    unsigned long level;
    LogPriority priority;
    const char* head; ///< facility user (8) plus the severity
    char letter;
  } cases[] = {
      {0x2, LogPriority::critical, "<10>", 'S'}, {0x4, LogPriority::error, "<11>", 'E'},
      {0x8, LogPriority::warning, "<12>", 'W'},  {0x1, LogPriority::notice, "<13>", 'O'},
      {0x400, LogPriority::notice, "<13>", '*'}, {0x10, LogPriority::info, "<14>", 'I'},
      {0x20, LogPriority::info, "<14>", 'i'},    {0x100, LogPriority::debug, "<15>", '1'},
      {0x1000, LogPriority::debug, "<15>", '>'}, {0x40, LogPriority::debug, "<15>", '?'},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.level);
    EXPECT_EQ(tavutil::detail::SystemLogPriority(c.level), c.priority);
    Write(c.level, "entry");
    const std::string record = log.Receive();
    EXPECT_EQ(record.compare(0, 4, c.head), 0) << record;
    // "<PRI>Mmm dd hh:mm:ss " then the identity.
    EXPECT_EQ(record.find(' ', 4), 7u) << record;
    EXPECT_EQ(record[19], ' ') << record;
    EXPECT_TRUE(EndsWith(record, Tail("unit-ident", c.letter, "entry"))) << record;
  }
}

TEST(TTraceSystemLog, ALogThatComesAndGoesIsReachedAgain) {
  const std::string path = SocketPath();
  ::unlink(path.c_str());
  const TTrace trace = tavutil::detail::MakeSystemLogTrace("again", path.c_str());
  Write(0x4, "before the log exists"); // lost, and nothing thrown
  LogSocket log(path);
  Write(0x4, "first");
  EXPECT_TRUE(EndsWith(log.Receive(), Tail("again", 'E', "first")));
  const std::string longText(20000, 'x'); // cut to one record
  Write(0x4, longText.c_str());
  EXPECT_EQ(log.Receive().size(), 8192u);
  log.Close(); // the log restarts: the output's connection is dead
  log.Bind();
  Write(0x4, "second");
  EXPECT_TRUE(EndsWith(log.Receive(), Tail("again", 'E', "second")));
  EXPECT_EQ(log.Receive(), "<none>");
}

// A control byte of the identity or the text could forge a record's end in a reader that splits
// on line ends: each is written as '#' and three octal digits. The identity is cut to 48 bytes,
// and no record exceeds 8192 bytes, however long the identity and however many escapes.
TEST(TTraceSystemLog, ControlBytesAreEscapedAndRecordsKeepTheirSize) {
  LogSocket log(SocketPath());
  {
    const TTrace trace = tavutil::detail::MakeSystemLogTrace("id\nent\x1b", SocketPath().c_str());
    Write(0x4, "one\ntwo\rthree\x1b[31mfour\x7f\x01");
    EXPECT_TRUE(EndsWith(log.Receive(),
                         Tail("id#012ent#033", 'E', "one#012two#015three#033[31mfour#177#001")));
  }
  const std::string longIdent(10000, 'n');
  const TTrace trace =
      tavutil::detail::MakeSystemLogTrace((longIdent + "\n").c_str(), SocketPath().c_str());
  Write(0x4, std::string(20000, '\n').c_str());
  const std::string record = log.Receive();
  EXPECT_LE(record.size(), 8192u);
  EXPECT_NE(record.find(" " + std::string(48, 'n') + "[" + std::to_string(::getpid()) + "]: E "),
            std::string::npos);
  const std::size_t escapes = record.find("#012");
  ASSERT_NE(escapes, std::string::npos);
  EXPECT_EQ((record.size() - escapes) % 4, 0u) << "an escape cut in two";
  EXPECT_TRUE(std::none_of(record.begin(), record.end(), [](char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
  }));
}
