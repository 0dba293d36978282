// tests/tagvar_binary_test.cpp: the TagVar binary form against golden bytes in both orders,
// what reading normalises, streams that fail within a value, and unknown tags.
// Licensed under the Apache License, Version 2.0.
//
// The golden files (tests/data/tagvar_*.bin) are made by tests/data/make_binforms_golden.py
// with Python's struct module.
#include <tavutil/binstream.h>
#include <tavutil/tagvar.h>

#include "binary_forms.h"
#include "helpers/test_text.h"
#include "library_error.h"
#include "tagvar_describe.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <utility>

namespace {

void* Pointer(std::uintptr_t address) {
  return reinterpret_cast<void*>(address);
}

/// Whether `v` is a string or wideString whose TString exists but has no buffer.
bool StringWithoutBuffer(const TagVar& v) {
  const TString* s = v.QueryString();
  return s != nullptr && static_cast<const char*>(*s) == nullptr;
}

/// The values of the golden files, in order (kept in step with make_binforms_golden.py), and
/// how each reads back: the same, except where the form carries less than the value.
struct GoldenValue {
  TagVar value;
  std::string readBack;
};
const GoldenValue kGoldenValues[] = {
    {TagVar(), "0:"},
    {TagVar(TagVar::endOfArgs), "1:"},
    {TagVar(-2), "2:-2"},
    {TagVar(0xDEADBEEFu), "3:3735928559"},
    {TagVar(-0.1), "4:-0.10000000000000001"},
    {TagVar("hello"), "5:hello"},
    {TagVar(TAVUTIL_WTEXT("hi")), std::string("6:h\0i\0", 6)}, // the unicode flag does not travel
    {TagVar(TagVar::string), "5:<null>"},                      // a null payload
    {TagVar(static_cast<const char*>(nullptr)), "5:"},         // a string without buffer
    {TagVar(TDate()), "7:"},
    {TagVar(TTime()), "8:"},
    {TagVar(TDateTime(946728000, -3600)), "9:946728000/0"}, // the zone is not written
    {TagVar(TagVar::datetime), "9:<null>"},                 // a null payload
    {TagVar(TagVarVoidPtr(Pointer(0x12345678))), "10:305419896"},
};

TEST(TagVarBinary, GoldenBytesInBothOrders) {
  for (int order : {0, 1}) {
    const std::string golden = GoldenFile("tagvar", order);
    std::ostringstream bytes;
    ToBinaryStream out(bytes, order);
    for (const GoldenValue& v : kGoldenValues) {
      EXPECT_EQ(&v.value.WriteToBinaryStream(out), &out);
    }
    EXPECT_TRUE(out.good());
    EXPECT_EQ(bytes.str(), golden) << "order " << order;

    std::istringstream file(golden);
    TiBinaryStream in(file, order);
    for (const GoldenValue& v : kGoldenValues) {
      SCOPED_TRACE(v.readBack + (order ? " network" : " host"));
      TagVar back("old");
      EXPECT_EQ(&back.ReadFromBinaryStream(in), &in);
      EXPECT_EQ(Describe(back), v.readBack);
      const TString* text = back.IsString() || back.IsWideString() ? back.QueryString() : nullptr;
      EXPECT_FALSE(text != nullptr && text->IsUnicode());
      EXPECT_EQ(text != nullptr && Bytes(*text) == "<none>", v.readBack == "5:");
    }
    ASSERT_TRUE(in.good());
    EXPECT_EQ(in.get(), EOF);
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
