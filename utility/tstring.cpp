// utility/tstring.cpp: TString, TStringIcmp and TStringAndWipe.
// Licensed under the Apache License, Version 2.0.
//
// Operating-system independent. A buffer is one block of at least header + length + 2 bytes;
// every longer text makes a new buffer, so there is no spare room to manage. Short texts take
// their blocks from the thread's block cache, which keeps dropped ones for reuse.
#include <tavutil/tstring.h>

#include "internal/ascii.h"
#include "internal/blockcache.h"
#include "internal/stringerror.h"

#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <ostream>
#include <stdexcept>

/// The shared buffer: a header followed by `length` text bytes and two zero bytes.
struct TStringBuffer {
  std::uint32_t referenceCount;
  std::uint32_t flags;
  std::uint32_t length;

  char* Text() noexcept { return reinterpret_cast<char*>(this + 1); }
};

namespace {

using tavutil::detail::RaiseStringError;

constexpr char kBadIndex[] = "Bad index value for this String";
constexpr char kBadTruncate[] = "Bad value to truncate this String";
constexpr char kBadStart[] = "Bad value for the starting position";
// fixed: the lines these errors quote, which are not this file's own
constexpr unsigned long kLineIndexConst = 194;
constexpr unsigned long kLineIndex = 203;
constexpr unsigned long kLineSubString = 372;
constexpr unsigned long kLineRemove = 538;
constexpr unsigned long kLineRemoveRange = 580;
constexpr unsigned long kLineIndexOf = 629;
constexpr unsigned long kLineIndexOfAnyBut = 654;
constexpr unsigned long kLineIndexOfAnyOf = 679;
constexpr unsigned long kLineLastIndexOf = 700;

constexpr std::uint32_t kFlagWipe = 1;
constexpr std::uint32_t kFlagUnicode = 2;
// The block's size class of the block cache (0: a block of its own size) sits in these bits.
constexpr std::uint32_t kBlockClassShift = 8;
constexpr std::uint32_t kBlockClassMask = 0xFFu << kBlockClassShift;
constexpr unsigned int kAllOnes = static_cast<unsigned int>(-1);

/// A length as the 32-bit field holds it; longer texts are refused.
unsigned int CheckedLength(unsigned long long length) {
  if (length > UINT32_MAX) {
    throw std::length_error("TString longer than 4 GiB");
  }
  return static_cast<unsigned int>(length);
}

/// Zeroes bytes in a way the compiler may not drop, even right before a free.
void SecureZero(char* bytes, std::size_t count) noexcept {
  volatile char* next = bytes;
  while (count-- > 0) {
    *next++ = 0;
  }
}

/// Copies `count` bytes; a zero count never touches the (possibly null) pointers.
void CopyBytes(char* to, const char* from, std::size_t count) noexcept {
  if (count != 0) {
    std::memcpy(to, from, count);
  }
}

/// A membership table of the bytes of a NUL-terminated set (null counts as empty).
struct ByteSet {
  explicit ByteSet(const char* set) noexcept {
    for (const char* byte = set; byte != nullptr && *byte != '\0'; ++byte) {
      member[static_cast<unsigned char>(*byte)] = true;
    }
  }
  bool member[UCHAR_MAX + 1] = {};
};

/// The first 1-based position from `start` (at least 1) of the `length` bytes of `text` whose
/// membership in `set` is `wanted`; 0 when there is none. The walk runs on pointers, so no
/// counter can wrap at a length of 2^32 - 1.
unsigned int FindByMembership(const char* text, unsigned int length, const char* set,
                              unsigned int start, bool wanted) noexcept {
  if (start > length) {
    return 0;
  }
  const ByteSet members(set);
  const char* const end = text + length;
  for (const char* byte = text + (start - 1); byte != end; ++byte) {
    if (members.member[static_cast<unsigned char>(*byte)] == wanted) {
      return static_cast<unsigned int>(byte - text) + 1;
    }
  }
  return 0;
}

/// Where the next search of `pattern` in `text` finds it, after a match at `at`; 0 when none.
/// A match that ends on the last byte of a 2^32 - 1 byte string leaves no position after it
/// that 32 bits can hold, and nothing left to search either.
unsigned int FindAfter(const TString& text, const char* pattern, unsigned int at,
                       unsigned int patternLength) {
  const unsigned long long next = 0ULL + at + patternLength;
  return next > text.length() ? 0 : text.indexOf(pattern, static_cast<unsigned int>(next));
}

} // namespace

// ----------------------------------------------------------------- buffers ----

TStringBuffer* TString::AllocateBuffer(unsigned long length, unsigned long referenceCount,
                                       unsigned long flags) {
  const unsigned int checked = CheckedLength(length);
  // Where size_t has 32 bits, the longest texts with header and terminator do not fit it.
  if (std::size_t{checked} > SIZE_MAX - sizeof(TStringBuffer) - 2) {
    throw std::bad_alloc();
  }
  std::uint32_t blockClass = 0;
  void* memory =
      tavutil::detail::TakeBlock(sizeof(TStringBuffer) + std::size_t{checked} + 2, blockClass);
  auto* buffer = static_cast<TStringBuffer*>(memory);
  buffer->referenceCount = static_cast<std::uint32_t>(referenceCount);
  buffer->flags = static_cast<std::uint32_t>(flags) | (blockClass << kBlockClassShift);
  buffer->length = checked;
  buffer->Text()[checked] = '\0';
  buffer->Text()[checked + 1] = '\0';
  return buffer;
}

void TString::DecrementAndFree() noexcept {
  if (--fBuffer->referenceCount == 0) {
    std::uint32_t blockClass = (fBuffer->flags & kBlockClassMask) >> kBlockClassShift;
    if ((fBuffer->flags & kFlagWipe) != 0) {
      SecureZero(fBuffer->Text(), fBuffer->length);
      blockClass = 0; // a secret's block goes back to the heap, not to the next string
    }
    tavutil::detail::DropBlock(fBuffer, blockClass);
  }
}

void TString::Adopt(TStringBuffer* buffer) noexcept {
  if (fBuffer != nullptr) {
    DecrementAndFree();
  }
  fBuffer = buffer;
}

void TString::MakeUnique(unsigned int newLength) {
  TStringBuffer* fresh = AllocateBuffer(newLength, 1, 0);
  const unsigned int kept = newLength < fBuffer->length ? newLength : fBuffer->length;
  CopyBytes(fresh->Text(), fBuffer->Text(), kept);
  std::memset(fresh->Text() + kept, 0, std::size_t{newLength} - kept + 2);
  Adopt(fresh);
}

void TString::UnshareForWrite() {
  if (fBuffer->referenceCount != 1) {
    MakeUnique(fBuffer->length);
  }
}

// ------------------------------------------------------ construction, release ----

TString::TString(const char* s) : fBuffer(nullptr) {
  if (s != nullptr) {
    const unsigned int length = CheckedLength(std::strlen(s));
    fBuffer = AllocateBuffer(length, 1, 0);
    CopyBytes(fBuffer->Text(), s, length);
  }
}

TString::TString(const _Wchar_t* w) : fBuffer(nullptr) {
  if (w != nullptr) {
    const unsigned long long units = lengthOf(w);
    const unsigned int bytes = CheckedLength(units * sizeof(_Wchar_t));
    fBuffer = AllocateBuffer(bytes, 1, kFlagUnicode);
    CopyBytes(fBuffer->Text(), reinterpret_cast<const char*>(w), bytes);
  }
}

TString::TString(const void* data, unsigned int n, char fill) : fBuffer(AllocateBuffer(n, 1, 0)) {
  if (data != nullptr) {
    CopyBytes(fBuffer->Text(), static_cast<const char*>(data), n);
  } else {
    std::memset(fBuffer->Text(), fill, n);
  }
}

TString::TString(const TString& other) noexcept : fBuffer(other.fBuffer) {
  if (fBuffer != nullptr) {
    ++fBuffer->referenceCount;
  }
}

TString::TString(TStringBuffer* buffer) noexcept : fBuffer(buffer) {
  if (fBuffer != nullptr) {
    ++fBuffer->referenceCount;
  }
}

TString::~TString() {
  if (fBuffer != nullptr) {
    DecrementAndFree();
  }
}

TString& TString::operator=(TString&& other) noexcept {
  if (this != &other) {
    Adopt(other.fBuffer);
    other.fBuffer = nullptr;
  }
  return *this;
}

TString& TString::operator=(const TString& other) noexcept {
  if (this != &other) {
    // Take the new reference first, so sharing handles never drop the count to zero.
    if (other.fBuffer != nullptr) {
      ++other.fBuffer->referenceCount;
    }
    Adopt(other.fBuffer);
  }
  return *this;
}

// ------------------------------------------------------------------ access ----

unsigned int TString::length() const noexcept {
  return fBuffer != nullptr ? fBuffer->length : 0;
}

unsigned int TString::lengthOf(const char* s) {
  return s != nullptr ? CheckedLength(std::strlen(s)) : 0;
}

unsigned int TString::lengthOf(const _Wchar_t* w) {
  unsigned long long units = 0;
  if (w != nullptr) {
    while (w[units] != 0) {
      ++units;
    }
  }
  return CheckedLength(units);
}

TString::operator char*() const noexcept {
  return fBuffer != nullptr ? fBuffer->Text() : nullptr;
}

const char& TString::operator[](unsigned int i) const {
  if (i == 0 || i > length()) {
    RaiseStringError(kBadIndex, kLineIndexConst);
  }
  return fBuffer->Text()[i - 1];
}

char& TString::operator[](unsigned int i) {
  if (i == 0) {
    RaiseStringError(kBadIndex, kLineIndex);
  }
  if (i > length()) {
    if (fBuffer == nullptr) {
      fBuffer = AllocateBuffer(i, 1, 0);
      std::memset(fBuffer->Text(), 0, i);
    } else {
      MakeUnique(i);
    }
  }
  return fBuffer->Text()[i - 1];
}

int TString::IsUnicode() const noexcept {
  return fBuffer != nullptr && (fBuffer->flags & kFlagUnicode) != 0;
}

int TString::IsWipeOnDelete() const noexcept {
  return fBuffer != nullptr && (fBuffer->flags & kFlagWipe) != 0;
}

void TString::SetUnicode(int on) noexcept {
  if (fBuffer != nullptr) {
    fBuffer->flags = on ? (fBuffer->flags | kFlagUnicode) : (fBuffer->flags & ~kFlagUnicode);
  }
}

void TString::SetWipeOnDelete(int on) noexcept {
  if (fBuffer != nullptr) {
    fBuffer->flags = on ? (fBuffer->flags | kFlagWipe) : (fBuffer->flags & ~kFlagWipe);
  }
}

std::ostream& TString::Print(std::ostream& os) const {
  if (fBuffer == nullptr) {
    return os << "<NULL>";
  }
  return os.write(fBuffer->Text(), fBuffer->length);
}

std::ostream& operator<<(std::ostream& os, const TString& s) {
  return s.Print(os);
}

void TString::WipeBytes() noexcept {
  if (fBuffer != nullptr) {
    SecureZero(fBuffer->Text(), fBuffer->length);
  }
}

// ----------------------------------------------------------- concatenation ----

TString TString::operator+(const TString& other) const {
  if (fBuffer == nullptr && other.fBuffer == nullptr) {
    return TString();
  }
  const unsigned int headLength = length();
  const unsigned int tailLength = other.length();
  TStringBuffer* sum = AllocateBuffer(CheckedLength(0ULL + headLength + tailLength), 0, 0);
  CopyBytes(sum->Text(), static_cast<char*>(*this), headLength);
  CopyBytes(sum->Text() + headLength, static_cast<char*>(other), tailLength);
  return TString(sum);
}

TString TString::operator+(const char* s) const {
  const unsigned int tailLength = lengthOf(s);
  if (fBuffer == nullptr && tailLength == 0) {
    return TString();
  }
  const unsigned int headLength = length();
  TStringBuffer* sum = AllocateBuffer(CheckedLength(0ULL + headLength + tailLength), 0, 0);
  CopyBytes(sum->Text(), static_cast<char*>(*this), headLength);
  CopyBytes(sum->Text() + headLength, s, tailLength);
  return TString(sum);
}

TString& TString::operator+=(const char* s) {
  if (fBuffer == nullptr) {
    return *this = TString(s);
  }
  const unsigned int headLength = fBuffer->length;
  const unsigned int tailLength = lengthOf(s);
  // The new buffer is filled before the old one goes, so `s` may point into this string.
  TStringBuffer* sum = AllocateBuffer(CheckedLength(0ULL + headLength + tailLength), 1, 0);
  CopyBytes(sum->Text(), fBuffer->Text(), headLength);
  CopyBytes(sum->Text() + headLength, s, tailLength);
  Adopt(sum);
  return *this;
}

TString& TString::operator+=(const TString& other) {
  if (fBuffer == nullptr) {
    return *this = TString(static_cast<const char*>(other));
  }
  const unsigned int headLength = fBuffer->length;
  const unsigned int tailLength = other.length();
  TStringBuffer* sum = AllocateBuffer(CheckedLength(0ULL + headLength + tailLength), 1, 0);
  CopyBytes(sum->Text(), fBuffer->Text(), headLength);
  CopyBytes(sum->Text() + headLength, static_cast<char*>(other), tailLength);
  Adopt(sum);
  return *this;
}

template <class Op> TString& TString::Combine(const TString& other, Op combine) {
  if (fBuffer == nullptr) {
    return *this;
  }
  UnshareForWrite();
  const char* right = other;
  const unsigned int rightLength = other.length();
  char* text = fBuffer->Text();
  for (unsigned int i = 0; i < fBuffer->length; ++i) {
    const unsigned char theirs = i < rightLength ? static_cast<unsigned char>(right[i]) : 0;
    text[i] = static_cast<char>(combine(static_cast<unsigned char>(text[i]), theirs));
  }
  return *this;
}

TString& TString::operator^=(const TString& other) {
  return Combine(other, [](unsigned char mine, unsigned char theirs) { return mine ^ theirs; });
}

TString& TString::operator|=(const TString& other) {
  return Combine(other, [](unsigned char mine, unsigned char theirs) { return mine | theirs; });
}

TString& TString::operator&=(const TString& other) {
  return Combine(other, [](unsigned char mine, unsigned char theirs) { return mine & theirs; });
}

// --------------------------------------------------- substrings and removal ----

TString TString::subString(unsigned int start) const {
  if (start == 0) {
    RaiseStringError(kBadTruncate, kLineSubString);
  }
  if (start > length()) {
    return TString();
  }
  return TString(fBuffer->Text() + start - 1, fBuffer->length - start + 1);
}

TString TString::subString(unsigned int start, unsigned int count, char pad) const {
  TString result(nullptr, count, pad);
  if (start == 0) {
    start = 1;
  }
  if (start <= length()) {
    const unsigned int available = fBuffer->length - start + 1;
    CopyBytes(result.fBuffer->Text(), fBuffer->Text() + start - 1,
              count < available ? count : available);
  }
  return result;
}

TString& TString::remove(unsigned int start) {
  if (start == 0) {
    RaiseStringError(kBadTruncate, kLineRemove);
  }
  if (start > length()) {
    return *this;
  }
  if (start == 1) {
    Adopt(nullptr);
    return *this;
  }
  const unsigned int kept = start - 1;
  if (fBuffer->referenceCount != 1) {
    TStringBuffer* fresh = AllocateBuffer(kept, 1, 0);
    CopyBytes(fresh->Text(), fBuffer->Text(), kept);
    Adopt(fresh);
    return *this;
  }
  // Shortened in place: the allocation keeps its size, the removed bytes become zeros so that
  // a wipe-on-delete buffer leaves nothing of them behind.
  std::memset(fBuffer->Text() + kept, 0, fBuffer->length - kept);
  fBuffer->length = kept;
  return *this;
}

TString& TString::remove(unsigned int start, unsigned int count) {
  const long long last = static_cast<long long>(start) + count - 1;
  if (start > length()) {
    return *this;
  }
  if (last > static_cast<long long>(length())) {
    return remove(start);
  }
  if (start == 0) {
    RaiseStringError(kBadTruncate, kLineRemoveRange);
  }
  if (fBuffer == nullptr) {
    return *this;
  }
  if (count == fBuffer->length) {
    Adopt(nullptr);
    return *this;
  }
  const unsigned int oldLength = fBuffer->length;
  const unsigned int newLength = oldLength - count;
  const unsigned int before = start - 1;
  const unsigned int after = oldLength - before - count;
  if (fBuffer->referenceCount != 1) {
    TStringBuffer* fresh = AllocateBuffer(newLength, 1, 0);
    CopyBytes(fresh->Text(), fBuffer->Text(), before);
    CopyBytes(fresh->Text() + before, fBuffer->Text() + before + count, after);
    Adopt(fresh);
    return *this;
  }
  char* text = fBuffer->Text();
  if (after != 0) {
    std::memmove(text + before, text + before + count, after);
  }
  std::memset(text + newLength, 0, oldLength - newLength);
  fBuffer->length = newLength;
  return *this;
}

// ------------------------------------------------------------------ search ----

unsigned int TString::indexOf(char c, unsigned int start) const noexcept {
  if (start == 0) {
    start = 1;
  }
  if (start > length()) {
    return 0;
  }
  const char* text = fBuffer->Text();
  const void* hit = std::memchr(text + start - 1, c, fBuffer->length - start + 1);
  return hit != nullptr ? static_cast<unsigned int>(static_cast<const char*>(hit) - text) + 1 : 0;
}

unsigned int TString::indexOf(const char* p, unsigned int start) const {
  if (start == 0) {
    RaiseStringError(kBadStart, kLineIndexOf);
  }
  if (start > length()) {
    return 0;
  }
  const std::size_t patternLength = p != nullptr ? std::strlen(p) : 0;
  const std::size_t remaining = fBuffer->length - start + 1;
  if (patternLength > remaining) {
    return 0;
  }
  const char* text = fBuffer->Text();
  if (patternLength == 0) {
    return start;
  }
  // Find each candidate first byte with memchr, then compare the rest.
  const char* from = text + start - 1;
  const char* const lastStart = text + fBuffer->length - patternLength;
  while (from <= lastStart) {
    const auto* hit =
        static_cast<const char*>(std::memchr(from, p[0], std::size_t(lastStart - from) + 1));
    if (hit == nullptr) {
      return 0;
    }
    if (std::memcmp(hit + 1, p + 1, patternLength - 1) == 0) {
      return static_cast<unsigned int>(hit - text) + 1;
    }
    from = hit + 1;
  }
  return 0;
}

unsigned int TString::indexOfAnyOf(const char* set, unsigned int start) const {
  if (start == 0) {
    RaiseStringError(kBadStart, kLineIndexOfAnyOf);
  }
  return FindByMembership(*this, length(), set, start, true);
}

unsigned int TString::indexOfAnyBut(const char* set, unsigned int start) const {
  if (start == 0) {
    RaiseStringError(kBadStart, kLineIndexOfAnyBut);
  }
  return FindByMembership(*this, length(), set, start, false);
}

unsigned int TString::lastIndexOf(char c, unsigned int start) const {
  if (start == 0) {
    RaiseStringError(kBadStart, kLineLastIndexOf);
  }
  if (start == kAllOnes) {
    start = length();
  }
  if (fBuffer == nullptr || start > fBuffer->length) {
    return 0;
  }
  for (unsigned int i = start; i >= 1; --i) {
    if (fBuffer->Text()[i - 1] == c) {
      return i;
    }
  }
  return 0;
}

// ------------------------------------------------------------- replacement ----

TString& TString::change(const char* pattern, const TString& replacement, unsigned int start,
                         unsigned int count) {
  return ChangeImpl(pattern, replacement, replacement.length(), start, count);
}

TString& TString::change(const char* pattern, const char* replacement, unsigned int start,
                         unsigned int count) {
  return ChangeImpl(pattern, replacement, lengthOf(replacement), start, count);
}

TString& TString::ChangeImpl(const char* pattern, const char* replacement,
                             unsigned int replacementLength, unsigned int start,
                             unsigned int count) {
  if (count == 0) {
    return *this;
  }
  const unsigned int patternLength = lengthOf(pattern);
  // Counting pass. An empty pattern would match everywhere without advancing: it replaces
  // nothing.
  unsigned int found = 0;
  for (unsigned int at = indexOf(pattern, start); at != 0 && patternLength != 0 && found < count;
       at = FindAfter(*this, pattern, at, patternLength)) {
    ++found;
  }
  if (found == 0) {
    return *this;
  }
  const long long newLength = static_cast<long long>(fBuffer->length) +
                              (static_cast<long long>(replacementLength) - patternLength) * found;
  // The new text is built before the old buffer goes, so the replacement may be this string.
  TStringBuffer* fresh =
      AllocateBuffer(CheckedLength(static_cast<unsigned long long>(newLength)), 1, 0);
  const char* text = fBuffer->Text();
  char* out = fresh->Text();
  unsigned int copiedUpTo = 0; // bytes of the old text consumed so far
  unsigned int at = indexOf(pattern, start);
  for (unsigned int n = 0; n < found; ++n) {
    const unsigned int offset = at - 1;
    CopyBytes(out, text + copiedUpTo, offset - copiedUpTo);
    out += offset - copiedUpTo;
    CopyBytes(out, replacement, replacementLength);
    out += replacementLength;
    copiedUpTo = offset + patternLength;
    at = FindAfter(*this, pattern, at, patternLength);
  }
  CopyBytes(out, text + copiedUpTo, fBuffer->length - copiedUpTo);
  Adopt(fresh);
  return *this;
}

// -------------------------------------------------------------- comparison ----

int TString::isEqual(const TString& other) const noexcept {
  if (fBuffer == nullptr) {
    return other.fBuffer == nullptr;
  }
  const unsigned int length = fBuffer->length;
  return length == other.length() &&
         (length == 0 || std::memcmp(fBuffer->Text(), other.fBuffer->Text(), length) == 0);
}

int TString::isLessThan(const TString& other) const noexcept {
  if (fBuffer == nullptr) {
    return other.fBuffer != nullptr;
  }
  if (other.fBuffer == nullptr) {
    return 0;
  }
  const unsigned int mine = fBuffer->length;
  const unsigned int theirs = other.fBuffer->length;
  const unsigned int common = mine < theirs ? mine : theirs;
  const int order = common == 0 ? 0 : std::memcmp(fBuffer->Text(), other.fBuffer->Text(), common);
  return order != 0 ? order < 0 : mine < theirs;
}

namespace {

/// The abbreviation rule over this string's bytes and a full text of known length.
int IsAbbreviation(const char* text, unsigned int length, const char* full, unsigned int fullLength,
                   unsigned int minimum) noexcept {
  const unsigned int compared = minimum != 0 ? minimum : length;
  if (compared > fullLength || length > fullLength) {
    return 0;
  }
  if (compared == 0) {
    return 1;
  }
  if (compared > length) {
    return 0;
  }
  return std::memcmp(text, full, compared) == 0;
}

} // namespace

int TString::isAbbreviationFor(const TString& full, unsigned int minimum) const noexcept {
  return IsAbbreviation(*this, length(), full, full.length(), minimum);
}

int TString::isAbbreviationFor(const char* full, unsigned int minimum) const noexcept {
  const std::size_t fullLength = full != nullptr ? std::strlen(full) : 0;
  return IsAbbreviation(
      *this, length(), full,
      fullLength > UINT32_MAX ? UINT32_MAX : static_cast<unsigned int>(fullLength), minimum);
}

int TString::isBinaryDigits() const noexcept {
  if (fBuffer == nullptr) {
    return 0;
  }
  for (unsigned int i = 0; i < fBuffer->length; ++i) {
    const char digit = fBuffer->Text()[i];
    if (digit != '0' && digit != '1') {
      return 0;
    }
  }
  return 1;
}

int TString::isDigits() const noexcept {
  if (fBuffer == nullptr) {
    return 0;
  }
  for (unsigned int i = 0; i < fBuffer->length; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(fBuffer->Text()[i]))) {
      return 0;
    }
  }
  return 1;
}

// ------------------------------------------------------------- conversions ----
// Numbers are 32-bit quantities whatever the build's long is: results saturate as a
// 32-bit strtol / strtoul would.

long TString::asInt() const noexcept {
  if (fBuffer == nullptr) {
    return 0;
  }
  const long long value = std::strtoll(fBuffer->Text(), nullptr, 10);
  if (value > INT32_MAX) {
    return INT32_MAX;
  }
  if (value < INT32_MIN) {
    return INT32_MIN;
  }
  return static_cast<long>(value);
}

unsigned long TString::asUnsigned() const noexcept {
  if (fBuffer == nullptr) {
    return 0;
  }
  const char* text = fBuffer->Text();
  while (std::isspace(static_cast<unsigned char>(*text))) {
    ++text;
  }
  const bool negative = *text == '-';
  // After a minus sign only digits may follow; "-+5", "--5" and "- 5" are no number.
  if (negative && !std::isdigit(static_cast<unsigned char>(text[1]))) {
    return 0;
  }
  // An overflowing number reads as ULLONG_MAX, which is beyond 32 bits as well.
  const unsigned long long magnitude = std::strtoull(negative ? text + 1 : text, nullptr, 10);
  if (magnitude > UINT32_MAX) {
    return UINT32_MAX;
  }
  const auto value = static_cast<std::uint32_t>(magnitude);
  return negative ? static_cast<std::uint32_t>(0u - value) : value;
}

double TString::asDouble() const noexcept {
  return fBuffer != nullptr ? std::strtod(fBuffer->Text(), nullptr) : 0.0;
}

// -------------------------------------------------------------------- case ----

TString& TString::lowerCase() {
  if (fBuffer != nullptr) {
    UnshareForWrite();
    tavutil::detail::StrLwr(fBuffer->Text());
  }
  return *this;
}

TString& TString::upperCase() {
  if (fBuffer != nullptr) {
    UnshareForWrite();
    tavutil::detail::StrUpr(fBuffer->Text());
  }
  return *this;
}

// ---------------------------------------------------------------- variants ----

int TStringIcmp::IsEqual(const TStringIcmp& other) const noexcept {
  const char* mine = *this;
  const char* theirs = other;
  if (this == &other || mine == theirs) {
    return 1;
  }
  if (mine == nullptr || theirs == nullptr) {
    return 0;
  }
  return tavutil::detail::StrICmp(mine, theirs) == 0;
}

TStringAndWipe::TStringAndWipe(const TString& s) noexcept : TString(s) {
  SetWipeOnDelete(1);
}

TStringAndWipe::TStringAndWipe(const char* s) : TString(s) {
  SetWipeOnDelete(1);
}
