// tests/binstream_test.cpp: binary forms against golden byte files, both orders, short
// reads, arrays, the TString form, the text operators, the stream state and the forwarded
// operations, on a string stream and on the library's memory and temporary-file streams.
// Licensed under the Apache License, Version 2.0.
//
// The golden files (tests/data/binstream_*.bin) are made by tests/data/make_binstream_golden.py
// with Python's struct module; this suite also runs in a -m32 build.
#include <tavutil/binstream.h>
#include <tavutil/memstream.h>
#include <tavutil/tmpstrm.h>
#include <tavutil/tstring.h>

#include "binary_forms.h"
#include "helpers/test_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <iomanip>
#include <iterator>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

using namespace std::string_literals;

namespace {

static_assert(sizeof(TNetworkShort) == 2 && sizeof(TNetworkUnsignedShort) == 2);
static_assert(sizeof(TNetworkInt) == 4 && sizeof(TNetworkUnsigned) == 4 &&
              sizeof(TNetworkLong) == 4 && sizeof(TNetworkUnsignedLong) == 4 &&
              sizeof(TNetworkFloat) == 4);
static_assert(sizeof(TNetworkDouble) == 8 && sizeof(TNetworkLongDouble) == 10);

/// Moves a temporary stream to its file before the first byte.
class TAlwaysFile : public TTempStreamTest {
  int UseTempFile(TTempStreamBuf* /*buffer*/) override { return 1; }
};

/// The streams the forms are checked on: a string stream, where every number is one
/// ostream::write or istream::read, and the library's own, whose areas take numbers directly;
/// 7-byte blocks and a 16-byte file buffer put values across every kind of edge.
struct StreamKind {
  const char* what;
  std::unique_ptr<std::iostream> (*make)();
};
const StreamKind kStreamKinds[] = {
    {"stringstream", [] { return std::unique_ptr<std::iostream>(new std::stringstream); }},
    {"memory", [] { return std::unique_ptr<std::iostream>(new TMemStream); }},
    {"memory, 7-byte blocks", [] { return std::unique_ptr<std::iostream>(new TMemStream(7)); }},
    {"temporary file",
     [] {
       return std::unique_ptr<std::iostream>(new TTempStream(16, "binstream", new TAlwaysFile));
     }},
};

/// Everything `stream` holds, read from its start.
std::string Contents(std::iostream& stream) {
  return StreamContents(stream.seekg(0));
}

/// A stream of `kind` holding `bytes`, to be read from their start.
std::unique_ptr<std::iostream> Holding(const StreamKind& kind, const std::string& bytes) {
  std::unique_ptr<std::iostream> stream = kind.make();
  stream->write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  stream->seekg(0);
  return stream;
}

/// The value sequence of the golden files (kept in step with make_binstream_golden.py).
void WriteGoldenValues(ToBinaryStream& out) {
  out << static_cast<short>(-2) << static_cast<unsigned short>(65535) << 258 << 0xDEADBEEFU
      << -123456789L << 4000000000UL << 1.5F << 1.0 << -0.1 << -2.5L << TString("hello")
      << TString() << TNetworkInt(258) << TNetworkLongDouble(1.0L) << TNetworkShort(-2);
}

/// The next value of type T read from `in`.
template <class T> T Next(TiBinaryStream& in) {
  T value{};
  in >> value;
  return value;
}

void ExpectGoldenValues(TiBinaryStream& in) {
  EXPECT_EQ(Next<short>(in), -2);
  EXPECT_EQ(Next<unsigned short>(in), 65535);
  EXPECT_EQ(Next<int>(in), 258);
  EXPECT_EQ(Next<unsigned int>(in), 0xDEADBEEFU);
  EXPECT_EQ(Next<long>(in), -123456789L);
  EXPECT_EQ(Next<unsigned long>(in), 4000000000UL);
  EXPECT_EQ(Next<float>(in), 1.5F);
  EXPECT_EQ(Next<double>(in), 1.0);
  EXPECT_EQ(Next<double>(in), -0.1);
  EXPECT_EQ(Next<long double>(in), -2.5L);
  EXPECT_EQ(Bytes(Next<TString>(in)), "hello");
  TString empty("not empty");
  in >> empty;
  EXPECT_NE(static_cast<const char*>(empty), nullptr);
  EXPECT_EQ(empty.length(), 0U);
  EXPECT_EQ(static_cast<int>(Next<TNetworkInt>(in)), 258);
  EXPECT_EQ(static_cast<long double>(Next<TNetworkLongDouble>(in)), 1.0L);
  EXPECT_EQ(static_cast<short>(Next<TNetworkShort>(in)), -2);
  ASSERT_TRUE(in.good());
  EXPECT_EQ(in.get(), EOF); // nothing left over
}

TEST(TBinaryStream, GoldenBytesInBothOrders) {
  for (int order : {0, 1}) {
    const std::string golden = GoldenFile("binstream", order);
    for (const StreamKind& kind : kStreamKinds) {
      SCOPED_TRACE(std::string(kind.what) + ", order " + std::to_string(order));
      std::unique_ptr<std::iostream> bytes = kind.make();
      ToBinaryStream out(*bytes, order);
      WriteGoldenValues(out);
      EXPECT_TRUE(out.good());
      EXPECT_EQ(Contents(*bytes), golden);

      std::unique_ptr<std::iostream> file = Holding(kind, golden);
      TiBinaryStream in(*file, order);
      ExpectGoldenValues(in);
    }
  }
}

TEST(TBinaryStream, OrderFlagAndCopies) {
  std::stringstream buffer;
  TBinaryStream fresh(buffer);
  EXPECT_EQ(fresh.IsHostOrder(), 1);
  TBinaryStream two(buffer, 2);
  EXPECT_EQ(two.IsNetworkOrder(), 1);

  // The order applies to the next value; a copy shares the stream and the order.
  fresh << 1;
  fresh.NetworkOrder();
  TBinaryStream copy(fresh);
  copy << 1;
  fresh.HostOrder();
  EXPECT_EQ(copy.IsNetworkOrder(), 1);
  EXPECT_EQ(buffer.str(), "\1\0\0\0\0\0\0\1"s);

  // Network order written, host order read back.
  int back = 0;
  fresh >> back >> back;
  EXPECT_EQ(back, 16777216);
}

TEST(TBinaryStream, ShortReadsFillZerosInNetworkOrderAndKeepOldBytesInHostOrder) {
  for (const StreamKind& kind : kStreamKinds) {
    SCOPED_TRACE(kind.what);
    const auto shortRead = [&kind](const std::string& bytes, int order) {
      std::unique_ptr<std::iostream> two = Holding(kind, bytes);
      TiBinaryStream in(*two, order);
      int value = 0x11223344;
      in >> value;
      EXPECT_TRUE(in.fail() && in.eof());
      return static_cast<unsigned>(value);
    };
    EXPECT_EQ(shortRead("\xAB\xCD", 1), 0xABCD0000U);
    EXPECT_EQ(shortRead("\xAA\xBB", 0), 0x1122BBAAU); // the host is little-endian

    // Nothing arriving is a short read of zero bytes; after it the stream has failed and the
    // rest of the chain has no effect, in either order, whatever the target's width.
    std::unique_ptr<std::iostream> empty = Holding(kind, "");
    TiBinaryStream in(*empty, 1);
    double d = 7.0;
    long l = 9;
    long wide = std::numeric_limits<long>::max();
    in >> d >> l;
    in.HostOrder();
    in >> wide;
    EXPECT_EQ(d, 0.0);
    EXPECT_EQ(l, 9);
    EXPECT_EQ(wide, std::numeric_limits<long>::max());
    EXPECT_EQ(!in, 1);
    EXPECT_EQ(static_cast<void*>(in), nullptr);
  }
}

/// A put area of fixed size that never grows: writing past it fails.
class TFixedBuffer : public std::streambuf {
public:
  explicit TFixedBuffer(std::size_t size) : fBytes(size) {
    setp(fBytes.data(), fBytes.data() + size);
  }
  std::string Written() const { return std::string(pbase(), pptr()); }

private:
  std::vector<char> fBytes;
};

TEST(TBinaryStream, ArraysAreTheOperatorsInOneCall) {
  const int ints[] = {258, -1, INT_MAX, INT_MIN, 7};
  const double doubles[] = {1.0, -0.1, 1e300};
  const long double longDoubles[] = {-2.5L, 3.0L};
  const unsigned short shorts[] = {65535, 1, 2};
  for (int order : {0, 1}) {
    // The oracle: one operator per value on a string stream.
    std::ostringstream oneByOne;
    ToBinaryStream one(oneByOne, order);
    for (int v : ints) {
      one << v;
    }
    for (double v : doubles) {
      one << v;
    }
    for (long double v : longDoubles) {
      one << v;
    }
    for (unsigned short v : shorts) {
      one << v;
    }
    const std::string form = oneByOne.str();
    const std::string cut = form.substr(0, 10); // within the third integer

    for (const StreamKind& kind : kStreamKinds) {
      SCOPED_TRACE(std::string(kind.what) + ", order " + std::to_string(order));
      std::unique_ptr<std::iostream> bytes = kind.make();
      TBinaryStream stream(*bytes, order);
      stream.WriteArray(ints, 5).WriteArray(doubles, 3).WriteArray(longDoubles, 2);
      stream.WriteArray(shorts, 3).WriteArray(shorts, 0);
      EXPECT_EQ(Contents(*bytes), form);

      bytes->seekg(0);
      int intsBack[5] = {};
      double doublesBack[3] = {};
      long double longDoublesBack[2] = {};
      unsigned short shortsBack[3] = {};
      stream.ReadArray(intsBack, 5).ReadArray(doublesBack, 3).ReadArray(longDoublesBack, 2);
      stream.ReadArray(shortsBack, 3);
      EXPECT_TRUE(stream.good());
      EXPECT_TRUE(std::equal(ints, ints + 5, intsBack));
      EXPECT_TRUE(std::equal(doubles, doubles + 3, doublesBack));
      EXPECT_TRUE(std::equal(longDoubles, longDoubles + 2, longDoublesBack));
      EXPECT_TRUE(std::equal(shorts, shorts + 3, shortsBack));

      // Cut within the third value: what five operator>> on a string stream give.
      std::unique_ptr<std::iostream> truncated = Holding(kind, cut);
      std::istringstream truncatedToo(cut);
      TiBinaryStream arrays(*truncated, order);
      TiBinaryStream values(truncatedToo, order);
      int byArray[5] = {1, 2, 3, 4, 5};
      int byValue[5] = {1, 2, 3, 4, 5};
      arrays.ReadArray(byArray, 5);
      for (int& v : byValue) {
        values >> v;
      }
      EXPECT_EQ(std::vector<int>(byArray, byArray + 5), std::vector<int>(byValue, byValue + 5));
      EXPECT_EQ(std::vector<int>(byArray, byArray + 5),
                std::vector<int>({258, -1, byArray[2], 4, 5}));
      EXPECT_EQ(arrays.rdstate(), values.rdstate());
    }

    // A buffer that fills within the array: the same bytes and state as one call per value.
    TFixedBuffer arrayBuffer(10);
    TFixedBuffer valueBuffer(10);
    std::ostream arrayStream(&arrayBuffer);
    std::ostream valueStream(&valueBuffer);
    ToBinaryStream(arrayStream, order).WriteArray(ints, 5);
    ToBinaryStream byValue(valueStream, order);
    for (int v : ints) {
      byValue << v;
    }
    EXPECT_EQ(arrayBuffer.Written(), valueBuffer.Written());
    EXPECT_EQ(arrayStream.rdstate(), valueStream.rdstate());
    EXPECT_TRUE(arrayStream.bad());
  }
}

/// Counts the flushes it is given.
class TSyncCounter : public std::streambuf {
public:
  int syncs = 0;

protected:
  int sync() override {
    ++syncs;
    return 0;
  }
};

TEST(TBinaryStream, MemoryStreamsKeepTheIostreamRules) {
  TMemStream memory;
  TBinaryStream stream(memory, 1);
  int back = -1;
  stream << 0 << 1;
  stream >> back; // the areas now have room and bytes to take
  ASSERT_EQ(back, 0);

  // A tied stream is flushed before each number written or read, as the iostream does.
  TSyncCounter counter;
  std::ostream tied(&counter);
  memory.tie(&tied);
  stream << 2;
  stream >> back;
  EXPECT_EQ(back, 1);
  EXPECT_EQ(counter.syncs, 2);

  // With unitbuf each number is flushed, which brings the block's length up to date.
  memory.tie(nullptr);
  memory.setf(std::ios::unitbuf);
  stream << 3;
  EXPECT_EQ(memory.rdbuf()->QueryFirstBuffer()->QueryLength(), 16U);

  // A failed stream takes nothing and gives nothing.
  memory.unsetf(std::ios::unitbuf);
  memory.seekg(0);
  memory.clear(std::ios::failbit);
  stream << 4;
  stream >> back;
  EXPECT_EQ(back, 1);
  memory.clear();
  memory.rdbuf()->pubsync();
  EXPECT_EQ(memory.rdbuf()->QueryFirstBuffer()->QueryLength(), 16U);
}

TEST(TBinaryStream, TStringForm) {
  std::stringstream buffer;
  TBinaryStream stream(buffer, 1);
  stream << TString("");
  EXPECT_EQ(buffer.str(), std::string(8, '\0'));

  // Read back into a string that shares its buffer: the other handle keeps its text.
  TString target("old text");
  TString sharer = target;
  stream >> target;
  EXPECT_EQ(Bytes(target), "");
  EXPECT_NE(static_cast<const char*>(target), nullptr);
  EXPECT_EQ(Bytes(sharer), "old text");

  // Embedded NULs travel; a wide string travels as its bytes and comes back narrow.
  const TString binary("a\0b", 3);
  TString wide(TAVUTIL_WTEXT("hi"));
  stream << binary << wide;
  TString a;
  TString w;
  stream >> a >> w;
  EXPECT_EQ(Bytes(a), std::string("a\0b", 3));
  EXPECT_EQ(Bytes(w), Bytes(wide));
  EXPECT_FALSE(w.IsUnicode());
}

TEST(TBinaryStream, TStringFromTruncatedOrFailedStreams) {
  struct Case {
    const char* what;
    std::string bytes;
  };
  const Case cases[] = {
      {"ends after the length", "\0\0\0\5"s},
      {"ends within the text", "\0\0\0\5\0\0\0\0hel"s},
      {"a huge length on a short stream", "\0\2\0\0\0\0\0\0xyz"s},
  };
  for (const Case& c : cases) {
    std::istringstream bytes(c.bytes);
    TiBinaryStream in(bytes, 1);
    TString target("unchanged");
    in >> target;
    EXPECT_EQ(Bytes(target), "unchanged") << c.what;
    EXPECT_TRUE(in.fail()) << c.what;
  }
  // A long text arrives whole through the piecewise read.
  std::string big(200000, 'x');
  big[123456] = 'y';
  std::stringstream buffer;
  TBinaryStream stream(buffer);
  stream << TString(big.data(), static_cast<unsigned>(big.size()));
  TString back;
  stream >> back;
  EXPECT_EQ(Bytes(back), big);

  // Nothing is written to, or read from, a failed stream.
  std::stringstream failed;
  TBinaryStream none(failed);
  none.clear(std::ios::failbit);
  none << TString("x");
  EXPECT_EQ(failed.str(), "");
}

/// A manipulator on the binary stream itself: switches to network order.
TiBinaryStream& Network(TiBinaryStream& stream) {
  stream.NetworkOrder();
  return stream;
}

TEST(TBinaryStream, CharactersStringsAndManipulatorsGoThroughTheTextOperators) {
  std::stringstream text;
  TBinaryStream stream(text);
  stream.width(3);
  stream.fill('*');
  stream << 'a' << "bc" << static_cast<signed char>('d')
         << reinterpret_cast<const unsigned char*>("e") << std::hex << std::endl;
  EXPECT_EQ(text.str(), "**abcde\n");
  EXPECT_NE(text.flags() & std::ios::hex, std::ios::fmtflags{});

  text.str(" x word rest");
  char c = 0;
  char word[8] = {};
  stream.width(sizeof word);
  stream >> c >> word >> std::noskipws >> Network;
  EXPECT_EQ(c, 'x');
  EXPECT_STREQ(word, "word");
  EXPECT_EQ(text.flags() & std::ios::skipws, std::ios::fmtflags{});
  EXPECT_EQ(stream.IsNetworkOrder(), 1);
}

TEST(TBinaryStream, StateFlagsAndTheForwardedOperations) {
  std::stringstream buffer("line one\nab\ncdefgh");
  TBinaryStream stream(buffer);
  char line[16] = {};
  stream.getline(line, sizeof line);
  EXPECT_STREQ(line, "line one");
  EXPECT_EQ(stream.gcount(), 9);
  EXPECT_EQ(stream.get(), 'a');
  stream.putback('a').ignore(3);
  unsigned char raw[3] = {};
  stream.read(raw, 3);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(raw), 3), "cde");
  EXPECT_EQ(stream.tellg(), 15);
  stream.seekg(0).seekg(5, std::ios::cur);
  EXPECT_EQ(stream.peek(), 'o');
  stream.seekp(0, std::ios::end);
  stream.write("!", 1).put('?');
  EXPECT_EQ(stream.tellp(), 20);

  // clear() keeps only the state bits; a failed stream fails the prefixes.
  EXPECT_EQ(stream.opfx() + stream.ipfx(1), 2);
  stream.clear(std::ios::badbit | 0x10000);
  EXPECT_EQ(stream.rdstate(), static_cast<int>(std::ios::badbit));
  EXPECT_EQ(stream.fail() * 100 + stream.bad() * 10 + stream.good(), 110);
  EXPECT_EQ(static_cast<void*>(stream), nullptr);
  EXPECT_EQ(stream.opfx() + stream.ipfx(0), 0);
  stream.clear();
  EXPECT_NE(static_cast<void*>(stream), nullptr);

  const long old =
      stream.setf(static_cast<long>(std::ios::hex), static_cast<long>(std::ios::basefield));
  EXPECT_NE(buffer.flags() & std::ios::hex, std::ios::fmtflags{});
  stream.flags(old);
  EXPECT_EQ(buffer.flags(), static_cast<std::ios::fmtflags>(old));
}

} // namespace
