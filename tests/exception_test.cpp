// tests/exception_test.cpp: the exception family, its rings and the throw convention.
// Licensed under the Apache License, Version 2.0.
#include <tavutil/exception.h>

#include "internal/raise.h"

#include "library_error.h"

#include <gtest/gtest.h>

#include <functional>
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

TEST(TException, NewExceptionHoldsOneTextAndNothingElse) {
  const TException e("first", 7, TException::recoverable);
  EXPECT_EQ(e.textCount(), 1u);
  EXPECT_STREQ(e.text(0), "first");
  EXPECT_EQ(e.text(1), nullptr);
  EXPECT_EQ(e.locationCount(), 0u);
  EXPECT_EQ(e.locationAtIndex(0), nullptr);
  EXPECT_EQ(e.errorCodeGroup(), nullptr);
  EXPECT_EQ(e.errorId(), 7u);
  EXPECT_STREQ(e.name(), "TException");
}

TEST(TException, TextRingKeepsTheFiveNewestNewestFirst) {
  TException e("t1", 1, TException::recoverable);
  for (const char* t : {"t2", "t3", "t4", "t5", "t6", "t7"}) {
    e.appendText(t);
  }
  EXPECT_EQ(Texts(e), (std::vector<std::string>{"t7", "t6", "t5", "t4", "t3"}));
  EXPECT_EQ(e.text(5), nullptr);

  e.setText("only");
  EXPECT_EQ(Texts(e), std::vector<std::string>{"only"});
  e.appendText("next");
  EXPECT_EQ(Texts(e), (std::vector<std::string>{"next", "only"}));
}

TEST(TException, LocationRingKeepsTheFiveNewestOldestFirst) {
  TException e("t", 1, TException::recoverable);
  static const char* const kFiles[] = {"f1", "f2", "f3", "f4", "f5", "f6", "f7"};
  for (unsigned long i = 0; i < 6; ++i) {
    e.addLocation(TExceptionLocation(kFiles[i], "fn", i + 1));
  }
  ASSERT_EQ(e.locationCount(), 5u);
  for (unsigned long i = 0; i < 5; ++i) {
    const TExceptionLocation* where = e.locationAtIndex(i);
    ASSERT_NE(where, nullptr);
    EXPECT_STREQ(where->fileName(), kFiles[i + 1]);
    EXPECT_EQ(where->lineNumber(), i + 2);
    EXPECT_STREQ(where->functionName(), "fn");
  }
  EXPECT_EQ(e.locationAtIndex(5), nullptr);
  e.addLocation(TExceptionLocation(kFiles[6], nullptr, 99));
  EXPECT_STREQ(e.locationAtIndex(0)->fileName(), "f3");
  EXPECT_EQ(e.locationAtIndex(4)->functionName(), nullptr);
}

TEST(TException, DefaultLocationIsAllZero) {
  const TExceptionLocation where;
  EXPECT_EQ(where.fileName(), nullptr);
  EXPECT_EQ(where.functionName(), nullptr);
  EXPECT_EQ(where.lineNumber(), 0u);
}

TEST(TException, OnlySeverityOneIsRecoverable) {
  TException e("t", 1, TException::recoverable);
  EXPECT_EQ(e.isRecoverable(), 1);
  EXPECT_EQ(e.setSeverity(TException::unrecoverable).isRecoverable(), 0);
  EXPECT_EQ(e.setSeverity(static_cast<TException::Severity>(2)).isRecoverable(), 0);
}

TEST(TException, CopyReportsTheSameContentAndSharesTexts) {
  TException e("a", 3, TException::unrecoverable);
  e.appendText("b").appendText("c").setErrorCodeGroup("G").setErrorId(255);
  e.addLocation(TExceptionLocation("x", "", 1)).addLocation(TExceptionLocation("y", "f", 2));

  const TException copy(e);
  EXPECT_EQ(Texts(copy), Texts(e));
  EXPECT_EQ(copy.text(0), e.text(0)); // TString copies share their buffers
  EXPECT_STREQ(copy.errorCodeGroup(), "G");
  EXPECT_EQ(copy.errorId(), 255u);
  EXPECT_EQ(copy.isRecoverable(), 0);
  ASSERT_EQ(copy.locationCount(), 2u);
  EXPECT_STREQ(copy.locationAtIndex(1)->fileName(), "y");
  EXPECT_EQ(copy.locationAtIndex(1)->lineNumber(), 2u);

  TException assigned("z", 1, TException::recoverable);
  assigned = e;
  EXPECT_EQ(Texts(assigned), Texts(e));
  EXPECT_EQ(assigned.locationCount(), 2u);
}

/// One class of the family: how to make one, its name and a check that a handler for each of
/// its bases catches what Throw() throws.
struct FamilyMember {
  const char* name;
  std::function<void(const TException&)> expectCaughtByBases;
  std::function<TException*()> make;
};

template <class E> TException* Make() {
  return new E("text", 4, TException::recoverable);
}

template <class E, class... Bases> void ExpectCaught(const TException& e) {
  bool caught = false;
  try {
    e.Throw();
  } catch (const E& thrown) {
    caught = true;
    EXPECT_STREQ(thrown.name(), e.name());
    EXPECT_STREQ(thrown.text(0), "text");
  } catch (...) {
  }
  EXPECT_TRUE(caught) << e.name();
  if constexpr (sizeof...(Bases) > 0) {
    ExpectCaught<Bases...>(e);
  }
}

TEST(TException, ThrowKeepsTheDynamicTypeThroughABaseReference) {
  const std::vector<FamilyMember> family = {
      {"TException", ExpectCaught<TException>, Make<TException>},
      {"TAccessError", ExpectCaught<TAccessError, TException>, Make<TAccessError>},
      {"TAssertionFailure", ExpectCaught<TAssertionFailure, TException>, Make<TAssertionFailure>},
      {"TDeviceError", ExpectCaught<TDeviceError, TException>, Make<TDeviceError>},
      {"TInvalidParameter", ExpectCaught<TInvalidParameter, TException>, Make<TInvalidParameter>},
      {"TInvalidRequest", ExpectCaught<TInvalidRequest, TException>, Make<TInvalidRequest>},
      {"TResourceExhausted", ExpectCaught<TResourceExhausted, TException>,
       Make<TResourceExhausted>},
      {"TOutOfMemory", ExpectCaught<TOutOfMemory, TResourceExhausted, TException>,
       Make<TOutOfMemory>},
      {"TOutOfSystemResource", ExpectCaught<TOutOfSystemResource, TResourceExhausted, TException>,
       Make<TOutOfSystemResource>},
      {"TOutOfWindowResource", ExpectCaught<TOutOfWindowResource, TResourceExhausted, TException>,
       Make<TOutOfWindowResource>},
  };
  for (const FamilyMember& member : family) {
    const std::unique_ptr<TException> e(member.make());
    const TException& base = *e;
    EXPECT_STREQ(base.name(), member.name);
    member.expectCaughtByBases(base);
  }
}

TEST(TException, ThrowOfASiblingIsNotCaughtByAnotherBranch) {
  const TOutOfWindowResource e("w", 1, TException::recoverable);
  const TException& base = e;
  EXPECT_THROW(
      {
        try {
          base.Throw();
        } catch (const TInvalidRequest&) {
          FAIL() << "a resource error reached an invalid-request handler";
        }
      },
      TResourceExhausted);
}

TEST(TException, RaiseFollowsTheThrowConvention) {
  EXPECT_THROW(tavutil::detail::Raise<TInvalidParameter>("thrown by value", {"f", 1},
                                                         TUtilityTraceCategory::Utility),
               TInvalidParameter);
  ExpectRaises(
      [] {
        tavutil::detail::Raise<TInvalidParameter>("broken", {"utility/TEST", 42},
                                                  TUtilityTraceCategory::Utility, 9,
                                                  TException::unrecoverable);
      },
      {"TInvalidParameter", "broken", 9, 0, "utility/TEST", 42});
}

TEST(TException, TraceAndTheEmptyHooksChangeNothing) {
  TException e("t", 5, TException::recoverable);
  e.Trace(TUtilityTraceCategory::String);
  e.TraceRethrow(TUtilityTraceCategory::String);
  e.terminate();
  TException::assertParameter("ignored", TExceptionLocation("f", "g", 1));
  EXPECT_EQ(&e.logExceptionData(), &e);
  EXPECT_EQ(Texts(e), std::vector<std::string>{"t"});
  EXPECT_EQ(e.locationCount(), 0u);
  EXPECT_EQ(e.errorId(), 5u);
}

} // namespace
