// tests/binary_forms.h: golden byte files and binary forms, for the suites of the binary forms.
// Licensed under the Apache License, Version 2.0.
#ifndef TAVUTIL_TESTS_BINARY_FORMS_H
#define TAVUTIL_TESTS_BINARY_FORMS_H

#include <tavutil/binstream.h>

#include "helpers/test_text.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

/// The bytes of tests/data/<stem>_network.bin, or <stem>_host.bin when `network` is 0.
inline std::string GoldenFile(const std::string& stem, int network) {
  return FileContents(std::string(TAVUTIL_TEST_DATA_DIR "/") + stem +
                      (network ? "_network.bin" : "_host.bin"));
}

/// What `value.WriteToBinaryStream` writes in the given order (network when non-zero).
template <class T> std::string BinaryForm(const T& value, int network) {
  std::ostringstream bytes;
  ToBinaryStream out(bytes, network);
  EXPECT_EQ(&value.WriteToBinaryStream(out), &out);
  return bytes.str();
}

#endif // TAVUTIL_TESTS_BINARY_FORMS_H
