// tests/tagvar_test.cpp: TagVar construction, ownership, copying, assignment and accessors.
// Licensed under the Apache License, Version 2.0.
#include <tavutil/exception.h>
#include <tavutil/tagvar.h>

#include "library_error.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

const auto kUnknown = static_cast<TagVar::Type>(42);

/// Expects `call` to raise the tagged-value error with this text, id, severity and line.
void ExpectError(const std::function<void()>& call, const char* text, unsigned long id,
                 int recoverable, unsigned long line) {
  ExpectRaises(call, {"TInvalidRequest", text, id, recoverable, "utility/TAGVAR", line});
}

/// Whether `s` is the only handle on its buffer: lowerCase (of lower-case text) then writes in
/// place instead of moving to a copy.
bool SoleHolder(TString& s) {
  const char* before = s;
  s.lowerCase();
  return static_cast<const char*>(s) == before;
}

std::string Text(const TString* s) {
  return s == nullptr ? "<null>" : s->length() == 0 ? "<none>" : std::string(*s, s->length());
}

/// The tag and the payload's value, as text.
std::string Describe(const TagVar& v) {
  const std::string tag = std::to_string(v.QueryType()) + ":";
  switch (v.QueryType()) {
  case TagVar::integer:
    return tag + std::to_string(static_cast<long>(v));
  case TagVar::unsignedInteger:
    return tag + std::to_string(static_cast<unsigned long>(v));
  case TagVar::real:
    return tag + std::to_string(static_cast<double>(v));
  case TagVar::string:
  case TagVar::wideString:
    return tag + Text(v.QueryString());
  case TagVar::datetime:
    return tag + std::to_string(v.QueryDateTime()->QueryTime()) + "/" +
           std::to_string(v.QueryDateTime()->QueryTimeZone());
  case TagVar::voidptr:
    return tag + std::to_string(reinterpret_cast<std::uintptr_t>(v.QueryVoidPtr()));
  default:
    return tag;
  }
}

/// One value of every type, with owned payloads where the type has them.
std::vector<TagVar> Samples(void* target) {
  return {TagVar(),
          TagVar(TagVar::endOfArgs),
          TagVar(3),
          TagVar(4u),
          TagVar(0.5),
          TagVar("narrow"),
          TagVar(u"wide"),
          TagVar(TDate()),
          TagVar(TTime()),
          TagVar(TDateTime(99, 1)),
          TagVar(TagVarVoidPtr(target)),
          TagVar(TagVar::string)}; // the last: an owning type with a null payload
}

TEST(TagVar, NumbersKeepThirtyTwoBitsAndTypedValuesStartAtZero) {
  EXPECT_EQ(Describe(TagVar(TagVar::integer)), "2:0");
  EXPECT_EQ(Describe(TagVar(TagVar::real)), "4:0.000000");
  EXPECT_EQ(TagVar(TagVar::voidptr).QueryVoidPtr(), nullptr);
  EXPECT_EQ(Describe(TagVar(static_cast<short>(-1))), "2:-1");
  EXPECT_EQ(Describe(TagVar(static_cast<unsigned short>(0xFFFF))), "3:65535");
  EXPECT_EQ(Describe(TagVar(4000000000ul)), "3:4000000000");
  if constexpr (sizeof(long) > 4) {
    // A wider long keeps its low 32 bits, read back as a signed 32-bit value.
    EXPECT_EQ(Describe(TagVar(static_cast<long>((1LL << 32) + 5))), "2:5");
    EXPECT_EQ(Describe(TagVar(static_cast<long>((1LL << 33) - 1))), "2:-1");
    EXPECT_EQ(Describe(TagVar(static_cast<unsigned long>((1ULL << 32) + 7))), "3:7");
  }
}

TEST(TagVar, StringsAreOwnedCopiesOrSharedBuffers) {
  char source[] = "abc";
  const TagVar copied(source);
  source[0] = 'X';
  EXPECT_EQ(Describe(copied), "5:abc");
  const unsigned char bytes[] = "xyz";
  EXPECT_EQ(Describe(TagVar(bytes)), "5:xyz");
  // A null text gives a string payload without buffer, not a null payload.
  EXPECT_EQ(Describe(TagVar(static_cast<const char*>(nullptr))), "5:<none>");
  EXPECT_EQ(Describe(TagVar(static_cast<const _Wchar_t*>(nullptr))), "6:<none>");

  const TagVar wide(u"hi");
  EXPECT_TRUE(wide.IsWideString());
  EXPECT_FALSE(wide.IsString());
  EXPECT_TRUE(wide.QueryString()->IsUnicode());
  ASSERT_EQ(wide.QueryString()->length(), 4u);
  EXPECT_EQ(std::memcmp(static_cast<char*>(*wide.QueryString()), u"hi", 6), 0);

  // A TString is shared, and its unicode flag picks the tag.
  TString shared("text");
  {
    const TagVar holder(shared);
    EXPECT_EQ(static_cast<char*>(*holder.QueryString()), static_cast<char*>(shared));
    const TString* viaOperator = holder;
    EXPECT_EQ(viaOperator, holder.QueryString());
  }
  EXPECT_TRUE(SoleHolder(shared)); // the TagVar gave its share back
  EXPECT_TRUE(TagVar(TString(u"w")).IsWideString());
}

TEST(TagVar, CopiesOwnTheirPayloadsAndShareOnlyBuffersAndTargets) {
  TString text("shared");
  auto original = std::make_unique<TagVar>(text);
  const TagVar copy(*original);
  EXPECT_NE(copy.QueryString(), original->QueryString());
  EXPECT_EQ(static_cast<char*>(*copy.QueryString()), static_cast<char*>(text));
  original.reset();
  EXPECT_EQ(Describe(copy), "5:shared"); // the copy's payload outlives the original

  const TDateTime moment(1234, -60);
  auto when = std::make_unique<TagVar>(moment);
  EXPECT_NE(when->QueryDateTime(), &moment);
  const TagVar whenCopy(*when);
  EXPECT_NE(whenCopy.QueryDateTime(), when->QueryDateTime());
  when.reset();
  EXPECT_EQ(Describe(whenCopy), "9:1234/-60");

  // Null payloads (of values made from a tag alone) stay null.
  EXPECT_EQ(TagVar(TagVar(TagVar::wideString)).QueryString(), nullptr);
  EXPECT_EQ(TagVar(TagVar(TagVar::datetime)).QueryDateTime(), nullptr);

  // A voidptr target is carried by both copies and deleted by neither.
  auto target = std::make_unique<int>(17);
  {
    const TagVar pointer(TagVarVoidPtr(target.get()));
    TagVar pointerCopy(pointer);
    EXPECT_EQ(pointerCopy.QueryVoidPtr(), target.get());
    pointerCopy = 1;
  }
  EXPECT_EQ(*target, 17);
}

TEST(TagVar, AssignmentOverEveryTypeReleasesTheOldPayload) {
  // Owned payloads are distinct objects; the sanitizers see any payload that is shared,
  // released twice or left behind.
  int target = 0;
  const std::vector<TagVar> samples = Samples(&target);
  const unsigned char bytes[] = "bytes";
  for (const TagVar& before : samples) {
    for (const TagVar& after : samples) {
      TagVar value(before);
      value = after;
      EXPECT_EQ(Describe(value), Describe(after));
    }
    // A plain value is stored as its constructor stores it.
    const auto check = [&before](auto plain) {
      TagVar value(before);
      value = plain;
      EXPECT_EQ(Describe(value), Describe(TagVar(plain)));
    };
    check(6);
    check(7L);
    check(static_cast<short>(-2));
    check(5u);
    check(8ul);
    check(static_cast<unsigned short>(9));
    check(1.5);
    check("plain");
    check(bytes);
    check(u"w");
    check(TString("shared"));
    check(TDate());
    check(TTime());
    check(TDateTime(5, 0));
  }

  TString text("old");
  TagVar value(text);
  value = 1;
  EXPECT_TRUE(SoleHolder(text));
  value = text;
  value = TagVar(2.0);
  EXPECT_TRUE(SoleHolder(text));
}

TEST(TagVar, SelfAssignmentAndSelfReferenceKeepTheValue) {
  int target = 0;
  for (TagVar& value : Samples(&target)) {
    const std::string expected = Describe(value);
    const TString* payload = value.IsString() ? value.QueryString() : nullptr;
    TagVar& self = value;
    value = self;
    EXPECT_EQ(Describe(value), expected);
    if (payload != nullptr) {
      EXPECT_EQ(value.QueryString(), payload); // nothing was released or remade
    }
  }

  // Arguments that live inside the value's own payload.
  TagVar text("mine");
  text = *text.QueryString();
  text = static_cast<const char*>(*text.QueryString());
  EXPECT_EQ(Describe(text), "5:mine");
  TagVar when(TDateTime(77, 7));
  when = *when.QueryDateTime();
  EXPECT_EQ(Describe(when), "9:77/7");
}

TEST(TagVar, StrictAccessorsRefuseEveryOtherTag) {
  using Call = std::function<void(const TagVar&)>;
  const struct {
    Call call;
    TagVar::Type accepted;
    TagVar::Type alsoAccepted;
    unsigned long line;
  } accessors[] = {
      {[](const TagVar& v) { (void)v.QueryString(); }, TagVar::string, TagVar::wideString, 2203},
      {[](const TagVar& v) { (void)static_cast<const TString*>(v); }, TagVar::string,
       TagVar::wideString, 2203},
      {[](const TagVar& v) { (void)v.QueryDateTime(); }, TagVar::datetime, TagVar::datetime, 2213},
      {[](const TagVar& v) { (void)static_cast<long>(v); }, TagVar::integer, TagVar::integer, 2223},
      {[](const TagVar& v) { (void)static_cast<unsigned long>(v); }, TagVar::unsignedInteger,
       TagVar::unsignedInteger, 2233},
      {[](const TagVar& v) { (void)static_cast<double>(v); }, TagVar::real, TagVar::real, 2243},
      {[](const TagVar& v) { (void)v.QueryVoidPtr(); }, TagVar::voidptr, TagVar::voidptr, 2253},
  };
  for (const auto& accessor : accessors) {
    for (int tag = TagVar::nil; tag <= TagVar::voidptr + 1; ++tag) {
      // The tag after voidptr is an unknown one, refused by every accessor.
      const auto type = static_cast<TagVar::Type>(tag);
      SCOPED_TRACE("line " + std::to_string(accessor.line) + ", tag " + std::to_string(tag));
      const TagVar value(type);
      if (type == accessor.accepted || type == accessor.alsoAccepted) {
        EXPECT_NO_THROW(accessor.call(value));
      } else {
        ExpectError([&] { accessor.call(value); }, "type mismatch", 2, 1, accessor.line);
      }
    }
  }
}

TEST(TagVar, UnknownTagsCannotBeCopied) {
  const TagVar unknown(kUnknown);
  ExpectError([&] { TagVar copy(unknown); }, "unknown type", 3, 0, 78);

  TString text("held");
  TagVar target(text);
  ExpectError([&] { target = unknown; }, "unknown type", 3, 0, 130);
  // The old payload went first and the tag was copied before the throw.
  EXPECT_EQ(target.QueryType(), kUnknown);
  EXPECT_TRUE(SoleHolder(text));
  TagVar& self = target;
  EXPECT_NO_THROW(target = self);
}

} // namespace
