// tavutil/binstream.h: binary streams: numbers in host or network byte order on an iostream.
// Licensed under the Apache License, Version 2.0.
//
// A binary stream is a non-owning view of an istream, an ostream or an iostream (a memory,
// temporary-file or COM stream, say) that writes and reads numbers as fixed-width bytes. The
// binary forms of strings, tagged values and messages are built from these forms.
#ifndef TAVUTIL_BINSTREAM_H
#define TAVUTIL_BINSTREAM_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iosfwd>
#include <istream>
#include <ostream>
#include <tavutil/config.h>
#include <type_traits>
#include <utility>

class TString;

/// The network form (most significant byte first) of one value of type T, and nothing else.
///
/// Widths: 2 bytes for `short` and `unsigned short`; 4 for `int`, `unsigned int`, `long`,
/// `unsigned long` (the low 32 bits; read back sign- or zero-extended) and `float`; 8 for
/// `double`; 10 for `long double`, which travels as an IEEE double after two zero filler
/// bytes. Writing a wrapper to a binary stream emits these bytes whatever the stream's order.
///
///   TNetworkInt wire(258);          // bytes 00 00 01 02
///   stream << wire;                 // network form even on a host-order stream
///   int back = wire;                // 258
template <class T> class TNetworkValue {
public:
  /// Number of bytes of the form.
  static constexpr std::size_t kWidth = std::is_same<T, long double>::value ? 10
                                        : std::is_same<T, double>::value    ? 8
                                        : sizeof(T) == 2                    ? 2
                                                                            : 4;

  /// The form of zero (all bytes zero). Throws nothing.
  TNetworkValue() noexcept : fBytes{} {}
  /// The form of `value`. Throws nothing.
  explicit TNetworkValue(T value) noexcept : fBytes{} {
    StoreBits(Bits(value), std::make_index_sequence<kDataWidth>());
  }
  /// The value the bytes hold; integers narrower than T are sign- or zero-extended as T's
  /// signedness says. Throws nothing.
  operator T() const noexcept { return FromBits(LoadBits(std::make_index_sequence<kDataWidth>())); }

  /// The bytes of the form, kWidth of them. Throws nothing.
  ///@{
  const unsigned char* QueryBytes() const noexcept { return fBytes; }
  unsigned char* QueryBytes() noexcept { return fBytes; }
  ///@}

private:
  /// Bytes that carry the value; a long double's two filler bytes come before them.
  static constexpr std::size_t kDataWidth = kWidth == 10 ? 8 : kWidth;
  using Real = typename std::conditional<kDataWidth == 8, double, float>::type;
  using Bits32 =
      typename std::conditional<std::is_signed<T>::value, std::int32_t, std::uint32_t>::type;
  /// The data bytes as one unsigned number.
  using Word = typename std::conditional<kDataWidth == 8, std::uint64_t, std::uint32_t>::type;

  // The data bytes, most significant first, each way as one straight-line expression, which
  // compilers make one load or store and a byte swap.
  template <std::size_t... I>
  void StoreBits(std::uint64_t bits, std::index_sequence<I...> /*bytes*/) noexcept {
    ((fBytes[kWidth - kDataWidth + I] =
          static_cast<unsigned char>(bits >> (8 * (kDataWidth - 1 - I)))),
     ...);
  }
  template <std::size_t... I>
  std::uint64_t LoadBits(std::index_sequence<I...> /*bytes*/) const noexcept {
    return ((Word{fBytes[kWidth - kDataWidth + I]} << (8 * (kDataWidth - 1 - I))) | ...);
  }

  static std::uint64_t Bits(T value) noexcept {
    if constexpr (std::is_floating_point<T>::value) {
      const Real real = static_cast<Real>(value);
      if constexpr (kDataWidth == 8) {
        std::uint64_t bits;
        std::memcpy(&bits, &real, sizeof bits);
        return bits;
      } else {
        std::uint32_t bits;
        std::memcpy(&bits, &real, sizeof bits);
        return bits;
      }
    } else {
      // Two's complement bits of the low kWidth bytes.
      return static_cast<std::uint64_t>(value);
    }
  }
  static T FromBits(std::uint64_t bits) noexcept {
    if constexpr (std::is_floating_point<T>::value) {
      Real real;
      if constexpr (kDataWidth == 8) {
        std::memcpy(&real, &bits, sizeof real);
      } else {
        const auto narrow = static_cast<std::uint32_t>(bits);
        std::memcpy(&real, &narrow, sizeof real);
      }
      return static_cast<T>(real);
    } else if constexpr (kWidth == 2) {
      return static_cast<T>(static_cast<std::uint16_t>(bits));
    } else {
      return static_cast<T>(static_cast<Bits32>(static_cast<std::uint32_t>(bits)));
    }
  }

  unsigned char fBytes[kWidth];
};

using TNetworkShort = TNetworkValue<short>;
using TNetworkUnsignedShort = TNetworkValue<unsigned short>;
using TNetworkInt = TNetworkValue<int>;
using TNetworkUnsigned = TNetworkValue<unsigned int>;
using TNetworkLong = TNetworkValue<long>;
using TNetworkUnsignedLong = TNetworkValue<unsigned long>;
using TNetworkFloat = TNetworkValue<float>;
using TNetworkDouble = TNetworkValue<double>;
using TNetworkLongDouble = TNetworkValue<long double>;

/// What the binary streams share: the underlying stream's `ios` and the byte-order flag.
///
/// Used only as the virtual base of TiBinaryStream and ToBinaryStream. The forwarders act on
/// the underlying stream and give its results. Format flags, widths and states travel as the
/// classic integers; only the low 32 bits of a flag word are used.
class TAVUTIL_API VBinaryStreamBase {
public:
  /// Host order on `stream`, which must outlive this object. Throws nothing.
  explicit VBinaryStreamBase(std::ios& stream) noexcept : fIos(&stream), fOrder(0) {}
  /// Network order when `order` is non-zero, else host order. Throws nothing.
  VBinaryStreamBase(std::ios& stream, int order) noexcept
      : fIos(&stream), fOrder(order != 0 ? 1 : 0) {}

  /// Numbers written or read from now on are most significant byte first. Throws nothing.
  void NetworkOrder() noexcept { fOrder |= 1; }
  /// Numbers written or read from now on are as they lie in memory. Throws nothing.
  void HostOrder() noexcept { fOrder &= ~std::int32_t{1}; }
  /// 1 when numbers travel most significant byte first, else 0. Throws nothing.
  int IsNetworkOrder() const noexcept { return fOrder & 1; }
  /// 1 when numbers travel as they lie in memory, else 0. Throws nothing.
  int IsHostOrder() const noexcept { return !(fOrder & 1); }

  /// The underlying stream's format flags, as `ios::flags`, `setf` and `unsetf` read and set
  /// them; each gives the flags as they were before. Throws nothing.
  ///@{
  long flags() const noexcept;
  long flags(long value) noexcept;
  long setf(long bits) noexcept;
  long setf(long bits, long mask) noexcept;
  long unsetf(long bits) noexcept;
  ///@}
  /// The underlying stream's field width; the setter gives the old one. Throws nothing.
  ///@{
  int width() const noexcept;
  int width(int value) noexcept;
  ///@}
  /// The underlying stream's fill character; the setter gives the old one. Throws nothing.
  ///@{
  char fill() const noexcept;
  char fill(char value) noexcept;
  ///@}
  /// The underlying stream's precision; the setter gives the old one. Throws nothing.
  ///@{
  int precision() const noexcept;
  int precision(int value) noexcept;
  ///@}
  /// The stream flushed before each operation of the underlying one (null: none); the setter
  /// gives the old one. Throws nothing.
  ///@{
  std::ostream* tie() const noexcept;
  std::ostream* tie(std::ostream* stream) noexcept;
  ///@}
  /// The underlying stream's state bits. Throws nothing.
  int rdstate() const noexcept;
  /// 1 when no state bit is set. Throws nothing.
  int good() const noexcept;
  /// 1 when eofbit is set. Throws nothing.
  int eof() const noexcept;
  /// Non-zero when failbit or badbit is set. Throws nothing.
  int fail() const noexcept;
  /// 1 when badbit is set. Throws nothing.
  int bad() const noexcept;
  /// Non-zero when failbit or badbit is set, as fail(). Throws nothing.
  int operator!() const noexcept { return fail(); }
  /// Null when failbit or badbit is set. Throws nothing.
  operator void*() const noexcept;
  /// Sets the state to `state` (0: good), of which only the eof, fail and bad bits count.
  /// Throws std::ios_base::failure when the stream's exceptions() select a bit that is now
  /// set.
  void clear(int state = 0);

private:
  std::ios* fIos;
  std::int32_t fOrder;
};

/// Reads numbers in binary form from an istream that outlives it.
///
/// Each number costs one unformatted `read` of the underlying stream, or, over a memory or
/// temporary-file stream (TMemStreamBuf, TTempStreamBuf) that is good and untied and whose get
/// area holds the form, the same bytes copied straight out of the get area (as `sbumpc` takes
/// them; gcount() then keeps its earlier count). A failure shows only in the stream's state
/// (an exception only where its exceptions() ask for one), and the operators return this
/// stream even when it has failed. A short read in network order
/// stores the value made from the bytes that arrived and zeros for the rest; in host order
/// the missing bytes keep the target's old bytes. A stream that is not good (failed, bad or
/// at eof) reads nothing, gets failbit and leaves the target alone, so a chain of operators
/// simply stops having effect.
///
///   TiBinaryStream in(file, 1);     // network order
///   int count = 0;
///   TString name;
///   in >> count >> name;
///   if (!in) { /* truncated or failed */ }
class TAVUTIL_API TiBinaryStream : virtual public VBinaryStreamBase {
public:
  /// Host order. Throws nothing.
  explicit TiBinaryStream(std::istream& stream) noexcept
      : VBinaryStreamBase(stream), fIn(&stream) {}
  /// Network order when `order` is non-zero, else host order. Throws nothing.
  TiBinaryStream(std::istream& stream, int order) noexcept
      : VBinaryStreamBase(stream, order), fIn(&stream) {}

  /// Reads the value's form in the current order: 2 bytes for the shorts, 4 for `int`,
  /// `long` (sign-extended) and `unsigned long` (zero-extended) and `float`, 8 for `double`,
  /// and for `long double` (an IEEE double) 8 in host order, 10 in network order.
  /// Throws std::ios_base::failure when the stream's exceptions() select a bit it sets.
  ///@{
  TiBinaryStream& operator>>(short& value);
  TiBinaryStream& operator>>(unsigned short& value);
  TiBinaryStream& operator>>(int& value);
  TiBinaryStream& operator>>(unsigned int& value);
  TiBinaryStream& operator>>(long& value);
  TiBinaryStream& operator>>(unsigned long& value);
  TiBinaryStream& operator>>(float& value);
  TiBinaryStream& operator>>(double& value);
  TiBinaryStream& operator>>(long double& value);
  ///@}

  /// Reads `count` values into `values`, exactly as `count` operator>> calls would: when the
  /// stream ends or fails within the array, the values read in full are stored, the one cut
  /// short follows the short-read rule and the rest are left alone. The values that a memory
  /// or temporary-file stream's get area holds are converted straight out of it in one pass.
  /// Throws std::ios_base::failure when the stream's exceptions() select a bit it sets.
  ///@{
  TiBinaryStream& ReadArray(short* values, std::size_t count);
  TiBinaryStream& ReadArray(unsigned short* values, std::size_t count);
  TiBinaryStream& ReadArray(int* values, std::size_t count);
  TiBinaryStream& ReadArray(unsigned int* values, std::size_t count);
  TiBinaryStream& ReadArray(long* values, std::size_t count);
  TiBinaryStream& ReadArray(unsigned long* values, std::size_t count);
  TiBinaryStream& ReadArray(float* values, std::size_t count);
  TiBinaryStream& ReadArray(double* values, std::size_t count);
  TiBinaryStream& ReadArray(long double* values, std::size_t count);
  ///@}

  /// Reads a network form whatever the order flag says; missing bytes read as zero.
  /// Throws std::ios_base::failure when the stream's exceptions() select a bit it sets.
  template <class T> TiBinaryStream& operator>>(TNetworkValue<T>& value) {
    TNetworkValue<T> wire;
    if (ReadBytes(wire.QueryBytes(), TNetworkValue<T>::kWidth)) {
      value = wire;
    }
    return *this;
  }

  /// Characters go to the underlying stream's text extractors unchanged: one character
  /// (honouring skipws), or a word. A word is not bounded by the buffer: set width() to the
  /// buffer's size first, as with any istream. Throws std::ios_base::failure when the stream's
  /// exceptions() select a bit it sets.
  ///@{
  TiBinaryStream& operator>>(char& character);
  TiBinaryStream& operator>>(signed char& character);
  TiBinaryStream& operator>>(unsigned char& character);
  TiBinaryStream& operator>>(char* word);
  TiBinaryStream& operator>>(signed char* word);
  TiBinaryStream& operator>>(unsigned char* word);
  ///@}
  /// Copies what the stream holds into `buffer`, as the underlying stream does.
  /// Throws std::ios_base::failure when the stream's exceptions() select a bit it sets.
  TiBinaryStream& operator>>(std::streambuf* buffer);

  /// A manipulator on ios (or ios_base) or istream is applied to the underlying stream and
  /// this stream is returned. Throws what `manipulator` throws.
  ///@{
  TiBinaryStream& operator>>(std::ios_base& (*manipulator)(std::ios_base&));
  TiBinaryStream& operator>>(std::ios& (*manipulator)(std::ios&));
  TiBinaryStream& operator>>(std::istream& (*manipulator)(std::istream&));
  ///@}
  /// A manipulator on TiBinaryStream is applied to this stream and its result returned.
  /// Throws what `manipulator` throws.
  TiBinaryStream& operator>>(TiBinaryStream& (*manipulator)(TiBinaryStream&)) {
    return manipulator(*this);
  }

  /// Unformatted reads, as the underlying istream's `read`, `get` and `getline` make them.
  /// Throws std::ios_base::failure when the stream's exceptions() select a bit it sets.
  ///@{
  TiBinaryStream& read(char* data, int count);
  TiBinaryStream& read(signed char* data, int count);
  TiBinaryStream& read(unsigned char* data, int count);
  TiBinaryStream& get(char* data, int count, char delimiter = '\n');
  TiBinaryStream& get(signed char* data, int count, char delimiter = '\n');
  TiBinaryStream& get(unsigned char* data, int count, char delimiter = '\n');
  TiBinaryStream& getline(char* data, int count, char delimiter = '\n');
  TiBinaryStream& getline(signed char* data, int count, char delimiter = '\n');
  TiBinaryStream& getline(unsigned char* data, int count, char delimiter = '\n');
  TiBinaryStream& get(std::streambuf& buffer, char delimiter = '\n');
  TiBinaryStream& get(char& character);
  TiBinaryStream& get(signed char& character);
  TiBinaryStream& get(unsigned char& character);
  ///@}
  /// The next character as an unsigned value, or EOF; get() takes it, peek() leaves it.
  /// Throws std::ios_base::failure when the stream's exceptions() select a bit it sets.
  ///@{
  int get();
  int peek();
  ///@}
  /// Passes over up to `count` characters, up to and including `delimiter`.
  /// Throws std::ios_base::failure when the stream's exceptions() select a bit it sets.
  TiBinaryStream& ignore(int count = 1, int delimiter = EOF);
  /// The number of characters the last unformatted read took. Throws nothing.
  int gcount() const noexcept;
  /// Puts `character` back to be read again. Throws std::ios_base::failure when the stream's
  /// exceptions() select a bit it sets.
  TiBinaryStream& putback(char character);
  /// The buffer's sync: 0, or -1 when it fails (badbit is then set). Throws std::ios_base::failure
  /// when the stream's exceptions() select a bit it sets.
  int sync();
  /// The prefix check of an input operation: 1 when the stream is good after flushing the
  /// tied stream (and, for `need` 0 with skipws, skipping white space); else 0 with failbit set.
  /// Throws std::ios_base::failure when the stream's exceptions() select a bit it sets.
  int ipfx(int need = 0);
  /// Moves the read position to `position`, or by `offset` from `direction`.
  /// Throws std::ios_base::failure when the stream's exceptions() select a bit it sets.
  ///@{
  TiBinaryStream& seekg(long position);
  TiBinaryStream& seekg(long offset, std::ios_base::seekdir direction);
  ///@}
  /// The read position, or -1 when the buffer cannot tell. Throws std::ios_base::failure when the
  /// stream's exceptions() select a bit it sets.
  long tellg();

private:
  /// One unformatted read of `count` bytes into `data`. False, with nothing read, when the
  /// stream was not good before it.
  bool ReadBytes(void* data, std::size_t count);

  std::istream* fIn;
};

/// Writes numbers in binary form to an ostream that outlives it.
///
/// Each number costs one unformatted `write` of the underlying stream, or, over a memory or
/// temporary-file stream (TMemStreamBuf, TTempStreamBuf) that is good, untied and without
/// unitbuf and whose put area has room, the same bytes copied straight into the put area (as
/// `sputc` puts them). A failure shows only in the stream's state (an exception only where its
/// exceptions() ask for one), and the operators return this stream even when it has failed;
/// nothing is written to a stream that is not good.
///
///   ToBinaryStream out(socketStream, 1);  // network order
///   out << 258 << 1.0;                    // 00 00 01 02, then 3F F0 00 00 00 00 00 00
class TAVUTIL_API ToBinaryStream : virtual public VBinaryStreamBase {
public:
  /// Host order. Throws nothing.
  explicit ToBinaryStream(std::ostream& stream) noexcept
      : VBinaryStreamBase(stream), fOut(&stream) {}
  /// Network order when `order` is non-zero, else host order. Throws nothing.
  ToBinaryStream(std::ostream& stream, int order) noexcept
      : VBinaryStreamBase(stream, order), fOut(&stream) {}

  /// Writes the value's form in the current order: 2 bytes for the shorts, 4 for `int`,
  /// `long` and `unsigned long` (their low 32 bits) and `float`, 8 for `double`, and for
  /// `long double` (converted to an IEEE double) 8 in host order, 10 in network order.
  /// Throws std::ios_base::failure when the stream's exceptions() select a bit it sets.
  ///@{
  ToBinaryStream& operator<<(short value);
  ToBinaryStream& operator<<(unsigned short value);
  ToBinaryStream& operator<<(int value);
  ToBinaryStream& operator<<(unsigned int value);
  ToBinaryStream& operator<<(long value);
  ToBinaryStream& operator<<(unsigned long value);
  ToBinaryStream& operator<<(float value);
  ToBinaryStream& operator<<(double value);
  ToBinaryStream& operator<<(long double value);
  ///@}

  /// Writes `count` values from `values`, exactly as `count` operator<< calls would: the
  /// same bytes, and the same state when the stream fails on the way (what follows the
  /// failure is not written). The values that fit a memory or temporary-file stream's put
  /// area are converted straight into it in one pass.
  /// Throws std::ios_base::failure when the stream's exceptions() select a bit it sets.
  ///@{
  ToBinaryStream& WriteArray(const short* values, std::size_t count);
  ToBinaryStream& WriteArray(const unsigned short* values, std::size_t count);
  ToBinaryStream& WriteArray(const int* values, std::size_t count);
  ToBinaryStream& WriteArray(const unsigned int* values, std::size_t count);
  ToBinaryStream& WriteArray(const long* values, std::size_t count);
  ToBinaryStream& WriteArray(const unsigned long* values, std::size_t count);
  ToBinaryStream& WriteArray(const float* values, std::size_t count);
  ToBinaryStream& WriteArray(const double* values, std::size_t count);
  ToBinaryStream& WriteArray(const long double* values, std::size_t count);
  ///@}

  /// Writes a network form as it stands, whatever the order flag says.
  /// Throws std::ios_base::failure when the stream's exceptions() select a bit it sets.
  template <class T> ToBinaryStream& operator<<(const TNetworkValue<T>& value) {
    WriteBytes(value.QueryBytes(), TNetworkValue<T>::kWidth);
    return *this;
  }

  /// Characters go to the underlying stream's text inserters unchanged (width and fill
  /// apply); strings without their terminating null and without a length.
  /// Throws std::ios_base::failure when the stream's exceptions() select a bit it sets.
  ///@{
  ToBinaryStream& operator<<(char character);
  ToBinaryStream& operator<<(signed char character);
  ToBinaryStream& operator<<(unsigned char character);
  ToBinaryStream& operator<<(const char* text);
  ToBinaryStream& operator<<(const signed char* text);
  ToBinaryStream& operator<<(const unsigned char* text);
  ///@}
  /// The stream's text form of a pointer. Throws std::ios_base::failure when the stream's
  /// exceptions() select a bit it sets.
  ToBinaryStream& operator<<(const void* pointer);
  /// Copies everything `buffer` holds, as the underlying stream does.
  /// Throws std::ios_base::failure when the stream's exceptions() select a bit it sets.
  ToBinaryStream& operator<<(std::streambuf* buffer);

  /// A manipulator on ios (or ios_base) or ostream is applied to the underlying stream and
  /// this stream is returned. Throws what `manipulator` throws.
  ///@{
  ToBinaryStream& operator<<(std::ios_base& (*manipulator)(std::ios_base&));
  ToBinaryStream& operator<<(std::ios& (*manipulator)(std::ios&));
  ToBinaryStream& operator<<(std::ostream& (*manipulator)(std::ostream&));
  ///@}
  /// A manipulator on ToBinaryStream is applied to this stream and its result returned.
  /// Throws what `manipulator` throws.
  ToBinaryStream& operator<<(ToBinaryStream& (*manipulator)(ToBinaryStream&)) {
    return manipulator(*this);
  }

  /// Unformatted writes, as the underlying ostream's `write` and `put` make them.
  /// Throws std::ios_base::failure when the stream's exceptions() select a bit it sets.
  ///@{
  ToBinaryStream& write(const char* data, int count);
  ToBinaryStream& write(const signed char* data, int count);
  ToBinaryStream& write(const unsigned char* data, int count);
  ToBinaryStream& put(char character);
  ///@}
  /// Flushes the underlying stream. Throws std::ios_base::failure when the stream's exceptions()
  /// select a bit it sets.
  ToBinaryStream& flush();
  /// The prefix check of an output operation: 0 with failbit set when the stream is not
  /// good; else flushes the tied stream and gives 1. Throws std::ios_base::failure when the
  /// stream's exceptions() select a bit it sets.
  int opfx();
  /// The suffix of an output operation: flushes when unitbuf is set. Throws std::ios_base::failure
  /// when the stream's exceptions() select a bit it sets.
  void osfx();
  /// Moves the write position to `position`, or by `offset` from `direction`.
  /// Throws std::ios_base::failure when the stream's exceptions() select a bit it sets.
  ///@{
  ToBinaryStream& seekp(long position);
  ToBinaryStream& seekp(long offset, std::ios_base::seekdir direction);
  ///@}
  /// The write position, or -1 when the buffer cannot tell. Throws std::ios_base::failure when the
  /// stream's exceptions() select a bit it sets.
  long tellp();

private:
  /// One unformatted write of `count` bytes.
  void WriteBytes(const void* data, std::size_t count);

  std::ostream* fOut;
};

/// Reads and writes binary forms on one iostream, both sides sharing the order flag.
///
///   TMemStream memory;
///   TBinaryStream stream(memory, 1);
///   stream << 1;                     // 00 00 00 01
///   int back = 0;
///   stream >> back;                  // 1
class TAVUTIL_API TBinaryStream : public TiBinaryStream, public ToBinaryStream {
public:
  /// Host order on `stream`, which must outlive this object. Throws nothing.
  explicit TBinaryStream(std::iostream& stream) noexcept
      : VBinaryStreamBase(stream), TiBinaryStream(stream), ToBinaryStream(stream) {}
  /// Network order when `order` is non-zero, else host order. Throws nothing.
  TBinaryStream(std::iostream& stream, int order) noexcept
      : VBinaryStreamBase(stream, order), TiBinaryStream(stream, order),
        ToBinaryStream(stream, order) {}
};

/// Writes the string's binary form: its length L as a 4-byte integer, a 4-byte 0 (both in
/// the stream's order), then its L bytes with no terminating null; nothing records whether
/// the text was wide. Does nothing on a failed stream; a string without buffer writes as
/// the empty string. Throws std::ios_base::failure when the stream's exceptions() select a bit it
/// sets.
TAVUTIL_API ToBinaryStream& operator<<(ToBinaryStream& stream, const TString& string);
/// Reads a string's binary form. On success the string holds L bytes in a buffer of its own
/// (an empty buffer for L 0; no flags). On a failed stream nothing is read; when the stream
/// ends or fails within the form, the string is left unchanged and the stream failed. Text
/// is read in pieces, so a huge length on a short stream allocates no more than arrived; a
/// failed allocation sets badbit. Throws std::ios_base::failure when the stream's exceptions()
/// select a bit it sets.
TAVUTIL_API TiBinaryStream& operator>>(TiBinaryStream& stream, TString& string);

#endif // TAVUTIL_BINSTREAM_H
