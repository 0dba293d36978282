// tavutil/tstring.h: TString, the reference-counted byte string, and its variants.
// Licensed under the Apache License, Version 2.0.
//
// Every family passes text as TString. Positions are 1-based; 0 means "not found".
// TStringIcmp compares without regard to case, TStringAndWipe zeroes its bytes on release.
#ifndef TAVUTIL_TSTRING_H
#define TAVUTIL_TSTRING_H

#include <iosfwd>
#include <tavutil/config.h>

struct TStringBuffer;

/// A handle to a shared, reference-counted byte buffer with copy-on-write for most mutators.
///
/// A handle may have no buffer at all (length 0, null text), which differs from an empty
/// buffer. Copying a handle shares its buffer; the non-const operator[] and the conversion to
/// char* never unshare, so writes through them are seen by every sharing handle.
///
///   TString s("hello");
///   TString t = s;           // shares the buffer
///   t += " world";           // t gets a new buffer, s keeps "hello"
///   s.indexOf("ll", 1);      // 3
///
/// Errors are TInvalidRequest exceptions (tavutil/exception.h); a throw leaves the string
/// unchanged. A failed allocation throws std::bad_alloc, a result longer than 4 GiB
/// std::length_error. Handles that share a buffer must stay on one thread.
class TAVUTIL_API TString {
public:
  /// A string without buffer. Throws nothing.
  TString() noexcept : fBuffer(nullptr) {}
  /// A copy of the NUL-terminated text; a null pointer gives a string without buffer. Throws
  /// std::bad_alloc when the buffer cannot be allocated, std::length_error when the text is
  /// longer than 4 GiB.
  TString(const char* s);
  /// A unicode string holding the UTF-16 units of `w` (length in bytes); null: no buffer.
  /// Throws std::bad_alloc when the buffer cannot be allocated, std::length_error when the
  /// text is longer than 4 GiB.
  TString(const _Wchar_t* w);
  /// A buffer of `n` bytes: a copy of `data`, or `n` copies of `fill` when `data` is null.
  /// Throws std::bad_alloc when the buffer cannot be allocated.
  TString(const void* data, unsigned int n, char fill = '\0');
  /// Shares the other's buffer (or has none). Throws nothing.
  TString(const TString& other) noexcept;
  /// Takes the other's buffer; the other is left without one. Throws nothing.
  TString(TString&& other) noexcept : fBuffer(other.fBuffer) { other.fBuffer = nullptr; }
  /// Releases the buffer; the last handle frees it (zeroed first when it is wipe-on-delete).
  /// Throws nothing.
  ~TString();
  /// Shares the other's buffer; assigning a string to itself does nothing. Throws nothing.
  TString& operator=(const TString& other) noexcept;
  /// Releases this buffer and takes the other's, leaving the other without one; moving a
  /// string to itself does nothing. Throws nothing.
  TString& operator=(TString&& other) noexcept;

  /// Number of text bytes (not characters); 0 without a buffer. Throws nothing.
  unsigned int length() const noexcept;
  /// The same as length(). Throws nothing.
  unsigned int size() const noexcept { return length(); }
  /// strlen of `s` (0 for null). Throws std::length_error when the text is longer than 4 GiB.
  static unsigned int lengthOf(const char* s);
  /// Number of UTF-16 units before the terminating zero unit (0 for null). Throws
  /// std::length_error when the text is longer than 4 GiB.
  static unsigned int lengthOf(const _Wchar_t* w);

  /// The text, followed by two zero bytes; null without a buffer. Writable, never unshares.
  /// Throws nothing.
  operator char*() const noexcept;
  /// Byte `i` (1-based). Throws TInvalidRequest "Bad index value for this String" when `i` is
  /// 0 or beyond the length.
  const char& operator[](unsigned int i) const;
  /// Byte `i` (1-based), growing the string with zero bytes to length `i` first when needed.
  /// Never unshares: a write is seen by every handle that shares the buffer. Throws
  /// TInvalidRequest "Bad index value for this String" when `i` is 0, std::bad_alloc when
  /// the grown buffer cannot be allocated.
  char& operator[](unsigned int i);
  ///@{
  /// The same for an `int` position; a negative one fails as 0 does. Without these, `s[1]` is
  /// ambiguous where `ptrdiff_t` is `int` (32-bit builds): the built-in subscript of the text
  /// conversion matches as well as the unsigned position. Throws as the unsigned forms do.
  const char& operator[](int i) const { return (*this)[i < 0 ? 0u : static_cast<unsigned>(i)]; }
  char& operator[](int i) { return (*this)[i < 0 ? 0u : static_cast<unsigned>(i)]; }
  ///@}

  /// Whether the buffer holds UTF-16 text; false without a buffer. Throws nothing.
  int IsUnicode() const noexcept;
  /// Whether the buffer is zeroed when its last handle goes; false without a buffer. Throws
  /// nothing.
  int IsWipeOnDelete() const noexcept;
  /// Sets or clears the unicode flag of the current (possibly shared) buffer. Throws nothing.
  void SetUnicode(int on) noexcept;
  /// Sets or clears the wipe flag of the current (possibly shared) buffer. Throws nothing.
  void SetWipeOnDelete(int on) noexcept;
  /// Writes exactly length() bytes, or "<NULL>" without a buffer; returns `os`. Throws
  /// std::ios_base::failure when the stream fails and its exception mask asks for it.
  std::ostream& Print(std::ostream& os) const;

  /// This text followed by the other's; no buffer when both have none. Throws std::bad_alloc
  /// when the buffer cannot be allocated, std::length_error when it would pass 4 GiB.
  TString operator+(const TString& other) const;
  /// This text followed by `s` (null counts as empty); no buffer when this has none and `s`
  /// is empty. Throws as the form above.
  TString operator+(const char* s) const;
  /// Appends `s` (null counts as empty) into a new buffer. Throws std::bad_alloc when the
  /// buffer cannot be allocated, std::length_error when it would pass 4 GiB; the string is
  /// then unchanged.
  TString& operator+=(const char* s);
  /// Appends the other's bytes into a new buffer; without a buffer this becomes a copy of
  /// the other's text up to its first NUL byte. Throws as the form above.
  TString& operator+=(const TString& other);

  ///@{
  /// Combines each byte with the byte at the same position of `other` (exclusive or, or, and).
  /// Only this string's length is used; bytes missing from a shorter operand count as zero.
  /// Throws std::bad_alloc when a shared buffer cannot be unshared; the string is then
  /// unchanged.
  TString& operator^=(const TString& other);
  TString& operator|=(const TString& other);
  TString& operator&=(const TString& other);
  ///@}

  /// The bytes from `start` to the end; no buffer when `start` is beyond the end. Throws
  /// TInvalidRequest "Bad value to truncate this String" when `start` is 0, std::bad_alloc
  /// when the result cannot be allocated.
  TString subString(unsigned int start) const;
  /// Exactly `count` bytes: those from `start`, padded with `pad`. A `start` of 0 counts as 1.
  /// Throws std::bad_alloc when the result cannot be allocated.
  TString subString(unsigned int start, unsigned int count, char pad = ' ') const;
  /// Keeps bytes 1..start-1. Throws TInvalidRequest "Bad value to truncate this String" when
  /// `start` is 0, std::bad_alloc when a shared buffer cannot be replaced.
  TString& remove(unsigned int start);
  /// Removes bytes start..start+count-1. Throws TInvalidRequest "Bad value to truncate this
  /// String" when `start` is 0 and the range lies within the string, std::bad_alloc when a
  /// shared buffer cannot be replaced.
  TString& remove(unsigned int start, unsigned int count);

  /// First position >= `start` holding `c`, or 0. A `start` of 0 counts as 1. Throws nothing.
  unsigned int indexOf(char c, unsigned int start = 1) const noexcept;
  /// First position >= `start` where `p` matches, or 0. Throws TInvalidRequest "Bad value for
  /// the starting position" when `start` is 0.
  unsigned int indexOf(const char* p, unsigned int start = 1) const;
  /// First position >= `start` whose byte is in `set`, or 0. Throws TInvalidRequest "Bad value
  /// for the starting position" when `start` is 0.
  unsigned int indexOfAnyOf(const char* set, unsigned int start = 1) const;
  /// First position >= `start` whose byte is not in `set`, or 0. Throws TInvalidRequest "Bad
  /// value for the starting position" when `start` is 0.
  unsigned int indexOfAnyBut(const char* set, unsigned int start = 1) const;
  /// Highest position <= `start` holding `c`, or 0; `start` all ones searches from the end.
  /// Throws TInvalidRequest "Bad value for the starting position" when `start` is 0.
  unsigned int lastIndexOf(char c, unsigned int start = static_cast<unsigned int>(-1)) const;

  ///@{
  /// Replaces at most `count` non-overlapping occurrences of `pattern` found from `start`.
  /// Throws TInvalidRequest "Bad value for the starting position" when `start` is 0 and
  /// `count` is not, std::bad_alloc when the new buffer cannot be allocated, std::length_error
  /// when it would pass 4 GiB; the string is then unchanged.
  TString& change(const char* pattern, const TString& replacement, unsigned int start = 1,
                  unsigned int count = static_cast<unsigned int>(-1));
  TString& change(const char* pattern, const char* replacement, unsigned int start = 1,
                  unsigned int count = static_cast<unsigned int>(-1));
  ///@}

  /// Without a buffer: true exactly when `other` has none. Else equal lengths and bytes.
  /// Throws nothing.
  int isEqual(const TString& other) const noexcept;
  /// The same as isEqual. Throws nothing.
  int IsEqual(const TString& other) const noexcept { return isEqual(other); }
  /// Unsigned bytewise order; a string without buffer is less than any string with one.
  /// Throws nothing.
  int isLessThan(const TString& other) const noexcept;
  ///@{
  /// Whether the first `minimum` bytes (all of this string for 0) agree with `full`. Throws
  /// nothing.
  int isAbbreviationFor(const TString& full, unsigned int minimum = 0) const noexcept;
  int isAbbreviationFor(const char* full, unsigned int minimum = 0) const noexcept;
  ///@}
  /// Every byte is '0' or '1' (true for an empty buffer, false without one). Throws nothing.
  int isBinaryDigits() const noexcept;
  /// Every byte is a decimal digit (true for an empty buffer, false without one). Throws
  /// nothing.
  int isDigits() const noexcept;

  ///@{
  /// strtol / strtoul / strtod of the text; 0 without a buffer. Throws nothing; nothing is
  /// reported either.
  long asInt() const noexcept;
  unsigned long asUnsigned() const noexcept;
  double asDouble() const noexcept;
  ///@}

  /// Lower-cases (C locale) the text up to its first NUL byte, unsharing first. Throws
  /// std::bad_alloc when a shared buffer cannot be unshared; the string is then unchanged.
  TString& lowerCase();
  /// Upper-cases (C locale) the text up to its first NUL byte, unsharing first. Throws
  /// std::bad_alloc as lowerCase() does.
  TString& upperCase();

protected:
  /// Zeroes the text bytes of the current buffer in place (used by TStringAndWipe). Throws
  /// nothing.
  void WipeBytes() noexcept;

private:
  explicit TString(TStringBuffer* buffer) noexcept;
  static TStringBuffer* AllocateBuffer(unsigned long length, unsigned long referenceCount,
                                       unsigned long flags);
  void DecrementAndFree() noexcept;
  void MakeUnique(unsigned int newLength);
  void Adopt(TStringBuffer* buffer) noexcept;
  void UnshareForWrite();
  template <class Combine> TString& Combine(const TString& other, Combine combine);
  TString& ChangeImpl(const char* pattern, const char* replacement, unsigned int replacementLength,
                      unsigned int start, unsigned int count);

  TStringBuffer* fBuffer;
};

/// Writes the string as Print does; returns `os`. Throws what Print throws.
TAVUTIL_API std::ostream& operator<<(std::ostream& os, const TString& s);

/// A TString whose equality ignores letter case (C locale, up to the first NUL byte).
class TAVUTIL_API TStringIcmp : public TString {
public:
  /// A string without buffer. Throws nothing.
  TStringIcmp() noexcept = default;
  /// A copy of the NUL-terminated text, as TString(const char*). Throws std::bad_alloc when
  /// the buffer cannot be allocated, std::length_error when the text is longer than 4 GiB.
  TStringIcmp(const char* s) : TString(s) {}
  /// Shares the other's buffer. Throws nothing.
  TStringIcmp(const TStringIcmp& other) noexcept = default;
  /// Shares the other's buffer. Throws nothing.
  TStringIcmp& operator=(const TStringIcmp& other) noexcept = default;
  /// Releases the buffer as ~TString does. Throws nothing.
  ~TStringIcmp() = default;

  /// Same object or same text pointer: true; exactly one without buffer: false; else the
  /// texts compared without regard to case. Throws nothing.
  int IsEqual(const TStringIcmp& other) const noexcept;
  /// The same as IsEqual. Throws nothing.
  int isEqual(const TStringIcmp& other) const noexcept { return IsEqual(other); }
};

/// A TString whose buffer is zeroed when its last handle goes.
///
/// The constructors mark the buffer they make or share; a buffer made later (by +=, say)
/// is a new, unmarked buffer.
class TAVUTIL_API TStringAndWipe : public TString {
public:
  /// A string without buffer (so nothing is marked). Throws nothing.
  TStringAndWipe() noexcept = default;
  /// Shares `s`'s buffer and marks it, for every handle that shares it. Throws nothing.
  TStringAndWipe(const TString& s) noexcept;
  /// A marked copy of the NUL-terminated text. Throws std::bad_alloc when the buffer cannot
  /// be allocated, std::length_error when the text is longer than 4 GiB.
  TStringAndWipe(const char* s);

  /// Zeroes the text bytes in place, without unsharing or changing the length. Throws
  /// nothing.
  void Wipe() noexcept { WipeBytes(); }
};

#endif // TAVUTIL_TSTRING_H
