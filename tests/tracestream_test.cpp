// tests/tracestream_test.cpp: trace lines to streams and files, their prefix, stream
// ownership, trace files in new directories, and lines from several threads.
// Licensed under the Apache License, Version 2.0.
#include <tavutil/exception.h>
#include <tavutil/message.h>
#include <tavutil/tracepoint.h>
#include <tavutil/tracesharedfile.h>
#include <tavutil/tracestream.h>

#include "test_platform.h"
#include "tracestream_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace tracestream_test;

std::string Hex8(long id) {
  char text[16];
  std::snprintf(text, sizeof text, "%08lX", id);
  return text;
}

/// A stream that counts its destructions.
struct CountedStream : std::ostringstream {
  explicit CountedStream(int& deaths) : deaths(deaths) {}
  ~CountedStream() override { ++deaths; }
  int& deaths;
};

TEST(TTraceStream, LinesWithoutPrefixAreExactAndReachEveryOutput) {
  std::ostringstream first;
  std::ostringstream second;
  first << std::hex << std::setw(12); // the caller's settings must not reach the line
  TTraceStream one(first);
  TTraceStream two(second);
  one.SetDisplayPrefix(0);
  two.SetDisplayPrefix(0);
  Trace(0x4, "C:\\src\\utility\\MUTEXSEM", 71, "T");
  Trace(0x4, "/src/utility/MUTEXSEM", 71, "T");
  Trace(0x8, "a/b\\c.cpp", 1234, "mixed");
  Trace(0x8, "bare.cpp", 9, "");
  Trace(0x1, nullptr, 0, "no file");
  Trace(0x10, "x/y", 1, "not at this level");
  // A text is rendered once whatever the number of outputs: its mismatch diagnostic (level 8,
  // from utility/MESSAGE) reaches each output once, before the entry it belongs to.
  TAVUTIL_TRACE_AT(0x4, TUtilityTraceCategory::Utility, "app.cpp", 5, "%d apples", "five");
  const std::string expected =
      "E [MUTEXSEM:71] T\nE [MUTEXSEM:71] T\nW [c.cpp:1234] mixed\nW [bare.cpp:9] \n"
      "O [????.???:0] no file\nW [MESSAGE:468] Type mismatch in message((null),0,0) expecting d "
      "for argument 1 from app.cpp[5]\nE [app.cpp:5] 0 apples\n";
  EXPECT_EQ(first.str(), expected);
  EXPECT_EQ(second.str(), expected);
}

TEST(TTraceStream, PrefixIsTimeThreadAndLetter) {
  std::ostringstream out;
  TTraceStream trace(out);
  const std::regex shape(R"((\d\d)/(\d\d)-(\d\d):(\d\d):(\d\d)\.\d\d ([0-9A-F]{8}) (.))");
  const std::string self = Hex8(OwnThreadId());
  for (const auto& [level, letter] : {std::pair{0x4ul, "E"}, {0x40ul, "?"}, {0x5ul, "?"}}) {
    TString prefix("untouched");
    TTrace().FormatPrefix(prefix, level);
    EXPECT_STREQ(prefix, "untouched");
    trace.FormatPrefix(prefix, level);
    std::smatch m;
    const std::string text(prefix);
    ASSERT_TRUE(std::regex_match(text, m, shape)) << text;
    EXPECT_EQ(text.size(), 28u);
    EXPECT_TRUE(m[1] >= "01" && m[1] <= "12") << text; // months count from 1
    EXPECT_EQ(m[6], self);
    EXPECT_EQ(m[7], letter);
    trace.SetDisplayPrefix(0);
    trace.FormatPrefix(prefix, level);
    EXPECT_STREQ(prefix, letter);
    trace.SetDisplayPrefix(1);
  }
  long otherId = 0;
  std::thread([&] {
    otherId = OwnThreadId();
    Trace(0x2, "f", 3, "from another thread");
  }).join();
  EXPECT_EQ(out.str().substr(18), Hex8(otherId) + " S [f:3] from another thread\n");
}

TEST(TTraceStream, OwnershipFollowsTheLastSetStream) {
  int deaths = 0;
  int borrowedDeaths = 0;
  CountedStream borrowed(borrowedDeaths);
  { const TTraceStream byConstructor(new CountedStream(deaths)); }
  EXPECT_EQ(deaths, 1);
  auto* owned = new CountedStream(deaths);
  auto* handedOver = new CountedStream(deaths);
  {
    TTraceStream trace;
    trace.SetDisplayPrefix(0);
    Trace(0x1, "f", 1, "lost"); // no stream yet
    trace.SetStream(owned);
    trace.SetStream(*owned); // the stream it owns already: kept, not freed
    Trace(0x1, "f", 2, "to owned");
    EXPECT_EQ(owned->str(), "O [f:2] to owned\n");
    const TTraceStream copy(trace);
    trace.SetStream(borrowed); // frees the owned one at once
    EXPECT_EQ(deaths, 2);
    Trace(0x1, "f", 3, "to borrowed");
    trace.SetStream(*handedOver);
    trace.SetStream(handedOver); // borrowed first, then handed over: owned from now on
    EXPECT_EQ(borrowedDeaths, 0);
  }
  EXPECT_EQ(deaths, 3);
  EXPECT_EQ(borrowedDeaths, 0);
  EXPECT_EQ(borrowed.str(), "O [f:3] to borrowed\n");

  // A handle that holds no stream state leaves a handed-over stream with the caller.
  TTraceStream emptied;
  static_cast<TTrace&>(emptied) = TTrace();
  emptied.SetStream(&borrowed);
  emptied.SetStream(borrowed);
  EXPECT_EQ(borrowedDeaths, 0);
}

TEST_F(TTraceStreamFile, MakesMissingDirectoriesAndWritesFromTheStart) {
  Left("a");
  Left("a/b");
  Left("a/b/c");
  const fs::path file = Left("a/b/c/t.trc");
  const std::string name = fRoot.string() + "/a\\b/c\\t.trc"; // both separators
  for (const std::string text : {"a first run with a longer line", "second"}) {
    TTraceStream trace(name.c_str());
    trace.SetDisplayPrefix(0);
    Trace(0x4, "x\\MUTEXSEM", 71, text.c_str());
    EXPECT_EQ(FileContents(file), "E [MUTEXSEM:71] " + text + "\n"); // flushed with each line
  }
  EXPECT_TRUE(fs::is_directory(fRoot / "a" / "b" / "c"));
}

/// A store whose GetMsg throws an exception of the library, which is no std::exception.
class TThrowingStore : public TMessageStore {
public:
  TThrowingStore() : TMessageStore(TMessage::StoreID(TString("Throwing"), explicitInit)) {}
  TString* GetMsg(long /*setId*/, long /*messageId*/) override {
    throw TInvalidRequest("no text", 1, TException::recoverable);
  }
};

TEST_F(TTraceStreamFile, OutputsLoseTheLineWhenTheStoreThrows) {
  const TThrowingStore store;
  const TMessage message(store.QueryStoreID(), 1, 2, "default");
  std::ostringstream out;
  TTraceStream stream(out);
  const fs::path file = Left("shared.trc");
  TTraceSharedFile shared(file.string().c_str());
  for (TTrace* trace : {static_cast<TTrace*>(&stream), static_cast<TTrace*>(&shared)}) {
    EXPECT_NO_THROW(trace->QueryPointer()->Write(0x4, kCategory, message));
  }
  EXPECT_EQ(out.str(), "");
  EXPECT_EQ(FileContents(file), "");
}

TEST_F(TTraceStreamFile, NamesThatCannotBeUsedWriteNothingAndMakeNoDirectory) {
  const fs::path plain = Left("plain");
  std::ofstream(plain) << "keep";
  const std::string underFile = (plain / "sub" / "t.trc").string(); // its directory cannot be made
  const std::string directory = fRoot.string();                     // cannot be opened as a file
  // 25,000 directories of 3 bytes each: far past the longest path; and a path that fits but
  // has a component longer than a file name may be. The fixture fails on any directory made.
  std::string deep = fRoot.string();
  for (int i = 0; i < 25000; ++i) {
    deep += "/dd";
  }
  deep += "/t.trc";
  const std::string wide = fRoot.string() + "/d/" + std::string(300, 'w') + "/t.trc";
  std::ostringstream out;
  for (const char* name : {underFile.c_str(), directory.c_str(), deep.c_str(), wide.c_str(),
                           static_cast<const char*>(nullptr)}) {
    TTraceStream trace(name);
    trace.SetDisplayPrefix(0);
    EXPECT_NO_THROW(Trace(0x4, "f", 1, "nowhere"));
    trace.SetStream(out); // the state still works with a stream of its caller
    Trace(0x4, "f", 2, "here");
  }
  std::string expected;
  for (int i = 0; i < 5; ++i) {
    expected += "E [f:2] here\n";
  }
  EXPECT_EQ(out.str(), expected);
  EXPECT_EQ(FileContents(plain), "keep");
}

TEST(TTraceStreamThreaded, LinesNeverInterleave) {
  std::ostringstream out;
  TTraceStream trace(out);
  constexpr int kThreads = 4;
  constexpr int kLines = 300;
  const std::string filler(150, 'x');
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kLines; ++i) {
        TMessage message((std::to_string(t) + filler + std::to_string(i)).c_str());
        message.SetDebugging("src/THREADS", t);
        if (i % 2 == 0) {
          TTrace::WriteEntry(0x4, kCategory, message);
        } else {
          trace.QueryPointer()->Write(0x4, kCategory, message); // a direct call locks as well
        }
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  const std::regex shape(R"(.{18}[0-9A-F]{8} E \[THREADS:(\d)\] (\d)x{150}(\d+))");
  std::istringstream in(out.str());
  std::vector<int> next(kThreads, 0);
  for (std::string line; std::getline(in, line);) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, shape)) << line;
    const int t = std::stoi(m[1]);
    EXPECT_EQ(std::stoi(m[2]), t);
    EXPECT_EQ(std::stoi(m[3]), next[t]++);
  }
  EXPECT_EQ(next, std::vector<int>(kThreads, kLines));
}

} // namespace
