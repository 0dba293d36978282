// tests/posix/tracestream_posix_test.cpp: a trace file under the process's file-size limit,
// in a forked child whose limit the test lowers.
// Licensed under the Apache License, Version 2.0.
#include <tavutil/tracestream.h>

#include "tracestream_support.h"

#include <gtest/gtest.h>

#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace tracestream_test;

TEST_F(TTraceStreamFile, AWritePastTheFileSizeLimitFailsTheStreamAndTheProcessGoesOn) {
  const fs::path file = Left("limited.trc");
  constexpr rlim_t kLimit = 100;
  // In a child, whose file-size limit this test may lower: SIGXFSZ would end it.
  const pid_t child = ::fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    rlimit limit{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    const rlim_t saved = limit.rlim_cur;
    limit.rlim_cur = kLimit;
    ::setrlimit(RLIMIT_FSIZE, &limit);
    TTraceStream trace(file.c_str());
    trace.SetDisplayPrefix(0);
    for (int i = 0; i < 10; ++i) {
      Trace(0x4, "f", 1, "a line of thirty bytes");
    }
    // The failed write failed the stream: nothing more, even below a limit raised again.
    limit.rlim_cur = saved;
    ::setrlimit(RLIMIT_FSIZE, &limit);
    Trace(0x4, "f", 2, "after");
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  std::string expected;
  while (expected.size() < kLimit) {
    expected += "E [f:1] a line of thirty bytes\n";
  }
  EXPECT_EQ(ReadFile(file), expected.substr(0, kLimit));
}

} // namespace
