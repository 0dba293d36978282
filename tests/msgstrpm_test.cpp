// tests/msgstrpm_test.cpp: TMessageStorePM serving stored messages from resource libraries.
// Licensed under the Apache License, Version 2.0.
#include <tavutil/msgstrpm.h>
#include <tavutil/nlsresrc.h>

#include "catalogues/nlstest.h"
#include "helpers/trace_entry.h"
#include "library_error.h"
#include "nls_settings.h"
#include "test_platform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

namespace {

/// While not 0, the next allocation of exactly this many bytes fails.
std::atomic<std::size_t> gFailingSize{0};

/// free, out of line: the deletes below pair with the operator new below, not with free.
[[gnu::noinline]] void FreeBlock(void* p) noexcept {
  std::free(p);
}

} // namespace

// The plain and nothrow operator new and their deletes on malloc and free; the plain one fails
// the armed size once. The array and aligned forms stay the runtime's, which pairs them itself.
// clang-format off
void* operator new(std::size_t n) {
  std::size_t armed = n;
  if (gFailingSize.compare_exchange_strong(armed, 0)) { throw std::bad_alloc(); }
  void* p = std::malloc(n != 0 ? n : 1);
  return p != nullptr ? p : throw std::bad_alloc();
}
void* operator new(std::size_t n, const std::nothrow_t& /*tag*/) noexcept { return std::malloc(n != 0 ? n : 1); }
void operator delete(void* p) noexcept { FreeBlock(p); }
void operator delete(void* p, std::size_t /*size*/) noexcept { FreeBlock(p); }
void operator delete(void* p, const std::nothrow_t& /*tag*/) noexcept { FreeBlock(p); }
// clang-format on

namespace {

TMessage::StoreID Store(const std::string& name) {
  return TMessage::StoreID(TString(name.c_str()), explicitInit);
}

std::string Rendered(const TMessage& message) {
  return Bytes(message.QueryMessage());
}

/// Where the store's diagnostics come from.
const TraceSource kMsgStrPM{TUtilityTraceCategory::Message, "utility/MSGSTRPM"};

using TMessageStorePMTest = TNlsSettingsTest;
using TMessageStorePMThreaded = TNlsSettingsTest;

TEST_F(TMessageStorePMTest, LanguageCLoadsNothingAndRendersDefaultTexts) {
  TSearchNLSPath::SetLang("C");
  TRecording trace;
  trace.SetLevel(0xFF);
  TMessageStorePM store(Store("PM.C"), "nlstest");
  ExpectEntries(trace, kMsgStrPM,
                {{0x10, 52, "LANG is \"C\" using default messages for Message Store PM.C"}});
  EXPECT_EQ(store.GetMsg(1, NLS_DISK_FULL), nullptr);
  EXPECT_EQ(Rendered(TMessage(Store("PM.C"), 1, NLS_DISK_FULL, "Default %s", TagVar("C:"))),
            "Default C:");
  EXPECT_EQ(trace.Entries().size(), 1u); // a store without a library looks nothing up
}

TEST_F(TMessageStorePMTest, RendersTheLanguageOfItsLibraryWhateverTheSet) {
  const struct {
    const char* lang;
    const char* full;
    const char* copied;
  } languages[] = {{"English", "Disk C: is full", "backup copied 12 files"},
                   {"German", "Datentr\xC3\xA4ger C: ist voll", "backup hat 12 Dateien kopiert"}};
  for (const auto& language : languages) {
    TSearchNLSPath::SetLang(language.lang);
    TRecording trace;
    trace.SetLevel(0xFF);
    const std::string name = std::string("PM.") + language.lang;
    TMessageStorePM store(Store(name), "nlstest");
    ASSERT_EQ(trace.Entries().size(), 2u); // "Found file", then the store's own
    ExpectEntry(trace.Entries()[1], kMsgStrPM,
                {0x10, 93,
                 "For message store " + name + ", loaded DLL " + kTests + "/" + language.lang +
                     "/nlstest" + kSuffix});
    // The set id plays no part: sets 1 and 99 give resource NLS_DISK_FULL.
    for (const long set : {1L, 99L}) {
      EXPECT_EQ(Rendered(TMessage(Store(name), set, NLS_DISK_FULL, "default", TagVar("C:"))),
                language.full);
    }
    EXPECT_EQ(
        Rendered(TMessage(Store(name), 1, NLS_COPIED, "default", TagVar(12), TagVar("backup"))),
        language.copied);
  }
}

TEST_F(TMessageStorePMTest, AMessageTheLibraryLacksRendersItsDefaultText) {
  const std::string english = kTests + "/English/nlstest" + kSuffix;
  TRecording trace;
  trace.SetLevel(0xC);
  // A store made from a TDll serves that library whatever the language.
  TSearchNLSPath::SetLang("C");
  TMessageStorePM store(Store("PM.Missing"), TDll(english.c_str()));
  EXPECT_EQ(Rendered(TMessage(Store("PM.Missing"), 1, NLS_DISK_FULL, "default %s", TagVar("C:"))),
            "Disk C: is full");
  EXPECT_EQ(Rendered(TMessage(Store("PM.Missing"), 1, 7, "Seven is %d", TagVar(7))), "Seven is 7");
  ASSERT_EQ(trace.Entries().size(), 2u); // the library's "LoadString Error", then the store's
  ExpectEntry(trace.Entries()[1], kMsgStrPM,
              {0x8, 126,
               "Could not find message (PM.Missing,7), TAccessError(Error getting message,"
               "x00000002,1), Using default message"});
  ExpectRaises([&] { TMessageStorePM twin(Store("PM.Missing"), TDll(english.c_str())); },
               {"TInvalidRequest", "Duplicate Message Store", 1, 1, "utility/MESSAGE", 598});
}

TEST_F(TMessageStorePMTest, GetMsgThrowsNothingWhenItsDiagnosticCannotBeMade) {
  if (kNoLibraryFreesSeenReason != nullptr) {
    GTEST_SKIP() << kNoLibraryFreesSeenReason;
  }
  const std::string english = kTests + "/English/nlstest" + kSuffix;
  TRecording trace;
  trace.SetLevel(0x8); // the store's diagnostic, not the library's own
  TMessageStorePM store(Store("PM.NoMemory"), TDll(english.c_str()));
  // The diagnostic of a missing message has six arguments, which take one heap array.
  gFailingSize = 6 * sizeof(TagVar);
  std::unique_ptr<TString> text;
  EXPECT_NO_THROW(text.reset(store.GetMsg(1, 7)));
  EXPECT_EQ(gFailingSize.exchange(0), 0u); // else the allocation aimed at no longer happens
  EXPECT_EQ(text, nullptr);
  EXPECT_TRUE(trace.Entries().empty()); // the entry is lost, not thrown
}

TEST_F(TMessageStorePMTest, ALibraryNotFoundOrNotLoadedIsTracedNotThrown) {
  UseRootAsProgramDirectory();
  const std::string bad = Touch("bad" + kSuffix, "not a shared object");
  TSearchNLSPath::SetLang("Klingon");
  TRecording trace;
  trace.SetLevel(0x8);
  const TMessageStorePM missing(Store("PM.NotFound"), "nosuch");
  const TMessageStorePM broken(Store("PM.Broken"), "bad");
  ASSERT_EQ(trace.Entries().size(), 2u);
  ExpectEntry(trace.Entries()[0], kMsgStrPM,
              {0x8, 66,
               "For message store PM.NotFound, could not find DLL nosuch, TAccessError(Unable "
               "to find file nosuch,1,1), Using C locale"});
  const std::string loadFailed = Rendered(trace.Entries()[1].message);
  const std::string prefix = "For message store PM.Broken, could not load DLL bad, TAccessError("
                             "Unable to find or open " +
                             bad + ", GetLastError=";
  EXPECT_EQ(loadFailed.compare(0, prefix.size(), prefix), 0) << loadFailed;
  EXPECT_EQ(loadFailed.substr(loadFailed.size() - 22), "),1,1), Using C locale");
  EXPECT_EQ(trace.Entries()[1].message.QueryLine(), 84u);
  EXPECT_EQ(Rendered(TMessage(Store("PM.Broken"), 1, 1, "default")), "default");
}

// Stores come and go on every thread while the language changes and a shared store serves
// present and missing messages to all of them: the settings and the store's names are never
// shared between threads by handle.
TEST_F(TMessageStorePMThreaded, StoresRenderWhileTheLanguageChanges) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 100;
  TSearchNLSPath::SetLang("English");
  const TMessageStorePM shared(Store("PM.Shared"), "nlstest");
  TRecording trace;
  trace.SetLevel(0x8);
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      const std::string own = "PM.Thread." + std::to_string(t);
      for (int round = 0; round < kRounds; ++round) {
        const TMessageStorePM store(Store(own), "nlstest");
        const std::string full =
            Rendered(TMessage(Store(own), 1, NLS_DISK_FULL, "Default %s", TagVar("C:")));
        wrong += full != "Disk C: is full" && full != "Datentr\xC3\xA4ger C: ist voll";
        wrong += Rendered(TMessage(Store("PM.Shared"), 1, NLS_DISK_FULL, "", TagVar("C:"))) !=
                 "Disk C: is full";
        wrong += Rendered(TMessage(Store("PM.Shared"), 1, 7, "Seven")) != "Seven";
      }
    });
  }
  for (int round = 0; round < kRounds; ++round) {
    TSearchNLSPath::SetLang(round % 2 == 0 ? "German" : "English");
    wrong += TSearchNLSPath::QueryLang().length() == 0;
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(trace.State().written.load(), kThreads * kRounds); // one per missing message
}

} // namespace
