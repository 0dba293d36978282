// tests/library_error.h: checks that an exception carries what the library's throw convention
// puts into every error it raises.
// Licensed under the Apache License, Version 2.0.
#ifndef TAVUTIL_TESTS_LIBRARY_ERROR_H
#define TAVUTIL_TESTS_LIBRARY_ERROR_H

#include <tavutil/exception.h>

#include <gtest/gtest.h>

#include <functional>

/// The fields of one library error.
struct ExpectedError {
  const char* name; ///< class name, e.g. "TInvalidRequest"
  const char* text;
  unsigned long id;
  int recoverable;
  const char* file; ///< location file, e.g. "utility/TSTRING"
  unsigned long line;
};

/// One text, the id and severity, the group "Tessel Library" and exactly one location with an
/// empty function name.
inline void ExpectLibraryError(const TException& e, const ExpectedError& expected) {
  EXPECT_STREQ(e.name(), expected.name);
  ASSERT_EQ(e.textCount(), 1u);
  EXPECT_STREQ(e.text(0), expected.text);
  EXPECT_EQ(e.errorId(), expected.id);
  EXPECT_EQ(e.isRecoverable(), expected.recoverable);
  EXPECT_STREQ(e.errorCodeGroup(), "Tessel Library");
  ASSERT_EQ(e.locationCount(), 1u);
  EXPECT_STREQ(e.locationAtIndex(0)->fileName(), expected.file);
  EXPECT_STREQ(e.locationAtIndex(0)->functionName(), "");
  EXPECT_EQ(e.locationAtIndex(0)->lineNumber(), expected.line);
}

/// Runs `call` and expects it to raise exactly `expected`.
inline void ExpectRaises(const std::function<void()>& call, const ExpectedError& expected) {
  try {
    call();
    ADD_FAILURE() << "no exception, expected \"" << expected.text << "\" at " << expected.file
                  << " line " << expected.line;
  } catch (const TException& e) {
    ExpectLibraryError(e, expected);
  }
}

#endif // TAVUTIL_TESTS_LIBRARY_ERROR_H
