// tests/nlsresrc_test.cpp: the language search path, TSearchNLSPath and TNLSResourceDll.
// Licensed under the Apache License, Version 2.0.
#include <tavutil/nlsresrc.h>

#include "catalogues/nlstest.h"
#include "helpers/trace_entry.h"
#include "library_error.h"
#include "nls_settings.h"
#include "run_program.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

/// Where the search's diagnostics come from.
const TraceSource kNlsResource{TUtilityTraceCategory::NLSResource, "utility/NLSRESRC"};

/// Searches along the path for one language.
class TSearchNLSPathTest : public TNlsSettingsTest {
protected:
  static std::string Find(const char* name, const char* lang) {
    TSearchNLSPath search(name);
    const char* found = search.FindFile(TString(lang));
    return found != nullptr ? found : "(none)";
  }
};

TEST_F(TSearchNLSPathTest, TriesEachElementInOrderWithTheCodeSetFormFirst) {
  UseRootAsProgramDirectory();
  // Every candidate exists as a file, and each round takes the first one away.
  const std::vector<std::string> candidates = {Touch("de_DE/1252/msgs" + kSuffix),
                                               Touch("de_DE.1252/msgs" + kSuffix),
                                               Touch("msgs" + kSuffix)};
  for (const std::string& expected : candidates) {
    EXPECT_EQ(Find("msgs", "de_DE.1252"), expected);
    fs::remove(expected);
  }
  EXPECT_EQ(Find("msgs", "de_DE.1252"), "(none)");
  // A language without a code set has one form; a base name with a '.' gets no suffix.
  EXPECT_EQ(Find("msgs", "de"), "(none)");
  EXPECT_EQ(Find("msgs.res", "de"), "(none)");
  const std::string german = Touch("de/msgs.res");
  EXPECT_EQ(Find("msgs.res", "de"), german);
  // A directory where a candidate is expected is passed over.
  fs::create_directories(fRoot + "/fr/msgs" + kSuffix);
  const std::string beside = Touch("msgs" + kSuffix);
  EXPECT_EQ(Find("msgs", "fr"), beside);
}

TEST_F(TSearchNLSPathTest, TracesTheSearchAndKeepsThePathItFound) {
  UseRootAsProgramDirectory();
  const std::string found = Touch("en/msgs" + kSuffix);
  TRecording trace;
  trace.SetLevel(0x10);
  TSearchNLSPath search("msgs");
  EXPECT_EQ(search.FindFile(TString("xx")), nullptr);
  EXPECT_STREQ(search.FindFile(TString("en")), found.c_str());
  ExpectEntries(trace, kNlsResource,
                {{0x10, 219,
                  "Unable to find file msgs" + kSuffix + " with LANG xx in path " +
                      Bytes(TSearchNLSPath::fsNLSpath)},
                 {0x10, 214, "Found file " + found}});

  // The found path is kept: no more searching, even for another language or a file that went.
  fs::remove(found);
  EXPECT_STREQ(search.FindFile(), found.c_str());
  EXPECT_STREQ(search.FindFile(TString("xx")), found.c_str());
  EXPECT_STREQ(search.FindInPath(), found.c_str());
  EXPECT_EQ(trace.Entries().size(), 2u);
  // Copies own their copy of it.
  TSearchNLSPath copy("other");
  copy = search;
  const TSearchNLSPath constructed(search);
  search = TSearchNLSPath("msgs");
  EXPECT_STREQ(static_cast<char*>(copy), found.c_str());
  EXPECT_STREQ(TSearchNLSPath(constructed).FindFile(), found.c_str());
}

TEST_F(TSearchNLSPathTest, TheDefaultPathLooksBesideTheProgram) {
  // The test catalogues lie in <test binary dir>/<language>/nlstest<suffix>.
  TSearchNLSPath::SetLang("German");
  EXPECT_EQ(TSearchNLSPath("nlstest").FindFile(), kTests + "/German/nlstest" + kSuffix);
  // "C" falls back to "English", and says so.
  TSearchNLSPath::SetLang(nullptr);
  EXPECT_EQ(Bytes(TSearchNLSPath::QueryLang()), "C");
  TRecording trace;
  trace.SetLevel(0x10);
  EXPECT_EQ(TSearchNLSPath("nlstest").FindFile(), kTests + "/English/nlstest" + kSuffix);
  ASSERT_EQ(trace.Entries().size(), 3u);
  ExpectEntry(trace.Entries()[1], kNlsResource,
              {0x10, 120, "Locale is C, trying locale English to find file nlstest"});
}

TEST_F(TSearchNLSPathTest, NothingFoundThrowsAfterTheSystemSearch) {
  UseRootAsProgramDirectory();
  TSearchNLSPath::SetLang("Klingon");
  ExpectRaises([] { TSearchNLSPath("nosuch").FindFile(); },
               {"TAccessError", "Unable to find file nosuch", 1, 1, "utility/NLSRESRC", 131});
  ExpectRaises([] { TNLSResourceDll library("nosuch"); },
               {"TAccessError", "Unable to find file nosuch", 1, 1, "utility/NLSRESRC", 131});
}

// Run in a child whose library search path (LD_LIBRARY_PATH, PATH on Windows) holds the German
// catalogue's directory.
TEST_F(TSearchNLSPathTest, CFallsBackToEnglishThenToTheSystemSearch) {
  if (std::getenv("NLSRESRC_TEST_CHILD") != nullptr) {
    UseRootAsProgramDirectory(); // neither C nor English is found along the path
    TSearchNLSPath::SetLang("C");
    TSearchNLSPath search("nlstest");
    EXPECT_EQ(search.FindFile(), kTests + "/German/nlstest" + kSuffix);
    EXPECT_EQ(search.FindInPath(), search.FindFile());
    return;
  }
  const ProgramResult child = RunProgram(
      {kTests + "/nlsresrc_test" TAVUTIL_TEST_EXECUTABLE_SUFFIX,
       "--gtest_filter=TSearchNLSPathTest.CFallsBackToEnglishThenToTheSystemSearch"},
      {"NLSRESRC_TEST_CHILD=1", TAVUTIL_TEST_LIBRARY_PATH_VARIABLE "=" + kTests + "/German"});
  EXPECT_EQ(child.status, 0) << child.output;
  EXPECT_NE(child.output.find("[  PASSED  ] 1 test"), std::string::npos) << child.output;
}

TEST_F(TSearchNLSPathTest, SettingsChangeThroughTheStaticMembers) {
  TSearchNLSPath::fsNLSpath = TString("%E\\%L\\%N;%E\\%N;");
  TSearchNLSPath::AddNLSpath("D:\\x\\%N");
  TSearchNLSPath::AddNLSpath(nullptr);
  EXPECT_EQ(Bytes(TSearchNLSPath::fsNLSpath), "D:\\x\\%N;%E\\%L\\%N;%E\\%N;");
  TSearchNLSPath::SetLang("de_DE.1252");
  TString lang = TSearchNLSPath::QueryLang();
  lang[1] = 'X'; // a copy: writing into it leaves the setting alone
  EXPECT_EQ(Bytes(TSearchNLSPath::QueryLang()), "de_DE.1252");
  EXPECT_EQ(Bytes(TSearchNLSPath::fsDefaultLocale), "English");
  EXPECT_EQ(Bytes(TSearchNLSPath::fsLang_C), "C");
}

TEST_F(TSearchNLSPathTest, AResourceLibraryOfTheCurrentLanguageLoads) {
  TSearchNLSPath::SetLang("German");
  const TNLSResourceDll german("nlstest");
  EXPECT_EQ(Units(german.loadMessage(NLS_DISK_FULL)), u"Datentr\u00e4ger %s ist voll");
}

} // namespace
