// tests/tstring_test.cpp: tests of TString, TStringIcmp and TStringAndWipe.
// Licensed under the Apache License, Version 2.0.
#include <tavutil/tstring.h>

#include "helpers/test_text.h"
#include "library_error.h"
#include "test_platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <new>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace std::string_literals;

namespace {

/// The watched text (0: none, or already copied), its size and its bytes as its block was freed.
std::uintptr_t gText = 0;
std::size_t gSize = 0;
char gFreed[64];

/// Frees a block, first copying the watched bytes when they lie inside it.
void Release(void* p) noexcept {
  const auto block = reinterpret_cast<std::uintptr_t>(p);
  if (p != nullptr && gText >= block && gText + gSize <= block + BlockSize(p)) {
    std::memcpy(gFreed, reinterpret_cast<const void*>(gText), gSize);
    gText = 0;
  }
  std::free(p);
}

/// Watches the text of `*s` and the two zero bytes after it, applies `change`, ends `s` and
/// gives the watched bytes as their block was freed; "<live>" while another handle holds it.
std::string Freed(std::optional<TString>& s, void (*change)(TString&) = nullptr) {
  gSize = std::min(s->length() + std::size_t{2}, sizeof gFreed);
  gText = reinterpret_cast<std::uintptr_t>(static_cast<char*>(*s));
  if (change != nullptr) {
    change(*s);
  }
  s.reset();
  return gText == 0 ? std::string(gFreed, gSize) : "<live>";
}

const void* Buffer(const TString& s) {
  return static_cast<char*>(s);
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kUnderSanitizer = true;
#elif defined(__has_feature)
constexpr bool kUnderSanitizer =
    __has_feature(address_sanitizer) || __has_feature(thread_sanitizer);
#else
constexpr bool kUnderSanitizer = false;
#endif

/// Why a test cannot take `bytes` of memory now, or "" when it can: sanitizers multiply the
/// memory a test takes, and the machine may not have that much to spare.
std::string NoRoomFor(unsigned long long bytes) {
  if (kUnderSanitizer) {
    return "skipped under a sanitizer, which multiplies its memory";
  }
  std::ifstream meminfo("/proc/meminfo");
  std::string key;
  unsigned long long kib = 0;
  while (meminfo >> key >> kib) {
    if (key == "MemAvailable:") {
      return kib * 1024 >= bytes ? ""
                                 : "skipped: needs " + std::to_string(bytes >> 20) + " MiB, only " +
                                       std::to_string(kib >> 10) + " MiB available";
    }
    meminfo.ignore(64, '\n');
  }
  return "skipped: the available memory is unknown";
}

} // namespace

// The plain and nothrow operator new and every delete that may free their blocks, on malloc and
// free, so that a test can copy a string buffer's bytes as its block is released, never reading
// freed memory. The array and aligned forms stay the runtime's, which pairs them itself.
// clang-format off
void* operator new(std::size_t n) { void* p = AllocateBlock(n); return p != nullptr ? p : throw std::bad_alloc(); }
void* operator new(std::size_t n, const std::nothrow_t& /*tag*/) noexcept { return AllocateBlock(n); }
void operator delete(void* p) noexcept { Release(p); }
void operator delete(void* p, std::size_t /*size*/) noexcept { Release(p); }
void operator delete(void* p, const std::nothrow_t& /*tag*/) noexcept { Release(p); }
// clang-format on

TEST(TString, BuffersAreCopiedOrSharedAndNoBufferDiffersFromAnEmptyOne) {
  const TString data("ab\0cd", 5);
  EXPECT_EQ(std::memcmp(static_cast<char*>(data), "ab\0cd\0\0", 7), 0); // and two zero bytes
  EXPECT_EQ(Bytes(TString(nullptr, 3, '*')), "***");
  const TString wide(TAVUTIL_WTEXT("abc"));
  EXPECT_TRUE(wide.IsUnicode());
  EXPECT_EQ(Bytes(wide), std::string(reinterpret_cast<const char*>(u"abc"), 6));
  TString none;
  const TString empty("");
  EXPECT_EQ(Bytes(TString(static_cast<const char*>(nullptr))), "<none>");
  EXPECT_EQ(Bytes(TString(static_cast<const _Wchar_t*>(nullptr))), "<none>");
  std::ostringstream printed;
  printed << none << "|" << empty << "|" << TString("a\0b", 3);
  EXPECT_EQ(printed.str(), "<NULL>||a\0b"s);
  // The empty buffer equals no buffer, not the other way round; no buffer sorts first.
  EXPECT_EQ(empty.isEqual(none), 1);
  EXPECT_EQ(none.isEqual(empty), 0);
  EXPECT_EQ(none.isLessThan(empty), 1);
  EXPECT_EQ(empty.isLessThan(none), 0);
  TString a("abc");
  TString& self = a;
  a = self; // the only handle: must not release the buffer
  TString c("xyz");
  c = a;
  static_cast<char*>(a)[0] = 'Q'; // neither the char* conversion
  a[2u] = 'X';                    // nor the non-const operator[] within the length unshares
  EXPECT_EQ(Bytes(c), "QXc");
  none[3u] = 'z'; // beyond the length it grows with zero bytes (a shared one: next test)
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
      {"+= TString", [](TString& s) { s += TString("\0g", 2); }, "abcdef\0g"s, false},
      {"+= itself", [](TString& s) { s += s; }, "abcdefabcdef", false},
      {"+= its own text", [](TString& s) { s += static_cast<char*>(s) + 4; }, "abcdefef", false},
      {"^= itself", [](TString& s) { s ^= static_cast<const TString&>(s); }, "\0\0\0\0\0\0"s, true},
      {"|=", [](TString& s) { s |= TString("\x03"); }, "cbcdef", true},
      {"&=", [](TString& s) { s &= TString("\x7f\x7f"); }, "ab\0\0\0\0"s, true},
      {"upperCase, lowerCase", [](TString& s) { s.upperCase().lowerCase(); }, "abcdef", true},
      {"remove(5)", [](TString& s) { s.remove(5); }, "abcd", true},
      {"remove(2, 2)", [](TString& s) { s.remove(2, 2); }, "adef", true},
      {"change", [](TString& s) { s.change("cd", s); }, "ababcdefef", false},
      {"= subString", [](TString& s) { s = s.subString(2, 3); }, "bcd", false},
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
      EXPECT_EQ(Bytes(sharer), shared ? "abcdef" : "<none>");
      EXPECT_EQ(Buffer(s) == before, c.inPlace && !shared);
      EXPECT_EQ(s.IsWipeOnDelete() + s.IsUnicode(), c.inPlace && !shared ? 2 : 0);
    }
  }
}

TEST(TString, AppendCaseRemoveAndSubStringRules) {
  // A null text is empty; a TString operand counts all its bytes, but += onto no buffer only
  // those up to the first NUL; + keeps no buffer only when both sides have none.
  EXPECT_EQ(Bytes(TString("ab") += static_cast<const char*>(nullptr)), "ab");
  EXPECT_EQ(Bytes(TString("a\0", 2) + TString("\0b", 2)), "a\0\0b"s);
  EXPECT_EQ(Bytes(TString() += TString("pq\0r", 4)), "pq");
  EXPECT_EQ(Bytes(TString() += TString()), "<none>");
  EXPECT_EQ(Bytes(TString() += ""), "");
  EXPECT_EQ(Bytes(TString() + TString()), "<none>");
  EXPECT_EQ(Bytes(TString() + ""), "<none>");
  EXPECT_EQ(Bytes(TString() + TString("")), "");
  EXPECT_EQ(Bytes(TString("") + TString()), "");
  // Without a buffer nothing changes; case changes are ASCII only and stop at a NUL byte.
  EXPECT_EQ(Bytes(TString() ^= TString("ab")), "<none>");
  EXPECT_EQ(Bytes(TString().lowerCase()), "<none>");
  EXPECT_EQ(Bytes(TString("aB\xc4z\0c", 6).upperCase()), "AB\xc4Z\0c"s);
  // remove(start) and remove(start, count): beyond, past or at the end, never wrapping around.
  EXPECT_EQ(Bytes(TString("abc").remove(1)), "<none>");
  EXPECT_EQ(Bytes(TString("abc").remove(4)), "abc");
  EXPECT_EQ(Bytes(TString("abc").remove(4, 1)), "abc");
  EXPECT_EQ(Bytes(TString("abc").remove(3, 10)), "ab");
  EXPECT_EQ(Bytes(TString("abc").remove(2, ~0u)), "a");
  EXPECT_EQ(Bytes(TString("abc").remove(1, 3)), "<none>");
  EXPECT_EQ(Bytes(TString().remove(2)), "<none>");
  EXPECT_EQ(Bytes(TString("").remove(1)), "");
  // subString(start), then with a count: padded, start 0 as 1, beyond the end, after a NUL.
  const TString abcd("abcd");
  EXPECT_EQ(Bytes(abcd.subString(3)), "cd");
  EXPECT_EQ(Bytes(abcd.subString(5)), "<none>");
  EXPECT_EQ(Bytes(TString().subString(1)), "<none>");
  EXPECT_EQ(Bytes(abcd.subString(3, 5, '*')), "cd***");
  EXPECT_EQ(Bytes(abcd.subString(0, 2, '*')), "ab");
  EXPECT_EQ(Bytes(abcd.subString(2, 2, '*')), "bc");
  EXPECT_EQ(Bytes(abcd.subString(9, 3)), "   ");
  EXPECT_EQ(Bytes(TString("a\0b", 3).subString(2, 3, '.')), "\0b."s);
}

TEST(TString, SearchGivesOneBasedPositionsAndChangeReplacesNonOverlappingOccurrences) {
  const TString s("abcab\0cab", 9);
  // indexOf(char): from 3, from 0 (as 1), a NUL byte, none, from beyond the end, no buffer.
  EXPECT_EQ(s.indexOf('b', 3), 5u);
  EXPECT_EQ(s.indexOf('a', 0), 1u);
  EXPECT_EQ(s.indexOf('\0'), 6u);
  EXPECT_EQ(s.indexOf('z'), 0u);
  EXPECT_EQ(s.indexOf('b', 10), 0u);
  EXPECT_EQ(TString().indexOf('a'), 0u);
  // indexOf(text): from 2, past the NUL, longer than what is left, empty, after a partial match.
  EXPECT_EQ(s.indexOf("ab", 2), 4u);
  EXPECT_EQ(s.indexOf("ab", 5), 8u);
  EXPECT_EQ(s.indexOf("ab", 9), 0u);
  EXPECT_EQ(s.indexOf("", 4), 4u);
  EXPECT_EQ(TString("aab").indexOf("ab"), 2u);
  // indexOfAnyOf, indexOfAnyBut: from 4, a byte above 0x7f, the first other byte, none.
  EXPECT_EQ(s.indexOfAnyOf("cx", 4), 7u);
  EXPECT_EQ(TString("\x80\xff").indexOfAnyOf("\xff"), 2u);
  EXPECT_EQ(s.indexOfAnyBut("abc"), 6u);
  EXPECT_EQ(TString("aaa").indexOfAnyBut("a"), 0u);
  // lastIndexOf: from the end (all ones), from 1, none up to 2, from beyond the end, empty.
  EXPECT_EQ(s.lastIndexOf('a'), 8u);
  EXPECT_EQ(s.lastIndexOf('a', 1), 1u);
  EXPECT_EQ(s.lastIndexOf('c', 2), 0u);
  EXPECT_EQ(s.lastIndexOf('a', 10), 0u);
  EXPECT_EQ(TString("").lastIndexOf('\0'), 0u);
  // change: non-overlapping; an empty pattern: no change; by nothing from `start`, at most `count`;
  // count 0 (no search: start 0 accepted) and no buffer: no change; a TString counts all bytes.
  EXPECT_EQ(Bytes(TString("aaa").change("aa", "b")), "ba");
  EXPECT_EQ(Bytes(TString("abc").change("", "x")), "abc");
  EXPECT_EQ(Bytes(TString("a-a-a-a").change("a", "", 2, 2)), "a---a");
  EXPECT_EQ(Bytes(TString("abc").change("b", "x", 0, 0)), "abc");
  EXPECT_EQ(Bytes(TString().change("a", "b")), "<none>");
  EXPECT_EQ(Bytes(TString("a.b").change(".", TString("\0", 1))), "a\0b"s);
  TString copy = s; // nothing found: untouched, still shared
  EXPECT_EQ(Buffer(copy.change("q", "r")), Buffer(s));
}

TEST(TString, SearchesAndChangeReachTheLastByteOfTheLongestString) {
  constexpr unsigned int kMax = UINT32_MAX;
  if (SIZE_MAX == UINT32_MAX) { // a 32-bit address space cannot hold it: refused, not wrapped
    EXPECT_THROW(TString(nullptr, kMax, 'a'), std::bad_alloc);
    return;
  }
  // The string, and the copy that change makes, with room to spare.
  const std::string noRoom = NoRoomFor((2ULL << 32) + (1ULL << 30));
  if (!noRoom.empty()) {
    GTEST_SKIP() << noRoom;
  }
  TString s(nullptr, kMax, 'a');
  s[kMax - 1] = 'x';
  s[kMax] = 'y';
  // Nothing to find after the start: a position counter that wraps finds byte 1 instead.
  EXPECT_EQ(s.indexOfAnyOf("a", kMax - 1), 0u);
  EXPECT_EQ(s.indexOfAnyBut("xy", kMax - 1), 0u);
  EXPECT_EQ(s.indexOfAnyOf("y", kMax - 9), kMax);
  EXPECT_EQ(s.indexOfAnyBut("ax", kMax - 9), kMax);
  EXPECT_EQ(s.indexOfAnyOf("xy", kMax), kMax);
  EXPECT_EQ(s.indexOf("xy", kMax - 9), kMax - 1);
  EXPECT_EQ(s.lastIndexOf('x'), kMax - 1);
  // A match that ends on the last byte, with more occurrences allowed after it.
  s.change("xy", "XY", kMax - 9, 5);
  const TString& changed = s;
  EXPECT_EQ((std::string{changed[kMax - 2], changed[kMax - 1], changed[kMax]}), "aXY");
  EXPECT_EQ(s.length(), kMax);
}

TEST(TString, ComparisonsUseLengthsAndUnsignedBytesAndConversionsSaturate) {
  const TString ab("ab");
  const TString aNulB("a\0b", 3);
  EXPECT_EQ(aNulB.isEqual(TString("a\0b", 3)), 1);
  EXPECT_EQ(aNulB.isEqual(TString("a\0c", 3)), 0);
  EXPECT_EQ(ab.isEqual("abc"), 0);
  EXPECT_EQ(TString("\x7f").isLessThan("\x80"), 1);
  EXPECT_EQ(ab.isLessThan("abc"), 1);
  EXPECT_EQ(TString("abc").isLessThan(ab), 0);
  EXPECT_EQ(aNulB.isLessThan(TString("a\0c", 3)), 1);
  // isAbbreviationFor: a prefix, a mismatch, only `minimum` bytes compared, `minimum` beyond
  // this string or the full text, this string longer than the full text, a NUL, no buffer.
  EXPECT_EQ(ab.isAbbreviationFor("abc"), 1);
  EXPECT_EQ(ab.isAbbreviationFor("axc"), 0);
  EXPECT_EQ(ab.isAbbreviationFor("axc", 1), 1);
  EXPECT_EQ(ab.isAbbreviationFor("abc", 3), 0);
  EXPECT_EQ(ab.isAbbreviationFor("ab", 3), 0);
  EXPECT_EQ(ab.isAbbreviationFor("a", 1), 0);
  EXPECT_EQ(ab.isAbbreviationFor(TString("a\0", 2)), 0);
  EXPECT_EQ(TString().isAbbreviationFor(static_cast<const char*>(nullptr)), 1);
  EXPECT_EQ(TString().isAbbreviationFor("abc", 1), 0);
  EXPECT_EQ(TString().isDigits(), 0);
  EXPECT_EQ(TString("").isDigits(), 1);
  EXPECT_EQ(TString("0123456789").isDigits(), 1);
  EXPECT_EQ(TString("1\0002", 3).isDigits(), 0);
  EXPECT_EQ(TString().isBinaryDigits(), 0);
  EXPECT_EQ(TString("0110").isBinaryDigits(), 1);
  EXPECT_EQ(TString("012").isBinaryDigits(), 0);
  EXPECT_EQ(TString().asInt(), 0);
  EXPECT_EQ(TString("  -17x").asInt(), -17);
  EXPECT_EQ(TString("99999999999").asInt(), 2147483647);
  EXPECT_EQ(TString("-99999999999").asInt(), -2147483647 - 1);
  // asUnsigned: saturated, negated, a plus sign; a minus not followed by a digit: no number.
  EXPECT_EQ(TString().asUnsigned(), 0u);
  EXPECT_EQ(TString("4294967296").asUnsigned(), 4294967295u);
  EXPECT_EQ(TString(" -5").asUnsigned(), 4294967291u);
  EXPECT_EQ(TString("-4294967296").asUnsigned(), 4294967295u);
  EXPECT_EQ(TString("+7x").asUnsigned(), 7u);
  EXPECT_EQ(TString("-+5").asUnsigned(), 0u);
  EXPECT_EQ(TString("--5").asUnsigned(), 0u);
  EXPECT_EQ(TString("- 5").asUnsigned(), 0u);
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
      {"const [0]", [](const TString& s) { (void)s[0u]; }, kIndex, 194, 194},
      {"const [4]", [](const TString& s) { (void)s[4u]; }, kIndex, 194, 194},
      {"[0]", [](TString& s) { s[0u] = 'x'; }, kIndex, 203, 203},
      // An int position below 1 fails as 0 does, never growing the string by 4 GiB.
      {"const [-1]", [](const TString& s) { (void)s[-1]; }, kIndex, 194, 194},
      {"[-1]", [](TString& s) { s[-1] = 'x'; }, kIndex, 203, 203},
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
  EXPECT_EQ(hello.IsEqual("hELLO"), 1);
  EXPECT_EQ(hello.IsEqual("Hellp"), 0);
  EXPECT_EQ(hello.IsEqual("Hell"), 0);
  EXPECT_EQ(TStringIcmp().IsEqual(""), 0);
  EXPECT_EQ(TStringIcmp("").IsEqual(TStringIcmp()), 0);
  EXPECT_EQ(TStringIcmp().IsEqual(TStringIcmp()), 1);
  EXPECT_EQ(nul.IsEqual("AB"), 1);
  EXPECT_EQ(TStringIcmp("\xc4").IsEqual("\xe4"), 0);
  EXPECT_EQ(static_cast<const TString&>(hello).isEqual(TStringIcmp("hello")), 0);
}

TEST(TStringAndWipe, MarkedBuffersAreZeroedByWipeAndByTheirLastRelease) {
  if (kNoLibraryFreesSeenReason != nullptr) {
    GTEST_SKIP() << kNoLibraryFreesSeenReason;
  }
  EXPECT_EQ(Bytes(TStringAndWipe(static_cast<const char*>(nullptr))), "<none>");
  TStringAndWipe().Wipe(); // no buffer: nothing to zero
  const TString plain("ab\0cd", 5);
  TStringAndWipe wiping(plain);
  wiping.Wipe(); // zeroes the shared buffer in place, without unsharing
  EXPECT_EQ(Bytes(plain), std::string(5, '\0'));
  std::optional<TString> secret(TStringAndWipe(TString("pass\0word", 9))); // past a NUL too
  std::optional<TString> sharer(secret);
  // Long enough to skip the cache of short blocks, which would keep it from the heap.
  const std::string publicText(200, 'p');
  std::optional<TString> unmarked(publicText.c_str());
  EXPECT_EQ(Freed(secret), "<live>");
  EXPECT_EQ(Freed(sharer), std::string(11, '\0'));
  EXPECT_EQ(Freed(unmarked), publicText.substr(0, sizeof gFreed));
  std::optional<TString> key(TStringAndWipe("key")); // += releases the old buffer wiped
  std::optional<TString> shortened(
      TStringAndWipe("abcdef")); // shortened in place: the removed bytes too
  EXPECT_EQ(Freed(key, [](TString& s) { s += "-2"; }), std::string(5, '\0'));
  EXPECT_EQ(Freed(shortened, [](TString& s) { s.remove(3); }), std::string(8, '\0'));
}

// Short texts take their blocks from a per-thread cache of three block sizes. Strings of every
// length across the sizes' edges keep their texts while others are made and dropped around
// them, on several threads at once; those that outlive their thread end on another. (A block
// too small, one used after its drop or a thread's cache left behind is the sanitizers' to see.)
TEST(TStringThreaded, ShortBuffersKeepTheirTextsAcrossSizesAndThreads) {
  constexpr unsigned kLongest = 140; // past the largest cached size
  auto fill = [](unsigned thread, unsigned length) {
    return static_cast<char>('a' + (length * 7 + thread) % 26);
  };
  auto churn = [&](unsigned thread, std::vector<TString>* kept) {
    for (int round = 0; round < 40; ++round) {
      for (unsigned length = 0; length <= kLongest; ++length) {
        const TString text(nullptr, length, fill(thread, length));
        if (round == 0 && length % 3 == 0) {
          kept->push_back(text); // lives on while later rounds reuse the blocks around it
        }
      }
    }
  };
  auto expectKept = [&](unsigned thread, const std::vector<TString>& kept) {
    ASSERT_EQ(kept.size(), kLongest / 3 + 1);
    for (unsigned i = 0; i < kept.size(); ++i) {
      EXPECT_EQ(Bytes(kept[i]), std::string(i * 3, fill(thread, i * 3))) << "thread " << thread;
    }
  };
  std::vector<TString> kept[4];
  std::vector<std::thread> threads;
  for (unsigned thread = 1; thread < 4; ++thread) {
    threads.emplace_back(churn, thread, &kept[thread]);
  }
  churn(0, &kept[0]);
  for (std::thread& thread : threads) {
    thread.join();
  }
  for (unsigned thread = 0; thread < 4; ++thread) {
    expectKept(thread, kept[thread]);
  }
}
