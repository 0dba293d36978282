// tests/tdll_test.cpp: TDll loading libraries and reading their string resources.
// Licensed under the Apache License, Version 2.0.
#include <tavutil/tdll.h>

#include "catalogues/nlstest.h"
#include "helpers/trace_entry.h"
#include "library_error.h"
#include "nls_settings.h"
#include "test_platform.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

const std::string kEnglish = kTests + "/English/nlstest" + kSuffix;

TEST(TDll, ReadsStringResourcesAsUnicodeUpToTheirLimit) {
  const TDll library(kEnglish.c_str());
  EXPECT_TRUE(library.isOpen());
  EXPECT_EQ(Units(library.loadMessage(NLS_DISK_FULL)), u"Disk %s is full");
  // Characters beyond the BMP come back as surrogate pairs.
  EXPECT_EQ(Units(library.loadMessage(NLS_BEYOND_BMP)),
            u"Clef \U0001D11E, grin \U0001F600, \u00e9t\u00e9");
  // 256 units read whole; 257 are cut to 256, or to 255 rather than split a surrogate pair.
  EXPECT_EQ(Units(library.loadMessage(NLS_LONGEST)), std::u16string(254, u'L') + u"<>");
  EXPECT_EQ(Units(library.loadMessage(NLS_TOO_LONG)), std::u16string(255, u'T') + u"<");
  EXPECT_EQ(Units(library.loadMessage(NLS_PAIR_AT_CUT)), std::u16string(255, u'P'));
  // A copy, and a wrap of the same handle, read the same library.
  const TDll copy = library; // NOLINT(performance-unnecessary-copy-initialization)
  EXPECT_EQ(copy.GetHandle(), library.GetHandle());
  EXPECT_EQ(Units(TDll(library.GetHandle()).loadMessage(NLS_COPIED)), u"%2$s copied %1$d files");
}

TEST(TDll, AMissingStringIsTracedThenThrown) {
  TRecording trace;
  const TDll library(kEnglish.c_str());
  ExpectRaises([&] { static_cast<void>(library.loadMessage(7)); },
               {"TAccessError", "Error getting message", 2, 1, "utility/TDLL", 103});
  const TraceSource tdll{TUtilityTraceCategory::String, "utility/TDLL"};
  ExpectEntries(trace, tdll,
                {{0x4, 101,
                  "LoadString Error " + std::to_string(kNoSuchStringError) +
                      " getting message 7 from file " + kEnglish}});

  // A library without a string table, and a null handle, have no strings either.
  void* const plain = LoadLibraryWithoutStrings();
  ASSERT_NE(plain, nullptr);
  for (void* handle : {plain, static_cast<void*>(nullptr)}) {
    ExpectRaises([&] { static_cast<void>(TDll(handle).loadMessage(1)); },
                 {"TAccessError", "Error getting message", 2, 1, "utility/TDLL", 103});
  }
  ASSERT_EQ(trace.Entries().size(), 3u);
  ExpectEntry(trace.Entries()[1], tdll,
              {0x4, 101,
               "LoadString Error " + std::to_string(kNoStringTableError) +
                   " getting message 1 from file (null)"});
}

TEST(TDll, ALibraryThatCannotBeLoadedThrowsWithTheSystemsCode) {
  // A missing path, a name the system search does not find, and a file that is no library.
  for (const std::string& name : {std::string("/nonexistent/nlstest") + TAVUTIL_TEST_LIBRARY_SUFFIX,
                                  std::string("no-such-library") + TAVUTIL_TEST_LIBRARY_SUFFIX,
                                  std::string(TAVUTIL_TEST_DATA_DIR) + "/binstream_host.bin"}) {
    const char* const file = name.c_str();
    try {
      const TDll library(file);
      ADD_FAILURE() << file << " loaded";
    } catch (const TAccessError& e) {
      // The code is shown in decimal, then (positional argument 2) in hex.
      const std::string prefix = std::string("Unable to find or open ") + file + ", GetLastError=";
      const std::string text = e.text(0);
      ASSERT_EQ(text.compare(0, prefix.size(), prefix), 0) << text;
      char* hex = nullptr;
      const unsigned long code = std::strtoul(text.c_str() + prefix.size(), &hex, 10);
      EXPECT_EQ(std::strtoul(hex + 2, nullptr, 16), code) << text;
      char tail[16];
      std::snprintf(tail, sizeof tail, "(x%08lX)", code);
      EXPECT_STREQ(hex, tail);
      ExpectLibraryError(e, {"TAccessError", text.c_str(), 1, 1, "utility/TDLL", 60});
    }
  }
}

} // namespace
