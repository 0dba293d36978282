// tests/tstring_test.cpp: tests of TString, TStringIcmp and TStringAndWipe.
// Licensed under the Apache License, Version 2.0.
//
// This executable replaces the global operator new and delete (backed by malloc and free) so
// that a test can snapshot a string buffer's bytes at the moment the buffer is released,
// without ever reading freed memory.
#include <tavutil/exception.h>
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

// --------------------------------------------------------- allocation hooks ----

namespace {

/// The text a test watches, and the bytes it held when its block was released.
struct WatchState {
  std::uintptr_t text = 0; // 0: nothing watched
  std::size_t bytes = 0;
  bool released = false;
  unsigned char snapshot[256] = {};
};
WatchState gWatch;

// clang-format off
void* Allocate(std::size_t size) noexcept { return std::malloc(size != 0 ? size : 1); }
// clang-format on

void* AllocateAligned(std::size_t size, std::align_val_t alignment) noexcept {
  std::size_t align = static_cast<std::size_t>(alignment);
  align = align < sizeof(void*) ? sizeof(void*) : align;
  void* p = nullptr;
  return posix_memalign(&p, align, size != 0 ? size : 1) == 0 ? p : nullptr;
}

void* OrThrow(void* p) {
  if (p == nullptr) {
    throw std::bad_alloc();
  }
  return p;
}

/// Frees a block, first copying the watched bytes when they lie inside it.
void Release(void* p) noexcept {
  if (p != nullptr && gWatch.text != 0) {
    const auto block = reinterpret_cast<std::uintptr_t>(p);
    if (gWatch.text >= block && gWatch.text + gWatch.bytes <= block + malloc_usable_size(p)) {
      std::memcpy(gWatch.snapshot, reinterpret_cast<const void*>(gWatch.text), gWatch.bytes);
      gWatch.released = true;
      gWatch.text = 0;
    }
  }
  std::free(p);
}

} // namespace

// Every replaceable form, so that no allocation of the program bypasses the watch.
// clang-format off
void* operator new(std::size_t n) { return OrThrow(Allocate(n)); }
void* operator new[](std::size_t n) { return OrThrow(Allocate(n)); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return Allocate(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return Allocate(n); }
void* operator new(std::size_t n, std::align_val_t a) { return OrThrow(AllocateAligned(n, a)); }
void* operator new[](std::size_t n, std::align_val_t a) { return OrThrow(AllocateAligned(n, a)); }
void* operator new(std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept { return AllocateAligned(n, a); }
void* operator new[](std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept { return AllocateAligned(n, a); }
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, std::size_t) noexcept { Release(p); }
void operator delete[](void* p, std::size_t) noexcept { Release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { Release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { Release(p); }
void operator delete(void* p, std::align_val_t) noexcept { Release(p); }
void operator delete[](void* p, std::align_val_t) noexcept { Release(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { Release(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { Release(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { Release(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { Release(p); }
// clang-format on

namespace {

/// Watches one string's buffer: its text and the two zero bytes after it are copied when the
/// block is released.
class ReleaseWatch {
public:
  explicit ReleaseWatch(const TString& s) {
    gWatch = WatchState{};
    gWatch.bytes = s.length() + 2;
    EXPECT_LE(gWatch.bytes, sizeof gWatch.snapshot);
    gWatch.text = reinterpret_cast<std::uintptr_t>(static_cast<char*>(s));
  }
  ReleaseWatch(const ReleaseWatch&) = delete;
  ReleaseWatch& operator=(const ReleaseWatch&) = delete;
  ~ReleaseWatch() { gWatch = WatchState{}; }

  bool released() const { return gWatch.released; }
  std::string bytes() const {
    return std::string(reinterpret_cast<const char*>(gWatch.snapshot), gWatch.bytes);
  }
};

// ------------------------------------------------------------------ helpers ----

/// The string's bytes (empty without a buffer).
std::string Bytes(const TString& s) {
  const char* text = s;
  return text != nullptr ? std::string(text, s.length()) : std::string();
}

/// A string holding exactly these bytes.
TString Of(const std::string& bytes) {
  return TString(bytes.data(), static_cast<unsigned int>(bytes.size()));
}

/// The buffer identity of a handle (null without a buffer).
const void* Buffer(const TString& s) {
  return static_cast<char*>(s);
}
bool HasBuffer(const TString& s) {
  return Buffer(s) != nullptr;
}

std::string Printed(const TString& s) {
  std::ostringstream os;
  s.Print(os);
  return os.str();
}

constexpr unsigned int kAllOnes = static_cast<unsigned int>(-1);

} // namespace

// ------------------------------------------------------------------ TString ----

TEST(TString, NoBufferDiffersFromEmptyBuffer) {
  const TString none;
  const TString empty("");
  for (const TString& s : {none, TString(static_cast<const char*>(nullptr)),
                           TString(static_cast<const _Wchar_t*>(nullptr))}) {
    EXPECT_FALSE(HasBuffer(s));
    EXPECT_EQ(s.length(), 0u);
    EXPECT_EQ(s.size(), 0u);
    EXPECT_EQ(Printed(s), "<NULL>");
  }
  ASSERT_TRUE(HasBuffer(empty));
  EXPECT_EQ(empty.length(), 0u);
  EXPECT_EQ(*static_cast<char*>(empty), '\0');
  EXPECT_EQ(Printed(empty), "");

  // The empty buffer equals no buffer, not the other way round.
  EXPECT_TRUE(empty.isEqual(none));
  EXPECT_FALSE(none.isEqual(empty));
  EXPECT_TRUE(none.IsEqual(TString()));
  EXPECT_TRUE(none.isLessThan(empty));
  EXPECT_FALSE(empty.isLessThan(none));
  EXPECT_FALSE(none.isLessThan(TString()));

  // Concatenation keeps "no buffer" only when both sides have none.
  EXPECT_FALSE(HasBuffer(none + none));
  EXPECT_FALSE(HasBuffer(none + ""));
  EXPECT_FALSE(HasBuffer(none + static_cast<const char*>(nullptr)));
  EXPECT_TRUE(HasBuffer(none + empty));
  EXPECT_TRUE(HasBuffer(empty + none));
}

TEST(TString, ConstructorsCopyBytesAndTheWideOneSetsUnicode) {
  const TString data(Of("ab\0cd"s));
  EXPECT_EQ(data.length(), 5u);
  EXPECT_EQ(Printed(data), "ab\0cd"s);
  EXPECT_EQ(std::memcmp(static_cast<char*>(data), "ab\0cd\0\0", 7), 0);
  EXPECT_EQ(Bytes(TString(nullptr, 3, '*')), "***");
  EXPECT_TRUE(HasBuffer(TString(nullptr, 0, '*')));

  const TString wide(u"abc");
  EXPECT_EQ(wide.length(), 6u);
  EXPECT_TRUE(wide.IsUnicode());
  EXPECT_FALSE(wide.IsWipeOnDelete());
  EXPECT_EQ(std::memcmp(static_cast<char*>(wide), u"abc", 8), 0); // text and a zero unit
  EXPECT_EQ(TString::lengthOf(u"abc"), 3u);
}

TEST(TString, CopyAndAssignmentShareTheBuffer) {
  TString a("abc");
  TString b = a;
  TString c("xyz");
  c = a;
  EXPECT_EQ(Buffer(b), Buffer(a));
  EXPECT_EQ(Buffer(c), Buffer(a));
  TString& alias = c;
  c = alias;
  b = c;                          // a handle that already shares the buffer
  static_cast<char*>(a)[0] = 'Q'; // the char* conversion never unshares
  EXPECT_EQ(Bytes(b), "Qbc");
  EXPECT_EQ(Bytes(c), "Qbc");
  b = TString();
  EXPECT_FALSE(HasBuffer(b));
  EXPECT_EQ(Bytes(a), "Qbc");
}

TEST(TString, NonConstIndexNeverUnsharesButGrowsWithZeroBytes) {
  TString s("abc");
  const TString t = s;
  s[1u] = 'X';
  EXPECT_EQ(Bytes(t), "Xbc");

  s.SetWipeOnDelete(1);
  s[5u] = 'e';
  EXPECT_EQ(Bytes(s), "Xbc\0e"s);
  EXPECT_FALSE(s.IsWipeOnDelete());
  EXPECT_EQ(Bytes(t), "Xbc");
  EXPECT_TRUE(t.IsWipeOnDelete());

  TString grown("abc");
  EXPECT_EQ(grown[4u], '\0');
  EXPECT_EQ(Bytes(grown), "abc\0"s);
  EXPECT_EQ(std::as_const(grown)[4u], '\0');
  TString none;
  EXPECT_EQ(none[3u], '\0');
  EXPECT_EQ(Bytes(none), "\0\0\0"s);
}

TEST(TString, AppendAlwaysMakesANewUnmarkedBuffer) {
  TString s("ab");
  s.SetUnicode(1);
  s.SetWipeOnDelete(1);
  const void* before = Buffer(s);
  s += "cd";
  EXPECT_NE(Buffer(s), before);
  EXPECT_EQ(Bytes(s), "abcd");
  EXPECT_FALSE(s.IsUnicode());
  EXPECT_FALSE(s.IsWipeOnDelete());

  const TString keep = s;
  s += Of("\0e"s); // a TString operand appends all its bytes
  EXPECT_EQ(Bytes(s), "abcd\0e"s);
  EXPECT_EQ(Bytes(keep), "abcd");
  before = Buffer(s);
  s += static_cast<const char*>(nullptr); // counts as empty, still a new buffer
  EXPECT_NE(Buffer(s), before);
  EXPECT_EQ(Bytes(s), "abcd\0e"s);

  TString self("xy");
  self += self;
  self += static_cast<char*>(self) + 2; // the operand points into the string itself
  EXPECT_EQ(Bytes(self), "xyxyxy");

  TString none;
  none += Of("pq\0r"s); // without a buffer: only up to the first NUL byte
  EXPECT_EQ(Bytes(none), "pq");
  TString none2;
  none2 += TString();
  EXPECT_FALSE(HasBuffer(none2));
  none2 += "";
  EXPECT_TRUE(HasBuffer(none2));
  EXPECT_EQ(Bytes(Of("a\0"s) + Of("\0b"s)), "a\0\0b"s);
  EXPECT_EQ(Bytes(TString("ab") + "cd"), "abcd");
}

TEST(TString, BytewiseOperatorsUnshareOnlyWhenShared) {
  TString s(Of("\x0f\xf0\x55"s));
  s.SetWipeOnDelete(1);
  const void* before = Buffer(s);
  s ^= Of("\xff\xff\x00"s);
  EXPECT_EQ(Bytes(s), "\xf0\x0f\x55"s);
  EXPECT_EQ(Buffer(s), before);
  EXPECT_TRUE(s.IsWipeOnDelete());

  const TString shared = s;
  s |= Of("\x01\x01\x01"s);
  EXPECT_EQ(Bytes(s), "\xf1\x0f\x55"s);
  EXPECT_EQ(Bytes(shared), "\xf0\x0f\x55"s);
  EXPECT_FALSE(s.IsWipeOnDelete());
  s &= Of("\x0f\xff\xf0"s);
  EXPECT_EQ(Bytes(s), "\x01\x0f\x50"s);

  TString x("ab");
  const TString& same = x;
  x ^= same; // the operand is the string itself
  EXPECT_EQ(Bytes(x), "\0\0"s);
  TString shorter("abc");
  shorter &= TString("\xff"); // only this string's length counts; missing bytes are zero
  EXPECT_EQ(Bytes(shorter), "a\0\0"s);
  TString none;
  none ^= TString("ab");
  EXPECT_FALSE(HasBuffer(none));
}

TEST(TString, CaseChangesStopAtTheFirstNulAndUnshareOnlyWhenShared) {
  TString s(Of("aB\xc4z\0Cd"s));
  s.SetWipeOnDelete(1);
  const void* before = Buffer(s);
  s.upperCase();
  EXPECT_EQ(Bytes(s), "AB\xc4Z\0Cd"s);
  EXPECT_EQ(Buffer(s), before);
  EXPECT_TRUE(s.IsWipeOnDelete());

  const TString shared = s;
  s.lowerCase();
  EXPECT_EQ(Bytes(s), "ab\xc4z\0Cd"s);
  EXPECT_EQ(Bytes(shared), "AB\xc4Z\0Cd"s);
  EXPECT_FALSE(s.IsWipeOnDelete());
  TString none;
  EXPECT_FALSE(HasBuffer(none.lowerCase().upperCase()));
}

TEST(TString, RemoveKeepsFlagsWhenUnshared) {
  std::optional<TString> s(std::in_place, "abcdef");
  s->SetWipeOnDelete(1);
  s->SetUnicode(1);
  const void* before = Buffer(*s);
  s->remove(5);
  EXPECT_EQ(std::memcmp(static_cast<char*>(*s), "abcd\0\0", 6), 0);
  s->remove(2, 2);
  EXPECT_EQ(std::memcmp(static_cast<char*>(*s), "ad\0\0", 4), 0);
  EXPECT_EQ(s->length(), 2u);
  EXPECT_EQ(Buffer(*s), before);
  EXPECT_TRUE(s->IsUnicode());
  EXPECT_TRUE(s->IsWipeOnDelete());

  ReleaseWatch watch(*s); // the shortened buffer is still wiped on release
  s.reset();
  ASSERT_TRUE(watch.released());
  EXPECT_EQ(watch.bytes(), std::string(4, '\0'));
}

TEST(TString, RemoveOnASharedBufferMakesANewUnmarkedOne) {
  TString s("abcdef");
  s.SetWipeOnDelete(1);
  const TString keep = s;
  s.remove(3);
  EXPECT_EQ(Bytes(s), "ab");
  EXPECT_FALSE(s.IsWipeOnDelete());
  s = keep;
  s.remove(2, 3);
  EXPECT_EQ(Bytes(s), "aef");
  EXPECT_FALSE(s.IsWipeOnDelete());
  EXPECT_EQ(Bytes(keep), "abcdef");
  EXPECT_TRUE(keep.IsWipeOnDelete());
}

TEST(TString, RemoveFollowsItsRulesInOrder) {
  const TString base("abcdef");
  auto cut = [&](unsigned int start, unsigned int count) {
    TString s(static_cast<const char*>(base));
    return s.remove(start, count);
  };
  EXPECT_FALSE(HasBuffer(TString(base).remove(1)));
  EXPECT_EQ(Bytes(TString(base).remove(6)), "abcde");
  EXPECT_EQ(Buffer(TString(base).remove(7)), Buffer(base));
  EXPECT_FALSE(HasBuffer(TString().remove(2)));
  EXPECT_TRUE(HasBuffer(TString("").remove(1)));

  EXPECT_EQ(Bytes(cut(7, 1)), "abcdef");   // start beyond the end
  EXPECT_EQ(Bytes(cut(5, 10)), "abcd");    // runs past the end: acts as remove(5)
  EXPECT_FALSE(HasBuffer(cut(1, 9)));      // the same, from 1
  EXPECT_EQ(Bytes(cut(2, kAllOnes)), "a"); // start + count does not wrap around
  EXPECT_FALSE(HasBuffer(cut(1, 6)));      // the whole length
  EXPECT_EQ(Bytes(cut(4, 3)), "abc");
  EXPECT_EQ(Bytes(cut(1, 1)), "bcdef");
  EXPECT_EQ(Bytes(cut(3, 0)), "abcdef");
  EXPECT_FALSE(HasBuffer(TString().remove(1, 1)));
}

TEST(TString, SubStringsAreNewBuffersPaddedToTheCount) {
  TString abcd("abcd");
  abcd.SetWipeOnDelete(1);
  EXPECT_EQ(Bytes(abcd.subString(3)), "cd");
  EXPECT_NE(Buffer(abcd.subString(1)), Buffer(abcd));
  EXPECT_FALSE(abcd.subString(1).IsWipeOnDelete());
  EXPECT_FALSE(HasBuffer(abcd.subString(5)));
  EXPECT_FALSE(HasBuffer(TString().subString(1)));

  EXPECT_EQ(Bytes(abcd.subString(3, 5, '*')), "cd***");
  EXPECT_EQ(Bytes(abcd.subString(4, 2, '*')), "d*");
  EXPECT_EQ(Bytes(abcd.subString(5, 2, '*')), "**");
  EXPECT_EQ(Bytes(abcd.subString(2, 2, '*')), "bc");
  EXPECT_EQ(Bytes(abcd.subString(9, 3)), "   ");
  EXPECT_EQ(Bytes(TString().subString(1, 3, '-')), "---");
  EXPECT_TRUE(HasBuffer(abcd.subString(2, 0, '*')));
  EXPECT_FALSE(abcd.subString(1, 4, '*').IsWipeOnDelete());
  EXPECT_EQ(Bytes(Of("a\0b"s).subString(2, 3, '.')), "\0b."s);
}

TEST(TString, SearchGivesOneBasedPositionsAndZeroWhenNotFound) {
  const TString s(Of("abcab\0cab"s)); // 9 bytes
  EXPECT_EQ(s.indexOf('b', 3), 5u);
  EXPECT_EQ(s.indexOf('\0'), 6u);
  EXPECT_EQ(s.indexOf('z'), 0u);
  EXPECT_EQ(s.indexOf('b', 10), 0u);
  EXPECT_EQ(TString().indexOf('a'), 0u);

  EXPECT_EQ(s.indexOf("ab", 2), 4u);
  EXPECT_EQ(s.indexOf("ab", 5), 8u); // found past the embedded NUL
  EXPECT_EQ(s.indexOf("ab", 9), 0u); // longer than what is left
  EXPECT_EQ(s.indexOf("", 4), 4u);
  EXPECT_EQ(s.indexOf("", 10), 0u);
  EXPECT_EQ(TString().indexOf(""), 0u);
  EXPECT_EQ(TString("aab").indexOf("ab"), 2u); // a partial match does not skip ahead

  EXPECT_EQ(s.indexOfAnyOf("cx", 4), 7u);
  EXPECT_EQ(s.indexOfAnyOf(""), 0u);
  EXPECT_EQ(TString().indexOfAnyOf("a"), 0u);
  EXPECT_EQ(TString("\x80\xff").indexOfAnyOf("\xff"), 2u);
  EXPECT_EQ(s.indexOfAnyBut("abc"), 6u);
  EXPECT_EQ(s.indexOfAnyBut("", 7), 7u);
  EXPECT_EQ(s.indexOfAnyBut("", 10), 0u);
  EXPECT_EQ(TString("aaa").indexOfAnyBut("a"), 0u);

  EXPECT_EQ(s.lastIndexOf('a', kAllOnes), 8u);
  EXPECT_EQ(s.lastIndexOf('a', 7), 4u);
  EXPECT_EQ(s.lastIndexOf('a', 1), 1u);
  EXPECT_EQ(s.lastIndexOf('c', 2), 0u);
  EXPECT_EQ(s.lastIndexOf('a', 10), 0u);
  EXPECT_EQ(s.lastIndexOf('\0'), 6u);
  EXPECT_EQ(TString().lastIndexOf('a'), 0u);
  EXPECT_EQ(TString("").lastIndexOf('\0'), 0u);
}

TEST(TString, ChangeReplacesNonOverlappingOccurrences) {
  auto changed = [](const char* text, const char* pattern, const char* replacement,
                    unsigned int start = 1, unsigned int count = kAllOnes) {
    TString s(text);
    return Bytes(s.change(pattern, replacement, start, count));
  };
  EXPECT_EQ(changed("aaaa", "aa", "b", 1, 10), "bb");
  EXPECT_EQ(changed("aaa", "aa", "b", 1, 10), "ba");
  EXPECT_EQ(changed("a-a-a-a", "a", "xyz", 1, 2), "xyz-xyz-a-a");
  EXPECT_EQ(changed("a-a-a-a", "a", "", 2), "a---");
  EXPECT_EQ(changed("a-a-a-a", "a", "b", 7), "a-a-a-b");
  EXPECT_EQ(changed("abc", "zz", "x"), "abc");
  EXPECT_EQ(changed("abc", "", "x"), "abc");
  EXPECT_EQ(changed("abc", "b", "x", 0, 0), "abc"); // count 0: no search, start 0 accepted

  TString s("abab");
  s.change("b", s); // the replacement is the string itself
  EXPECT_EQ(Bytes(s), "aababaabab");
  TString t("a.b");
  t.change(".", Of("\0"s)); // a TString replacement counts all its bytes
  EXPECT_EQ(Bytes(t), "a\0b"s);

  TString marked("xyx");
  marked.SetWipeOnDelete(1);
  const TString keep = marked;
  marked.change("q", "r");
  EXPECT_EQ(Buffer(marked), Buffer(keep)); // nothing found: untouched
  marked.change("y", "Y");
  EXPECT_EQ(Bytes(marked), "xYx");
  EXPECT_FALSE(marked.IsWipeOnDelete());
  EXPECT_EQ(Bytes(keep), "xyx");
  TString none;
  EXPECT_FALSE(HasBuffer(none.change("a", "b")));
}

TEST(TString, ComparisonsUseLengthsAndUnsignedBytes) {
  EXPECT_TRUE(Of("a\0b"s).isEqual(Of("a\0b"s)));
  EXPECT_FALSE(Of("a\0b"s).isEqual(Of("a\0c"s)));
  EXPECT_FALSE(TString("ab").isEqual(TString("abc")));

  EXPECT_TRUE(TString("\x7f").isLessThan(TString("\x80")));
  EXPECT_FALSE(TString("\x80").isLessThan(TString("\x7f")));
  EXPECT_TRUE(TString("ab").isLessThan(TString("abc")));
  EXPECT_FALSE(TString("abc").isLessThan(TString("ab")));
  EXPECT_TRUE(Of("a\0b"s).isLessThan(Of("a\0c"s)));
  EXPECT_TRUE(TString("").isLessThan(TString("a")));

  EXPECT_TRUE(TString("ab").isAbbreviationFor("abc"));
  EXPECT_FALSE(TString("abd").isAbbreviationFor("abc"));
  EXPECT_TRUE(TString("abd").isAbbreviationFor("abc", 2)); // only n bytes compared
  EXPECT_FALSE(TString("a").isAbbreviationFor("abc", 2));  // n beyond this string
  EXPECT_FALSE(TString("abcd").isAbbreviationFor("abc"));
  EXPECT_FALSE(TString("ab").isAbbreviationFor("ab", 3));
  EXPECT_FALSE(TString("ab").isAbbreviationFor(Of("a\0"s)));
  EXPECT_TRUE(TString().isAbbreviationFor("abc"));
  EXPECT_FALSE(TString().isAbbreviationFor("abc", 1));
  EXPECT_FALSE(TString().isAbbreviationFor(TString(), 1));
  EXPECT_TRUE(TString().isAbbreviationFor(static_cast<const char*>(nullptr)));
}

TEST(TString, DigitTestsAndNumberConversions) {
  EXPECT_FALSE(TString().isDigits());
  EXPECT_TRUE(TString("").isDigits());
  EXPECT_TRUE(TString("0123456789").isDigits());
  EXPECT_FALSE(Of("1\0002"s).isDigits());
  EXPECT_FALSE(TString().isBinaryDigits());
  EXPECT_TRUE(TString("").isBinaryDigits());
  EXPECT_TRUE(TString("0110").isBinaryDigits());
  EXPECT_FALSE(TString("012").isBinaryDigits());

  EXPECT_EQ(TString().asInt(), 0);
  EXPECT_EQ(TString("  -17x").asInt(), -17);
  EXPECT_EQ(Of("12\0003"s).asInt(), 12);
  EXPECT_EQ(TString("99999999999").asInt(), 2147483647);
  EXPECT_EQ(TString("-99999999999").asInt(), -2147483647 - 1);

  EXPECT_EQ(TString().asUnsigned(), 0u);
  EXPECT_EQ(TString("4294967296").asUnsigned(), 4294967295u);
  EXPECT_EQ(TString("-1").asUnsigned(), 4294967295u);
  EXPECT_EQ(TString(" -5").asUnsigned(), 4294967291u);
  EXPECT_EQ(TString("-4294967296").asUnsigned(), 4294967295u);
  EXPECT_EQ(TString("+7x").asUnsigned(), 7u);
  for (const char* noNumber : {"-+5", "--5", "- 5", "+-5", "-"}) {
    EXPECT_EQ(TString(noNumber).asUnsigned(), 0u) << noNumber;
  }
  EXPECT_EQ(TString().asDouble(), 0.0);
  EXPECT_EQ(TString("-2.5e3xyz").asDouble(), -2500.0);
}

TEST(TString, EveryThrowSiteRaisesInvalidRequestAndLeavesTheStringUnchanged) {
  const char* const kIndex = "Bad index value for this String";
  const char* const kTruncate = "Bad value to truncate this String";
  const char* const kStart = "Bad value for the starting position";
  struct Site {
    const char* call;
    std::function<void(TString&)> run;
    const char* text;
    unsigned long line;
    unsigned long lineWithoutBuffer; // remove(0, count) depends on the length
  };
  const std::vector<Site> sites = {
      {"const [0]", [](TString& s) { (void)std::as_const(s)[0u]; }, kIndex, 194, 194},
      {"const [4]", [](TString& s) { (void)std::as_const(s)[4u]; }, kIndex, 194, 194},
      {"[0]", [](TString& s) { s[0u] = 'x'; }, kIndex, 203, 203},
      {"subString(0)", [](TString& s) { (void)s.subString(0); }, kTruncate, 372, 372},
      {"remove(0)", [](TString& s) { s.remove(0); }, kTruncate, 538, 538},
      {"remove(0, 5)", [](TString& s) { s.remove(0, 5); }, kTruncate, 538, 538},
      {"remove(0, 4)", [](TString& s) { s.remove(0, 4); }, kTruncate, 580, 538},
      {"remove(0, 1)", [](TString& s) { s.remove(0, 1); }, kTruncate, 580, 580},
      {"indexOf(p, 0)", [](TString& s) { (void)s.indexOf("b", 0); }, kStart, 629, 629},
      {"change(p, r, 0)", [](TString& s) { s.change("b", "x", 0, 1); }, kStart, 629, 629},
      {"indexOfAnyBut(0)", [](TString& s) { (void)s.indexOfAnyBut("a", 0); }, kStart, 654, 654},
      {"indexOfAnyOf(0)", [](TString& s) { (void)s.indexOfAnyOf("a", 0); }, kStart, 679, 679},
      {"lastIndexOf(0)", [](TString& s) { (void)s.lastIndexOf('a', 0); }, kStart, 700, 700},
  };
  for (const Site& site : sites) {
    for (const bool withBuffer : {true, false}) {
      SCOPED_TRACE(std::string(site.call) + (withBuffer ? " on abc" : " without buffer"));
      TString s = withBuffer ? TString("abc") : TString();
      const TString sharer = s;
      bool thrown = false;
      try {
        site.run(s);
      } catch (const TInvalidRequest& e) {
        thrown = true;
        ExpectLibraryError(e, {"TInvalidRequest", site.text, 1, 1, "utility/TSTRING",
                               withBuffer ? site.line : site.lineWithoutBuffer});
      }
      EXPECT_TRUE(thrown);
      EXPECT_EQ(Buffer(s), Buffer(sharer)); // still shared: not unshared, grown or released
      EXPECT_EQ(s.length(), withBuffer ? 3u : 0u);
      EXPECT_EQ(Bytes(s), withBuffer ? "abc" : "");
    }
  }
}

// ------------------------------------------------------------- TStringIcmp ----

TEST(TStringIcmp, EqualityIgnoresCaseUpToTheFirstNul) {
  const TStringIcmp hello("Hello");
  EXPECT_TRUE(hello.IsEqual(TStringIcmp("hELLO")));
  EXPECT_TRUE(hello.isEqual(hello));
  EXPECT_FALSE(hello.IsEqual(TStringIcmp("Hellp")));
  EXPECT_FALSE(hello.IsEqual(TStringIcmp("Hell")));
  EXPECT_FALSE(static_cast<const TString&>(hello).isEqual(TStringIcmp("hello")));
  TStringIcmp copy;
  copy = hello;
  EXPECT_EQ(Buffer(copy), Buffer(hello));

  const TStringIcmp none;
  EXPECT_TRUE(none.IsEqual(TStringIcmp()));
  EXPECT_FALSE(none.IsEqual(TStringIcmp("")));
  EXPECT_FALSE(TStringIcmp("").IsEqual(none));
  EXPECT_TRUE(TStringIcmp("").IsEqual(TStringIcmp("")));

  TStringIcmp a("ab"); // bytes after the first NUL are not compared
  a += Of("\0x"s);
  TStringIcmp b("AB");
  b += Of("\0yz"s);
  EXPECT_TRUE(a.IsEqual(b));
  EXPECT_FALSE(TStringIcmp("\xc4").IsEqual(TStringIcmp("\xe4"))); // C locale: ASCII only
}

// ---------------------------------------------------------- TStringAndWipe ----

TEST(TStringAndWipe, ConstructorsMarkTheBufferTheyHold) {
  const TStringAndWipe none;
  EXPECT_FALSE(HasBuffer(none));
  EXPECT_FALSE(HasBuffer(TStringAndWipe(static_cast<const char*>(nullptr))));

  TStringAndWipe fromText("secret");
  EXPECT_TRUE(fromText.IsWipeOnDelete());
  fromText += "!";
  EXPECT_EQ(Bytes(fromText), "secret!");
  EXPECT_FALSE(fromText.IsWipeOnDelete());

  const TString plain("shared");
  const TStringAndWipe wiping(plain);
  EXPECT_EQ(Buffer(wiping), Buffer(plain));
  EXPECT_TRUE(plain.IsWipeOnDelete()); // the flag belongs to the shared buffer
}

TEST(TStringAndWipe, LastReleaseZeroesExactlyTheTextBytes) {
  std::optional<TStringAndWipe> secret;
  secret.emplace(Of("pass\0word"s)); // bytes after an embedded NUL are wiped too
  std::optional<TString> sharer(*secret);
  ReleaseWatch watch(*secret);
  secret.reset();
  EXPECT_FALSE(watch.released());
  EXPECT_EQ(Bytes(*sharer), "pass\0word"s);
  sharer.reset();
  ASSERT_TRUE(watch.released());
  EXPECT_EQ(watch.bytes(), std::string(11, '\0'));
}

TEST(TStringAndWipe, AnUnmarkedBufferIsReleasedAsItIs) {
  std::optional<TString> plain(std::in_place, "public");
  ReleaseWatch watch(*plain);
  plain.reset();
  ASSERT_TRUE(watch.released());
  EXPECT_EQ(watch.bytes(), "public\0\0"s);
}

TEST(TStringAndWipe, AppendWipesTheOldBufferAndLeavesTheNewOneUnmarked) {
  std::optional<TStringAndWipe> s(std::in_place, "key");
  {
    ReleaseWatch old(*s);
    *s += "-2";
    ASSERT_TRUE(old.released());
    EXPECT_EQ(old.bytes(), std::string(5, '\0'));
  }
  ReleaseWatch fresh(*s);
  s.reset();
  ASSERT_TRUE(fresh.released());
  EXPECT_EQ(fresh.bytes(), "key-2\0\0"s);
}

TEST(TStringAndWipe, WipeZeroesInPlaceWithoutUnsharing) {
  TStringAndWipe s(Of("ab\0cd"s));
  const TString sharer = s;
  s.Wipe();
  EXPECT_EQ(Buffer(s), Buffer(sharer));
  EXPECT_EQ(sharer.length(), 5u);
  EXPECT_EQ(Bytes(sharer), std::string(5, '\0'));
  TStringAndWipe none;
  none.Wipe();
  EXPECT_FALSE(HasBuffer(none));
}
