// tests/tagvar_test.cpp: TagVar construction, ownership, copying, assignment and accessors.
// Licensed under the Apache License, Version 2.0.
#include <tavutil/tagvar.h>

#include "library_error.h"
#include "tagvar_describe.h"

#include <gtest/gtest.h>

#include <iomanip>
#include <memory>
#include <sstream>
#include <string>

namespace {

/// Whether `s` alone holds its buffer: lowerCase (of lower-case text) then works in place.
bool SoleHolder(TString& s) {
  const char* before = s;
  s.lowerCase();
  return static_cast<const char*>(s) == before;
}

/// Calls `f` with a value of every type TagVar is made from, and with TagVars of other tags.
template <class F> void ForEveryType(void* target, const F& f) {
  static const unsigned char bytes[] = "bytes";
  const auto apply = [&f](const auto&... values) { (f(values), ...); };
  apply(TagVar(), TagVar(TagVar::endOfArgs), TagVar(TagVar::string), 6, 7L, short{-2}, 5u, 8ul,
        static_cast<unsigned short>(9), 1.5, "text", bytes, TAVUTIL_WTEXT("wide"),
        TString("shared"), TDate(), TTime(), TDateTime(99, 1), TagVarVoidPtr(target));
}

TEST(TagVar, NumbersKeepTheirLowThirtyTwoBits) {
  EXPECT_EQ(Describe(TagVar(TagVar::real)), "4:0"); // all 8 payload bytes start at zero
  EXPECT_EQ(Describe(TagVar(4000000000ul)), "3:4000000000");
  if constexpr (sizeof(long) > 4) {
    EXPECT_EQ(Describe(TagVar(static_cast<long>((1LL << 32) + 5))), "2:5");
    EXPECT_EQ(Describe(TagVar(static_cast<long>((1LL << 33) - 1))), "2:-1");
  }
}

TEST(TagVar, StringsAreOwnedCopiesOrSharedBuffers) {
  char source[] = "abc";
  const TagVar copied(source);
  source[0] = 'X';
  EXPECT_EQ(Describe(copied), "5:abc");
  // A null text gives a string payload without buffer, not a null payload.
  EXPECT_EQ(Describe(TagVar(static_cast<const char*>(nullptr))), "5:");
  EXPECT_EQ(Describe(TagVar(static_cast<const _Wchar_t*>(nullptr))), "6:");
  const TagVar wide(TAVUTIL_WTEXT("hi"));
  EXPECT_EQ(Describe(wide),
            "6:" + std::string(reinterpret_cast<const char*>(TAVUTIL_WTEXT("hi")), 4));
  EXPECT_TRUE(wide.QueryString()->IsUnicode());

  TString shared("text"); // a TString is shared, and its unicode flag picks the tag
  auto holder = std::make_unique<TagVar>(shared);
  EXPECT_EQ(static_cast<char*>(*holder->QueryString()), static_cast<char*>(shared));
  holder.reset();
  EXPECT_TRUE(SoleHolder(shared)); // the TagVar gave its share back
  EXPECT_TRUE(TagVar(TString(TAVUTIL_WTEXT("w"))).IsWideString());
}

TEST(TagVar, CopiesOwnTheirPayloadsAndShareOnlyBuffersAndTargets) {
  TString text("shared");
  auto original = std::make_unique<TagVar>(text);
  auto when = std::make_unique<TagVar>(TDateTime(1234, -60));
  const TagVar copy(*original);
  const TagVar whenCopy(*when);
  EXPECT_NE(copy.QueryString(), original->QueryString());
  EXPECT_EQ(static_cast<char*>(*copy.QueryString()), static_cast<char*>(text));
  EXPECT_NE(whenCopy.QueryDateTime(), when->QueryDateTime());
  original.reset();
  when.reset();
  EXPECT_EQ(Describe(copy), "5:shared"); // the copies' payloads outlive the originals
  EXPECT_EQ(Describe(whenCopy), "9:1234/-60");

  // A null payload stays null; a voidptr target is carried (and never deleted: see below).
  EXPECT_EQ(TagVar(TagVar(TagVar::wideString)).QueryString(), nullptr);
  int target = 0;
  EXPECT_EQ(TagVar(TagVar(TagVarVoidPtr(&target))).QueryVoidPtr(), &target);
}

TEST(TagVar, AssignmentOverEveryTypeReleasesTheOldPayload) {
  // Owned payloads are distinct objects; the sanitizers see any payload that is shared,
  // released twice or left behind, and a delete of the voidptr target on the stack.
  int target = 0;
  ForEveryType(&target, [&target](const auto& before) {
    ForEveryType(&target, [&before](const auto& after) {
      TagVar value(before);
      value = after;
      EXPECT_EQ(Describe(value), Describe(TagVar(after)));
    });
    TagVar value(before);
    TagVar& self = value;
    value = self;
    EXPECT_EQ(Describe(value), Describe(TagVar(before)));
    // A move takes tag and payload (a null string payload stays null) and leaves nil.
    TagVar moved(std::move(value));
    EXPECT_EQ(Describe(moved), Describe(TagVar(before)));
    EXPECT_TRUE(value.IsNil());
    ForEveryType(&target, [&moved](const auto& after) {
      TagVar other(after);
      TagVar kept(moved);
      other = std::move(kept);
      EXPECT_EQ(Describe(other), Describe(moved));
      EXPECT_TRUE(kept.IsNil());
    });
    moved = std::move(self = TagVar(before)); // a value moved to itself keeps it
    EXPECT_EQ(Describe(moved), Describe(TagVar(before)));
  });

  TString text("old");
  TagVar value(text);
  value = 1;
  EXPECT_TRUE(SoleHolder(text)); // the old payload was released
  value = "mine";
  value = *value.QueryString(); // arguments that live inside the value's own payload
  value = static_cast<const char*>(*value.QueryString());
  EXPECT_EQ(Describe(value), "5:mine");
  value = TDateTime(77, 7);
  value = *value.QueryDateTime();
  EXPECT_EQ(Describe(value), "9:77/7");
}

TEST(TagVar, StrictAccessorsRefuseEveryOtherTag) {
  for (int tag = TagVar::nil; tag <= TagVar::voidptr + 1; ++tag) { // voidptr + 1: unknown
    const TagVar v(static_cast<TagVar::Type>(tag));
    const auto expect = [&v, tag](bool accepted, unsigned long line, void (*call)(const TagVar&)) {
      SCOPED_TRACE("line " + std::to_string(line) + ", tag " + std::to_string(tag));
      if (accepted) {
        EXPECT_NO_THROW(call(v));
      } else {
        ExpectRaises([&] { call(v); },
                     {"TInvalidRequest", "type mismatch", 2, 1, "utility/TAGVAR", line});
      }
    };
    const bool text = tag == TagVar::string || tag == TagVar::wideString;
    expect(text, 2203, [](const TagVar& x) { (void)x.QueryString(); });
    expect(text, 2203, [](const TagVar& x) { (void)static_cast<const TString*>(x); });
    expect(tag == TagVar::datetime, 2213, [](const TagVar& x) { (void)x.QueryDateTime(); });
    expect(tag == TagVar::integer, 2223, [](const TagVar& x) { (void)static_cast<long>(x); });
    expect(tag == TagVar::unsignedInteger, 2233,
           [](const TagVar& x) { (void)static_cast<unsigned long>(x); });
    expect(tag == TagVar::real, 2243, [](const TagVar& x) { (void)static_cast<double>(x); });
    expect(tag == TagVar::voidptr, 2253, [](const TagVar& x) { (void)x.QueryVoidPtr(); });
  }
}

TEST(TagVar, UnknownTagsCannotBeCopied) {
  const TagVar unknown(static_cast<TagVar::Type>(42));
  ExpectRaises([&] { TagVar copy(unknown); },
               {"TInvalidRequest", "unknown type", 3, 0, "utility/TAGVAR", 78});
  TString text("held");
  TagVar target(text);
  ExpectRaises([&] { target = unknown; },
               {"TInvalidRequest", "unknown type", 3, 0, "utility/TAGVAR", 130});
  EXPECT_EQ(target.QueryType(), unknown.QueryType()); // the tag was copied before the throw
  EXPECT_TRUE(SoleHolder(text));                      // and the old payload went first
}

/// What StreamOut writes, or the error it raises with nothing written.
std::string TextOf(const TagVar& v) {
  std::ostringstream os;
  EXPECT_EQ(&v.StreamOut(os), &os);
  return os.str();
}

std::string TypeOf(const TagVar& v) {
  std::ostringstream os;
  EXPECT_EQ(&v.PrintType(os), &os);
  return os.str();
}

TEST(TagVar, TextFormOfEveryType) {
  int target = 0;
  std::ostringstream pointer;
  pointer << static_cast<const void*>(&target);
  const TDateTime when(86400L * 365, 3600);
  const struct {
    TagVar value;
    std::string text;
    const char* type;
  } cases[] = {
      {TagVar(), "(nil)", "nil"},
      {TagVar(TagVar::endOfArgs), "(endOfArgs)", "endOfArgs"},
      {TagVar(-5), "-5", "integer"},
      {TagVar(4294967295u), "4294967295", "unsignedInteger"},
      {TagVar(2.5), "2.5", "real"},
      {TagVar(TString("a\0b", 3)), std::string("a\0b", 3), "string"}, // exactly the bytes
      {TagVar(TagVar::string), "(null)", "string"},
      {TagVar(static_cast<const char*>(nullptr)), "<NULL>", "string"},
      {TagVar(TAVUTIL_WTEXT("hi")), std::string("h\0i\0", 4), "string"},
      {TagVar(TagVar::wideString), "(null)", "string"},
      {TagVar(when), std::string(when.QueryString("%c"), when.QueryString("%c").length()),
       "datetime"},
      {TagVar(TDateTime(-1, 0)), "<NULL>", "datetime"}, // a time that has no text
      {TagVar(TagVar::datetime), "(null)", "datetime"},
      {TagVar(TagVarVoidPtr(&target)), pointer.str(), "voidptr"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type + (": " + c.text));
    EXPECT_EQ(TextOf(c.value), c.text);
    EXPECT_EQ(TypeOf(c.value), c.type);
  }
  EXPECT_FALSE(TextOf(TagVar(when)).empty());
  EXPECT_EQ(TypeOf(TagVar(TDate())), "date");
  EXPECT_EQ(TypeOf(TagVar(TTime())), "time");
}

TEST(TagVar, TextFormFollowsTheStreamsNumberSettings) {
  std::ostringstream os;
  os << std::hex;
  TagVar(255).StreamOut(os) << ' ';
  TagVar(255u).StreamOut(os) << ' ' << std::dec << std::setw(5);
  TagVar(42).StreamOut(os) << ' ' << std::setprecision(3);
  TagVar(3.14159).StreamOut(os);
  EXPECT_EQ(os.str(), "ff ff    42 3.14");
}

TEST(TagVar, TextFormRefusesDatesTimesAndUnknownTagsWhichPrintTheirNumber) {
  const auto expect = [](const TagVar& v, const ExpectedError& error) {
    std::ostringstream os;
    ExpectRaises([&] { v.StreamOut(os); }, error);
    EXPECT_EQ(os.str(), "");
  };
  expect(TagVar(TDate()), {"TInvalidRequest", "not implemented", 1, 0, "utility/TAGVAR", 2101});
  expect(TagVar(TTime()), {"TInvalidRequest", "not implemented", 1, 0, "utility/TAGVAR", 2104});
  expect(TagVar(static_cast<TagVar::Type>(42)),
         {"TInvalidRequest", "unknown type", 3, 0, "utility/TAGVAR", 2075});
  std::istringstream in("5");
  TagVar target(1);
  ExpectRaises([&] { target.StreamIn(in); },
               {"TInvalidRequest", "not implemented", 1, 0, "utility/TAGVAR", 2123});
  EXPECT_EQ(Describe(target), "2:1");
  // An unknown tag still has a type name: its number in hexadecimal.
  std::ostringstream os;
  TagVar(static_cast<TagVar::Type>(42)).PrintType(os) << 255; // the stream stays hexadecimal
  TagVar(static_cast<TagVar::Type>(-1)).PrintType(os);
  EXPECT_EQ(os.str(), "unknown(2a)ffunknown(ffffffff)");
}

} // namespace
