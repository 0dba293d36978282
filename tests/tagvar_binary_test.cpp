// tests/tagvar_binary_test.cpp: the TagVar binary form against golden bytes in both orders,
// what reading normalises, streams that fail within a value, and unknown tags.
// Licensed under the Apache License, Version 2.0.
//
// The golden files (tests/data/tagvar_*.bin) are made by tests/data/make_binforms_golden.py
// with Python's struct module.
#include <tavutil/binstream.h>
#include <tavutil/tagvar.h>

#include "binary_forms.h"
#include "library_error.h"
#include "tagvar_describe.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

void* Pointer(std::uintptr_t address) {
  return reinterpret_cast<void*>(address);
}

/// Whether `v` is a string or wideString whose TString exists but has no buffer.
bool StringWithoutBuffer(const TagVar& v) {
  const TString* s = v.QueryString();
  return s != nullptr && static_cast<const char*>(*s) == nullptr;
}

/// The values of the golden files, in order (kept in step with make_binforms_golden.py).
std::vector<TagVar> GoldenValues() {
  std::vector<TagVar> values;
  values.emplace_back();
  values.emplace_back(TagVar::endOfArgs);
  values.emplace_back(-2);
  values.emplace_back(0xDEADBEEFu);
  values.emplace_back(-0.1);
  values.emplace_back("hello");
  values.emplace_back(TAVUTIL_WTEXT("hi"));
  values.emplace_back(TagVar::string);                    // a null payload
  values.emplace_back(static_cast<const char*>(nullptr)); // a string without buffer
  values.emplace_back(TDate());
  values.emplace_back(TTime());
  values.emplace_back(TDateTime(946728000, -3600)); // the zone is not written
  values.emplace_back(TagVar::datetime);            // a null payload
  values.emplace_back(TagVarVoidPtr(Pointer(0x12345678)));
  return values;
}

TEST(TagVarBinary, GoldenBytesInBothOrders) {
  for (int order : {0, 1}) {
    SCOPED_TRACE(order);
    const std::string golden = GoldenFile("tagvar", order);
    std::ostringstream bytes;
    ToBinaryStream out(bytes, order);
    for (const TagVar& v : GoldenValues()) {
      EXPECT_EQ(&v.WriteToBinaryStream(out), &out);
    }
    EXPECT_TRUE(out.good());
    EXPECT_EQ(bytes.str(), golden);

    // Read back: the same values, except where the form carries less than the value.
    std::istringstream file(golden);
    TiBinaryStream in(file, order);
    std::vector<TagVar> values(GoldenValues().size(), TagVar("old"));
    std::vector<std::string> back;
    for (TagVar& v : values) {
      EXPECT_EQ(&v.ReadFromBinaryStream(in), &in);
      back.push_back(Describe(v));
    }
    ASSERT_TRUE(in.good());
    EXPECT_EQ(in.get(), EOF);
    const std::vector<std::string> expected = {"0:",
                                               "1:",
                                               "2:-2",
                                               "3:3735928559",
                                               "4:-0.10000000000000001",
                                               "5:hello",
                                               std::string("6:h\0i\0", 6),
                                               "5:<null>",
                                               "5:",
                                               "7:",
                                               "8:",
                                               "9:946728000/0",
                                               "9:<null>",
                                               "10:305419896"};
    EXPECT_EQ(back, expected);
    EXPECT_EQ(values[6].QueryString()->IsUnicode(), 0); // the unicode flag does not travel
    EXPECT_TRUE(StringWithoutBuffer(values[8]));
  }
}

TEST(TagVarBinary, ReadingKeepsOnlyWhatTheFormCarries) {
  const std::pair<TagVar, std::string> cases[] = {
      {TagVar(""), "5:"}, // a length of 0 gives a string without buffer
      {TagVar(TString("a\0b", 3)), std::string("5:a\0b", 5)},
      {TagVar(TDateTime(-1, 7200)), "9:-1/0"},
      {TagVar(TagVarVoidPtr()), "10:0"},
  };
  for (const auto& [value, expected] : cases) {
    for (int order : {0, 1}) {
      SCOPED_TRACE(expected + (order ? " network" : " host"));
      std::istringstream bytes(BinaryForm(value, order));
      TiBinaryStream in(bytes, order);
      TagVar back(TDateTime(5, 5)); // a payload that reading must release
      back.ReadFromBinaryStream(in);
      EXPECT_TRUE(in.good());
      EXPECT_EQ(Describe(back), expected);
    }
  }
  std::istringstream empty(BinaryForm(TagVar(""), 0));
  TiBinaryStream in(empty);
  TagVar back;
  back.ReadFromBinaryStream(in);
  EXPECT_TRUE(StringWithoutBuffer(back));

  if constexpr (sizeof(void*) > 4) {
    // Only the low 32 bits travel, and they read back zero-extended.
    const auto high = static_cast<std::uintptr_t>(0xFEDCBA9887654321ULL);
    const std::string bytes = BinaryForm(TagVar(TagVarVoidPtr(Pointer(high))), 1);
    EXPECT_EQ(bytes.substr(4), std::string("\x21\x43\x65\x87", 4));
    std::istringstream source(bytes);
    TiBinaryStream binary(source, 1);
    back.ReadFromBinaryStream(binary);
    EXPECT_EQ(back.QueryVoidPtr(), Pointer(0x87654321u));
  }
}

TEST(TagVarBinary, StreamCutWithinAValueKeepsWhatArrived) {
  // For each value: what the value holds after a read of the first k bytes of its form (the
  // tag's 4 bytes included); k below 4 always leaves nil.
  struct Case {
    const char* what;
    TagVar value;
    std::string (*after)(std::size_t k, int order);
  };
  const Case cases[] = {
      {"integer", TagVar(0x11223344),
       [](std::size_t k, int order) -> std::string {
         // Host order keeps zeros for the bytes that did not arrive (the low ones arrive
         // first); network order stores the arrived high bytes over zeros.
         const std::uint32_t host[] = {0, 0x44, 0x3344, 0x223344};
         const std::uint32_t network[] = {0, 0x11000000, 0x11220000, 0x11223300};
         return "2:" + std::to_string((order ? network : host)[k - 4]);
       }},
      {"string", TagVar("hello"),
       [](std::size_t k, int) -> std::string {
         return k < 8 ? "5:<null>" : "5:"; // after the presence word: a string without buffer
       }},
      {"datetime", TagVar(TDateTime(946728000, 0)),
       [](std::size_t, int) -> std::string { return "9:<null>"; }},
      {"voidptr", TagVar(TagVarVoidPtr(Pointer(0x12345678))),
       [](std::size_t k, int) -> std::string {
         const std::uint32_t raw[] = {0, 0x78, 0x5678, 0x345678}; // as they lie in memory
         return "10:" + std::to_string(raw[k - 4]);
       }},
  };
  for (const Case& c : cases) {
    for (int order : {0, 1}) {
      const std::string form = BinaryForm(c.value, order);
      for (std::size_t k = 0; k < form.size(); ++k) {
        SCOPED_TRACE(std::string(c.what) + (order ? " network, " : " host, ") + std::to_string(k) +
                     " bytes");
        std::istringstream bytes(form.substr(0, k));
        TiBinaryStream in(bytes, order);
        TagVar back("old");
        back.ReadFromBinaryStream(in);
        EXPECT_TRUE(in.fail());
        EXPECT_EQ(Describe(back), k < 4 ? "0:" : c.after(k, order));
        if (back.IsString() && k >= 8) {
          EXPECT_TRUE(StringWithoutBuffer(back));
        }
      }
    }
  }
}

TEST(TagVarBinary, UnknownTagsAreRefusedBothWays) {
  const ExpectedError writing = {"TInvalidRequest", "unknown type", 3, 0, "utility/TAGVAR", 2340};
  const ExpectedError reading = {"TInvalidRequest", "unknown type", 3, 0, "utility/TAGVAR", 2267};
  for (std::int32_t tag : {11, -1, 0x7FFFFFFF}) {
    SCOPED_TRACE(tag);
    // Writing raises after the tag is out.
    std::ostringstream bytes;
    ToBinaryStream out(bytes, 1);
    ExpectRaises([&] { TagVar(static_cast<TagVar::Type>(tag)).WriteToBinaryStream(out); }, writing);
    std::istringstream form(bytes.str() + "more");
    EXPECT_EQ(bytes.str().size(), 4u);

    // Reading raises with the value nil and only the tag consumed.
    TiBinaryStream in(form, 1);
    TagVar back("held");
    ExpectRaises([&] { back.ReadFromBinaryStream(in); }, reading);
    EXPECT_EQ(back.QueryType(), TagVar::nil);
    EXPECT_TRUE(in.good());
    EXPECT_EQ(in.tellg(), 4);
  }
}

} // namespace
