// tests/tstring_test.cpp: tests of TString, TStringIcmp and TStringAndWipe.
// Licensed under the Apache License, Version 2.0.
//
// The executable replaces the global operator new and delete (on malloc and free) so that a
// test can copy a string buffer's bytes as its block is released, never reading freed memory.
#include <tavutil/tstring.h>

#include "library_error.h"

#include <gtest/gtest.h>

#include <malloc.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

using namespace std::string_literals;

namespace {

/// The text a test watches (0: none, or copied) and the bytes it held when it was freed.
struct WatchState {
  std::uintptr_t text = 0;
  std::size_t bytes = 0;
  char snapshot[256] = {};
} gWatch;

/// Frees a block, first copying the watched bytes when they lie inside it.
void Release(void* p) noexcept {
  const auto block = reinterpret_cast<std::uintptr_t>(p);
  if (p != nullptr && gWatch.text >= block &&
      gWatch.text + gWatch.bytes <= block + malloc_usable_size(p)) {
    std::memcpy(gWatch.snapshot, reinterpret_cast<const void*>(gWatch.text), gWatch.bytes);
    gWatch.text = 0;
  }
  std::free(p);
}

/// Watches a string's text and the two zero bytes after it, to copy them when they are freed.
void Watch(const TString& s) {
  gWatch = WatchState{};
  gWatch.bytes = s.length() + 2;
  ASSERT_LE(gWatch.bytes, sizeof gWatch.snapshot);
  gWatch.text = reinterpret_cast<std::uintptr_t>(static_cast<char*>(s));
}

/// The watched bytes as they were when their block was freed; "<live>" before that.
std::string Released() {
  return gWatch.text == 0 ? std::string(gWatch.snapshot, gWatch.bytes) : "<live>";
}

/// The string's bytes; "<none>" without a buffer.
std::string Bytes(const TString& s) {
  const char* text = s;
  return text != nullptr ? std::string(text, s.length()) : "<none>";
}

const void* Buffer(const TString& s) {
  return static_cast<char*>(s);
}

/// Several results compared at once: a failure shows both lists.
using Texts = std::vector<std::string>;
using Numbers = std::vector<long long>;

} // namespace

// The forms that may free a block of the plain operator new, and the nothrow new whose blocks
// they may free. The array and aligned forms stay the runtime's, which pairs them itself.
// clang-format off
void* operator new(std::size_t n) { void* p = std::malloc(n != 0 ? n : 1); return p != nullptr ? p : throw std::bad_alloc(); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return std::malloc(n != 0 ? n : 1); }
void operator delete(void* p) noexcept { Release(p); }
void operator delete(void* p, std::size_t) noexcept { Release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { Release(p); }
// clang-format on

TEST(TString, ConstructorsCopyBytesAndNoBufferDiffersFromAnEmptyOne) {
  const TString data("ab\0cd", 5);
  EXPECT_EQ(std::memcmp(static_cast<char*>(data), "ab\0cd\0\0", 7), 0); // and two zero bytes
  EXPECT_EQ(Bytes(TString(nullptr, 3, '*')), "***");
  const TString wide(u"abc");
  EXPECT_TRUE(wide.IsUnicode());
  EXPECT_EQ(Bytes(wide), std::string(reinterpret_cast<const char*>(u"abc"), 6));
  const TString none;
  const TString empty("");
  EXPECT_EQ(Bytes(TString(static_cast<const char*>(nullptr))), "<none>");
  EXPECT_EQ(Bytes(TString(static_cast<const _Wchar_t*>(nullptr))), "<none>");
  EXPECT_EQ(Bytes(empty), "");
  std::ostringstream printed; // exactly length() bytes, or "<NULL>"
  printed << none << "|" << empty << "|" << TString("a\0b", 3);
  EXPECT_EQ(printed.str(), "<NULL>||a\0b"s);
  // The empty buffer equals no buffer, not the other way round; no buffer sorts first.
  EXPECT_EQ(Numbers({empty.isEqual(none), none.isEqual(empty), none.isLessThan(empty),
                     empty.isLessThan(none)}),
            Numbers({1, 0, 1, 0}));
}

TEST(TString, CopiesShareAndWritesThroughCharStarOrIndexReachEverySharer) {
  TString a("abc");
  TString& self = a;
  a = self; // the only handle: must not release the buffer
  TString c("xyz");
  c = a;
  static_cast<char*>(a)[0] = 'Q'; // neither the char* conversion
  a[2u] = 'X';                    // nor the non-const operator[] within the length unshares
  EXPECT_EQ(Bytes(c), "QXc");
  TString none; // beyond the length it grows with zero bytes (see also the next test)
  none[3u] = 'z';
  EXPECT_EQ(Bytes(none), "\0\0z"s);
}

TEST(TString, InPlaceChangesKeepTheFlagsAndNewBuffersHaveNone) {
  // Each change of a marked "abcdef". `inPlace`: an unshared buffer is changed in place and
  // keeps its flags. Otherwise the handle gets a new unmarked buffer and sharers keep the old.
  const struct {
    const char* call;
    std::function<void(TString&)> change;
    std::string bytes;
    bool inPlace;
  } cases[] = {
      {"+= text", [](TString& s) { s += "g"; }, "abcdefg", false},
      {"+= TString", [](TString& s) { s += TString("\0g", 2); }, "abcdef\0g"s, false},
      {"^=", [](TString& s) { s ^= TString("\x01\x02"); }, "``cdef", true},
      {"|=", [](TString& s) { s |= TString("\x03"); }, "cbcdef", true},
      {"&=", [](TString& s) { s &= TString("\x7f\x7f"); }, "ab\0\0\0\0"s, true},
      {"upperCase", [](TString& s) { s.upperCase(); }, "ABCDEF", true},
      {"lowerCase", [](TString& s) { s.upperCase().lowerCase(); }, "abcdef", true},
      {"remove(5)", [](TString& s) { s.remove(5); }, "abcd", true},
      {"remove(2, 2)", [](TString& s) { s.remove(2, 2); }, "adef", true},
      {"change", [](TString& s) { s.change("cd", "x"); }, "abxef", false},
      {"[8]", [](TString& s) { s[8u] = 'h'; }, "abcdef\0h"s, false},
  };
  for (const auto& c : cases) {
    for (const bool shared : {false, true}) {
      SCOPED_TRACE(std::string(c.call) + (shared ? " on a shared buffer" : ""));
      TString s = TStringAndWipe("abcdef");
      s.SetUnicode(1);
      const TString sharer = shared ? s : TString();
      const void* before = Buffer(s);
      c.change(s);
      EXPECT_EQ(Bytes(s), c.bytes);
      EXPECT_EQ(Buffer(s) == before, c.inPlace && !shared);
      EXPECT_EQ(s.IsWipeOnDelete() + s.IsUnicode(), c.inPlace && !shared ? 2 : 0);
      EXPECT_EQ(Bytes(sharer), shared ? "abcdef" : "<none>");
    }
  }
}

TEST(TString, AppendBytewiseAndCaseRules) {
  TString self("xy");
  self += self;
  self += static_cast<char*>(self) + 2; // the operand points into the string itself
  EXPECT_EQ(Bytes(self), "xyxyxy");
  const TString& same = self;
  self ^= same; // the operand is the string itself
  EXPECT_EQ(Bytes(self), std::string(6, '\0'));
  // A null text is empty; a TString operand counts all its bytes, but += onto no buffer only
  // those up to the first NUL; + keeps no buffer only when both sides have none.
  EXPECT_EQ(Texts({Bytes(TString("ab") += static_cast<const char*>(nullptr)),
                   Bytes(TString("a\0", 2) + TString("\0b", 2)),
                   Bytes(TString() += TString("pq\0r", 4)), Bytes(TString() += TString()),
                   Bytes(TString() += ""), Bytes(TString() + TString()), Bytes(TString() + ""),
                   Bytes(TString() + TString("")), Bytes(TString("") + TString())}),
            Texts({"ab", "a\0\0b"s, "pq", "<none>", "", "<none>", "<none>", "", ""}));
  // Without a buffer nothing changes; case changes are ASCII only and stop at a NUL byte.
  EXPECT_EQ(Texts({Bytes(TString() ^= TString("ab")), Bytes(TString().lowerCase()),
                   Bytes(TString("aB\xc4z\0c", 6).upperCase())}),
            Texts({"<none>", "<none>", "AB\xc4Z\0c"s}));
}

TEST(TString, RemoveAndSubStringFollowTheirRules) {
  const auto cut = [](unsigned int start, std::optional<unsigned int> count = {}) {
    TString s("abcdef");
    return Bytes(count ? s.remove(start, *count) : s.remove(start));
  };
  // remove(start) and remove(start, count): beyond, past or at the end, never wrapping around.
  EXPECT_EQ(
      Texts({cut(1), cut(6), cut(7), cut(7, 1), cut(5, 10), cut(2, ~0u), cut(1, 6), cut(4, 3),
             Bytes(TString().remove(2)), Bytes(TString("").remove(1))}),
      Texts({"<none>", "abcde", "abcdef", "abcdef", "abcd", "a", "<none>", "abc", "<none>", ""}));
  TString abcd("abcd");
  abcd.SetWipeOnDelete(1);
  EXPECT_FALSE(abcd.subString(1).IsWipeOnDelete() || abcd.subString(1, 4).IsWipeOnDelete());
  // subString(start), then with a count: padded, start 0 as 1, beyond the end, after a NUL.
  EXPECT_EQ(Texts({Bytes(abcd.subString(3)), Bytes(abcd.subString(5)),
                   Bytes(TString().subString(1)), Bytes(abcd.subString(3, 5, '*')),
                   Bytes(abcd.subString(0, 2, '*')), Bytes(abcd.subString(2, 2, '*')),
                   Bytes(abcd.subString(9, 3)), Bytes(TString("a\0b", 3).subString(2, 3, '.'))}),
            Texts({"cd", "<none>", "<none>", "cd***", "ab", "bc", "   ", "\0b."s}));
}

TEST(TString, SearchGivesOneBasedPositionsAndZeroWhenNotFound) {
  const TString s("abcab\0cab", 9);
  // indexOf(char): from 3, from 0 (as 1), a NUL byte, none, from beyond the end, no buffer.
  EXPECT_EQ(Numbers({s.indexOf('b', 3), s.indexOf('a', 0), s.indexOf('\0'), s.indexOf('z'),
                     s.indexOf('b', 10), TString().indexOf('a')}),
            Numbers({5, 1, 6, 0, 0, 0}));
  // indexOf(text): from 2, past the NUL, longer than what is left, empty, after a partial match.
  EXPECT_EQ(Numbers({s.indexOf("ab", 2), s.indexOf("ab", 5), s.indexOf("ab", 9), s.indexOf("", 4),
                     TString("aab").indexOf("ab")}),
            Numbers({4, 8, 0, 4, 2}));
  // indexOfAnyOf, indexOfAnyBut: from 4, a byte above 0x7f, the first other byte, none.
  // lastIndexOf: from the end (all ones), from 1, none up to 2, from beyond the end, empty.
  EXPECT_EQ(Numbers({s.indexOfAnyOf("cx", 4), TString("\x80\xff").indexOfAnyOf("\xff"),
                     s.indexOfAnyBut("abc"), TString("aaa").indexOfAnyBut("a"), s.lastIndexOf('a'),
                     s.lastIndexOf('a', 1), s.lastIndexOf('c', 2), s.lastIndexOf('a', 10),
                     TString("").lastIndexOf('\0')}),
            Numbers({7, 2, 6, 0, 8, 1, 0, 0, 0}));
}

TEST(TString, ChangeReplacesNonOverlappingOccurrences) {
  const auto changed = [](const char* text, const char* pattern, const char* replacement,
                          unsigned int start = 1, unsigned int count = ~0u) {
    return Bytes(TString(text).change(pattern, replacement, start, count));
  };
  // Non-overlapping, at most `count`, from `start`, by nothing; an empty pattern, count 0 (no
  // search: start 0 accepted) and no buffer change nothing; a TString replacement counts all.
  EXPECT_EQ(Texts({changed("aaa", "aa", "b"), changed("a-a-a-a", "a", "xyz", 1, 2),
                   changed("a-a-a-a", "a", "", 2), changed("abc", "", "x"),
                   changed("abc", "b", "x", 0, 0), Bytes(TString().change("a", "b")),
                   Bytes(TString("a.b").change(".", TString("\0", 1)))}),
            Texts({"ba", "xyz-xyz-a-a", "a---", "abc", "abc", "<none>", "a\0b"s}));
  TString s("abab");
  s.change("b", s); // the replacement is the string itself
  EXPECT_EQ(Bytes(s), "aababaabab");
  const TString keep = s;
  s.change("q", "r");
  EXPECT_EQ(Buffer(s), Buffer(keep)); // nothing found: untouched
}

TEST(TString, ComparisonsUseLengthsAndUnsignedBytes) {
  const TString ab("ab");
  const TString aNulB("a\0b", 3);
  EXPECT_EQ(Numbers({aNulB.isEqual(TString("a\0b", 3)), aNulB.isEqual(TString("a\0c", 3)),
                     ab.isEqual("abc"), TString("\x7f").isLessThan("\x80"), ab.isLessThan("abc"),
                     TString("abc").isLessThan(ab), aNulB.isLessThan(TString("a\0c", 3))}),
            Numbers({1, 0, 0, 1, 1, 0, 1}));
  // isAbbreviationFor: a prefix, a mismatch, only `minimum` bytes compared, `minimum` beyond
  // this string or the full text, this string longer than the full text, a NUL, no buffer.
  EXPECT_EQ(
      Numbers({ab.isAbbreviationFor("abc"), TString("abd").isAbbreviationFor("abc"),
               TString("abd").isAbbreviationFor("abc", 2), TString("a").isAbbreviationFor("abc", 2),
               ab.isAbbreviationFor("ab", 3), TString("abcd").isAbbreviationFor("abc", 2),
               ab.isAbbreviationFor(TString("a\0", 2)),
               TString().isAbbreviationFor(static_cast<const char*>(nullptr)),
               TString().isAbbreviationFor("abc", 1)}),
      Numbers({1, 0, 1, 0, 0, 0, 0, 1, 0}));
}

TEST(TString, DigitTestsAndNumberConversions) {
  // Digits: no buffer, empty, all ten, a NUL byte; binary digits: no buffer, 0 and 1, a 2.
  EXPECT_EQ(Numbers({TString().isDigits(), TString("").isDigits(), TString("0123456789").isDigits(),
                     TString("1\0002", 3).isDigits(), TString().isBinaryDigits(),
                     TString("0110").isBinaryDigits(), TString("012").isBinaryDigits()}),
            Numbers({0, 1, 1, 0, 0, 1, 0}));
  // asInt: no buffer, leading blanks and trailing text, saturation either way.
  EXPECT_EQ(Numbers({TString().asInt(), TString("  -17x").asInt(), TString("99999999999").asInt(),
                     TString("-99999999999").asInt()}),
            Numbers({0, -17, 2147483647, -2147483647 - 1}));
  // asUnsigned: saturated, negated, a plus sign; a minus not followed by a digit: no number.
  using Unsigned = std::vector<unsigned long>;
  EXPECT_EQ(Unsigned({TString().asUnsigned(), TString("4294967296").asUnsigned(),
                      TString(" -5").asUnsigned(), TString("-4294967296").asUnsigned(),
                      TString("+7x").asUnsigned(), TString("-+5").asUnsigned(),
                      TString("--5").asUnsigned(), TString("- 5").asUnsigned()}),
            Unsigned({0, 4294967295, 4294967291, 4294967295, 7, 0, 0, 0}));
  EXPECT_EQ(TString().asDouble(), 0.0);
  EXPECT_EQ(TString("-2.5e3xyz").asDouble(), -2500.0);
}

TEST(TString, EveryThrowSiteRaisesInvalidRequestAndLeavesTheStringUnchanged) {
  const char* const kIndex = "Bad index value for this String";
  const char* const kTruncate = "Bad value to truncate this String";
  const char* const kStart = "Bad value for the starting position";
  const struct {
    const char* call;
    std::function<void(TString&)> run;
    const char* text;
    unsigned long line;
    unsigned long lineWithoutBuffer; // remove(0, count) depends on the length
  } sites[] = {
      {"const [0]", [](TString& s) { (void)std::as_const(s)[0u]; }, kIndex, 194, 194},
      {"const [4]", [](TString& s) { (void)std::as_const(s)[4u]; }, kIndex, 194, 194},
      {"[0]", [](TString& s) { s[0u] = 'x'; }, kIndex, 203, 203},
      {"subString(0)", [](TString& s) { (void)s.subString(0); }, kTruncate, 372, 372},
      {"remove(0)", [](TString& s) { s.remove(0); }, kTruncate, 538, 538},
      {"remove(0, 4)", [](TString& s) { s.remove(0, 4); }, kTruncate, 580, 538},
      {"remove(0, 1)", [](TString& s) { s.remove(0, 1); }, kTruncate, 580, 580},
      {"indexOf(p, 0)", [](TString& s) { (void)s.indexOf("b", 0); }, kStart, 629, 629},
      {"change(p, r, 0)", [](TString& s) { s.change("b", "x", 0, 1); }, kStart, 629, 629},
      {"indexOfAnyBut(0)", [](TString& s) { (void)s.indexOfAnyBut("a", 0); }, kStart, 654, 654},
      {"indexOfAnyOf(0)", [](TString& s) { (void)s.indexOfAnyOf("a", 0); }, kStart, 679, 679},
      {"lastIndexOf(0)", [](TString& s) { (void)s.lastIndexOf('a', 0); }, kStart, 700, 700},
  };
  for (const auto& site : sites) {
    for (const bool withBuffer : {true, false}) {
      SCOPED_TRACE(std::string(site.call) + (withBuffer ? " on abc" : " without buffer"));
      TString s = withBuffer ? TString("abc") : TString();
      const TString sharer = s;
      ExpectRaises([&] { site.run(s); }, {"TInvalidRequest", site.text, 1, 1, "utility/TSTRING",
                                          withBuffer ? site.line : site.lineWithoutBuffer});
      EXPECT_EQ(Buffer(s), Buffer(sharer)); // still shared: not unshared, grown or released
      EXPECT_EQ(Bytes(s), withBuffer ? "abc" : "<none>");
    }
  }
}

TEST(TStringIcmp, EqualityIgnoresCaseUpToTheFirstNul) {
  const TStringIcmp hello("Hello");
  TStringIcmp nul("ab");
  nul += TString("\0x", 2);
  // Other case, another letter, a prefix, no buffer on either or both sides, bytes after a NUL,
  // non-ASCII letters (C locale), and the case-sensitive base class.
  EXPECT_EQ(Numbers({hello.IsEqual("hELLO"), hello.IsEqual("Hellp"), hello.IsEqual("Hell"),
                     TStringIcmp().IsEqual(""), TStringIcmp("").IsEqual(TStringIcmp()),
                     TStringIcmp().IsEqual(TStringIcmp()), nul.IsEqual("AB"),
                     TStringIcmp("\xc4").IsEqual("\xe4"),
                     static_cast<const TString&>(hello).isEqual(TStringIcmp("hello"))}),
            Numbers({1, 0, 0, 0, 0, 1, 1, 0, 0}));
}

TEST(TStringAndWipe, MarkedBuffersAreZeroedByWipeAndByTheirLastRelease) {
  EXPECT_EQ(Bytes(TStringAndWipe(static_cast<const char*>(nullptr))), "<none>");
  TStringAndWipe().Wipe(); // no buffer: nothing to zero
  const TString plain("ab\0cd", 5);
  TStringAndWipe wiping(plain);
  EXPECT_TRUE(plain.IsWipeOnDelete()); // the flag belongs to the shared buffer
  wiping.Wipe();                       // in place, without unsharing
  EXPECT_EQ(Bytes(plain), std::string(5, '\0'));
  std::optional<TStringAndWipe> secret(std::in_place, TString("pass\0word", 9)); // past a NUL too
  std::optional<TString> sharer(*secret);
  Watch(*secret);
  secret.reset();
  EXPECT_EQ(Released(), "<live>");
  sharer.reset();
  EXPECT_EQ(Released(), std::string(11, '\0'));
  std::optional<TString> plainText(std::in_place, "public"); // an unmarked buffer goes as it is
  Watch(*plainText);
  plainText.reset();
  EXPECT_EQ(Released(), "public\0\0"s);
  TStringAndWipe key("key"); // += releases the old buffer wiped (the new one is unmarked)
  Watch(key);
  key += "-2";
  EXPECT_EQ(Released(), std::string(5, '\0'));
  std::optional<TString> shortened(std::in_place, "abcdef"); // shortened in place: the
  shortened->SetWipeOnDelete(1);                             // removed bytes go as well
  Watch(*shortened);
  shortened->remove(3);
  shortened.reset();
  EXPECT_EQ(Released(), std::string(8, '\0'));
}
