// tests/exception_test.cpp: the exception family, its rings, copies and the exception report.
// Licensed under the Apache License, Version 2.0.
#include <tavutil/exception.h>

#include "helpers/test_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> Texts(const TException& e) {
  std::vector<std::string> out;
  for (unsigned long i = 0; i < e.textCount(); ++i) {
    out.emplace_back(e.text(i));
  }
  return out;
}

std::string Report(const TException& e) {
  const TString report = TTraceException::FormatException(e);
  EXPECT_FALSE(report.IsUnicode());
  return Bytes(report);
}

TEST(TException, RingsKeepTheFiveNewestTextsNewestFirstAndLocationsOldestFirst) {
  TException e("t1", 1, TException::recoverable);
  static const char* const kFiles[] = {"f1", "f2", "f3", "f4", "f5", "f6"};
  for (unsigned long i = 0; i < 6; ++i) {
    e.appendText(("t" + std::to_string(i + 2)).c_str());
    e.addLocation(TExceptionLocation(kFiles[i], "fn", i + 1));
  }
  EXPECT_EQ(Texts(e), (std::vector<std::string>{"t7", "t6", "t5", "t4", "t3"}));
  ASSERT_EQ(e.locationCount(), 5u);
  for (unsigned long i = 0; i < 5; ++i) {
    EXPECT_STREQ(e.locationAtIndex(i)->fileName(), kFiles[i + 1]);
    EXPECT_EQ(e.locationAtIndex(i)->lineNumber(), i + 2);
  }
  EXPECT_EQ(e.locationAtIndex(5), nullptr);
  EXPECT_EQ(e.text(5), nullptr);

  // Only severity 1 is recoverable. Copies and assignments report the same content and share
  // the texts' buffers.
  e.setErrorCodeGroup("G").setErrorId(255).setSeverity(static_cast<TException::Severity>(2));
  EXPECT_EQ(e.isRecoverable(), 0);
  TException assigned("z", 1, TException::recoverable);
  assigned = e;
  const TException copy(assigned);
  EXPECT_EQ(Report(assigned), Report(e));
  EXPECT_EQ(Report(copy), Report(e));
  EXPECT_EQ(copy.text(0), e.text(0));

  e.setText("only");
  EXPECT_EQ(Texts(e), std::vector<std::string>{"only"});
  e.appendText("next");
  EXPECT_EQ(Texts(e), (std::vector<std::string>{"next", "only"}));
}

/// Expects Throw() through a base reference to reach a handler for H with the full type.
template <class H> void ExpectCaughtAs(const TException& e) {
  try {
    e.Throw();
  } catch (const H& caught) {
    EXPECT_STREQ(caught.name(), e.name());
    return;
  } catch (...) {
  }
  ADD_FAILURE() << e.name() << " was not caught as " << typeid(H).name();
}

/// Makes an E and checks its name and that its Throw() is caught as E and as each base.
template <class E, class... Bases> void ExpectFamilyMember(const char* name) {
  const E object("text", 4, TException::recoverable);
  const TException& base = object;
  EXPECT_STREQ(base.name(), name);
  ExpectCaughtAs<E>(base);
  (ExpectCaughtAs<Bases>(base), ...);
}

TEST(TException, ThrowKeepsTheDynamicTypeThroughABaseReference) {
  ExpectFamilyMember<TException>("TException");
  ExpectFamilyMember<TAccessError, TException>("TAccessError");
  ExpectFamilyMember<TAssertionFailure, TException>("TAssertionFailure");
  ExpectFamilyMember<TDeviceError, TException>("TDeviceError");
  ExpectFamilyMember<TInvalidParameter, TException>("TInvalidParameter");
  ExpectFamilyMember<TInvalidRequest, TException>("TInvalidRequest");
  ExpectFamilyMember<TResourceExhausted, TException>("TResourceExhausted");
  ExpectFamilyMember<TOutOfMemory, TResourceExhausted, TException>("TOutOfMemory");
  ExpectFamilyMember<TOutOfSystemResource, TResourceExhausted, TException>("TOutOfSystemResource");
  ExpectFamilyMember<TOutOfWindowResource, TResourceExhausted, TException>("TOutOfWindowResource");

  const TOutOfWindowResource sibling("w", 1, TException::recoverable);
  EXPECT_THROW(
      try { static_cast<const TException&>(sibling).Throw(); } catch (const TInvalidRequest&) {
        ADD_FAILURE() << "a resource error reached an invalid-request handler";
      },
      TResourceExhausted);
}

TEST(TTraceException, ReportListsTextsNewestFirstAndLocationsOldestFirst) {
  TException bare(nullptr, 255, static_cast<TException::Severity>(7)); // a text without buffer
  bare.appendText("b").appendText("c");                                // is left out
  EXPECT_EQ(Report(bare), "Exception TException, group unknown, error ID: 255 (xff), "
                          "unrecoverable\nwith the following text:\n  c\n  b\nat location:");

  TOutOfMemory full("t1", 0xABCDEF01, TException::recoverable);
  full.setErrorCodeGroup("Disk");
  for (const char* text : {"t2", "t3", "t4", "t5", "t6"}) {
    full.appendText(text);
  }
  full.addLocation(TExceptionLocation("dropped.cpp", "gone", 1));
  full.addLocation(TExceptionLocation("a.cpp", nullptr, 2));
  full.addLocation(TExceptionLocation("b.cpp", "", 3));
  full.addLocation(TExceptionLocation("c.cpp", "Copy", 4294967295ul));
  full.addLocation(TExceptionLocation(nullptr, "NoFile", 0));
  full.addLocation(TExceptionLocation("e.cpp", "Last", 6));
  EXPECT_EQ(Report(full), "Exception TOutOfMemory, group Disk, error ID: 2882400001 (xabcdef01), "
                          "recoverable\nwith the following text:\n  t6\n  t5\n  t4\n  t3\n  t2\n"
                          "at location:\n  [a.cpp, 2]\n  [b.cpp, 3] \n  [c.cpp, 4294967295] Copy\n"
                          "  [, 0] NoFile\n  [e.cpp, 6] Last");
  EXPECT_EQ(full.textCount(), 5u); // the report changed nothing
  EXPECT_EQ(full.locationCount(), 5u);
}

} // namespace
