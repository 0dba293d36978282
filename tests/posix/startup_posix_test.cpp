// tests/posix/startup_posix_test.cpp: the library's static objects, as a program that loads the
// library with dlopen sees them come and go. Licensed under the Apache License, Version 2.0.
#include "run_program.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

/// The lines of `text` that start with `tag` and a space, without the tag.
std::vector<std::string> Lines(const std::string& text, const std::string& tag) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    // The standard library's stream initialisers (one per unit including <iostream>) are not
    // the library's objects; where they come in the order is the linker's business.
    if (line.compare(0, tag.size() + 1, tag + " ") == 0 &&
        line.find("object of std::") == std::string::npos) {
      lines.push_back(line.substr(tag.size() + 1));
    }
  }
  return lines;
}

TEST(LibraryStartup, StaticsAreBuiltInOrderAndDestroyedInReverseWhenTheLibraryUnloads) {
  const std::string tests = TAVUTIL_TEST_BINARY_DIR;
  const ProgramResult probe =
      RunProgram({tests + "/startup_probe", TAVUTIL_LIBRARY_FILE, tests + "/startup_inspector.so"},
                 {"LC_ALL=C.UTF-8"});
  ASSERT_EQ(probe.status, 0) << probe.output;

  // Every object with a destructor, in the order of construction. The locale guard has none.
  std::vector<std::string> built = {"TSearchNLSPath::fsDefaultLocale",
                                    "TSearchNLSPath::fsLang_C",
                                    "TSearchNLSPath::fsLang",
                                    "TSearchNLSPath::fsNLSpath",
                                    "object of TMessageArchive::~TMessageArchive()",
                                    "TMessage::fsEndOfArgs",
                                    "TFactoryLoaderBase::fsLibpath",
                                    "TTrace::Base::fsMutex",
                                    "*TTrace::Base::fsKnownCategories"};
  const std::vector<std::string> categories = {"TagVar", "NLSResource", "Message",  "Trace",
                                               "Queue",  "Utility",     "String",   "Factory",
                                               "CrtMsg", "MemStream",   "OleStream"};
  for (const std::string& category : categories) {
    built.push_back("TUtilityTraceCategory::" + category);
  }
  EXPECT_EQ(Lines(probe.output, "built"), built) << probe.output;
  EXPECT_EQ(Lines(probe.output, "destroyed"),
            std::vector<std::string>(built.rbegin(), built.rend()))
      << probe.output;
  EXPECT_EQ(Lines(probe.output, "unloaded"), std::vector<std::string>{"yes"});

  // Loading set the locale from the environment.
  EXPECT_EQ(Lines(probe.output, "locale"), (std::vector<std::string>{"C", "C.UTF-8"}));
  // The registry holds exactly the library's eleven categories, in order, found in any case.
  std::vector<std::string> registered;
  for (const std::string& category : categories) {
    registered.push_back("1 " + std::string(category == "CrtMsg" ? "CRTmsg" : category));
  }
  EXPECT_EQ(Lines(probe.output, "category"), registered);
  EXPECT_EQ(Lines(probe.output, "find"),
            (std::vector<std::string>{"CRTmsg CrtMsg", "crtmsg CrtMsg"}));
  EXPECT_EQ(Lines(probe.output, "lang"), std::vector<std::string>{"C"});
  EXPECT_EQ(Lines(probe.output, "nlspath"), std::vector<std::string>{"%E\\%L\\%N;%E\\%N;"});
}

} // namespace
