// tests/binstream_test.cpp: binary forms against golden byte files, both orders, short
// reads, the TString form, stream state and the forwarded operations.
// Licensed under the Apache License, Version 2.0.
//
// The golden files (tests/data/binstream_*.bin) are made by tests/data/make_binstream_golden.py
// with Python's struct module; this suite also runs in a -m32 build.
#include <tavutil/binstream.h>
#include <tavutil/tstring.h>

#include "binary_forms.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iomanip>
#include <sstream>
#include <string>

namespace {

static_assert(sizeof(TNetworkShort) == 2 && sizeof(TNetworkUnsignedShort) == 2);
static_assert(sizeof(TNetworkInt) == 4 && sizeof(TNetworkUnsigned) == 4 &&
              sizeof(TNetworkLong) == 4 && sizeof(TNetworkUnsignedLong) == 4 &&
              sizeof(TNetworkFloat) == 4);
static_assert(sizeof(TNetworkDouble) == 8 && sizeof(TNetworkLongDouble) == 10);

std::string Bytes(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) {
    s += static_cast<char>(b);
  }
  return s;
}

std::string Text(const TString& s) {
  const char* text = s;
  return text != nullptr ? std::string(text, s.length()) : std::string();
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
  EXPECT_EQ(Text(Next<TString>(in)), "hello");
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
    SCOPED_TRACE(order);
    const std::string golden = GoldenFile("binstream", order);
    std::ostringstream bytes;
    ToBinaryStream out(bytes, order);
    WriteGoldenValues(out);
    EXPECT_TRUE(out.good());
    EXPECT_EQ(bytes.str(), golden);

    std::istringstream file(golden);
    TiBinaryStream in(file, order);
    ExpectGoldenValues(in);
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
  EXPECT_EQ(buffer.str(), Bytes({1, 0, 0, 0, 0, 0, 0, 1}));

  // Network order written, host order read back.
  int back = 0;
  fresh >> back >> back;
  EXPECT_EQ(back, 16777216);
}

TEST(TBinaryStream, WidthsOfEachForm) {
  struct Case {
    const char* what;
    void (*write)(ToBinaryStream&);
    std::size_t host;
    std::size_t network;
  };
  const Case cases[] = {
      {"long double", [](ToBinaryStream& s) { s << 1.0L; }, 8, 10},
      {"long", [](ToBinaryStream& s) { s << -1L; }, 4, 4},
      {"unsigned long", [](ToBinaryStream& s) { s << ~0UL; }, 4, 4},
      {"float", [](ToBinaryStream& s) { s << 1.0F; }, 4, 4},
  };
  for (const Case& c : cases) {
    for (int order : {0, 1}) {
      std::ostringstream bytes;
      ToBinaryStream out(bytes, order);
      c.write(out);
      EXPECT_EQ(bytes.str().size(), order ? c.network : c.host) << c.what << " order " << order;
    }
  }
  // Signedness does not show in the bytes.
  std::ostringstream bytes;
  ToBinaryStream out(bytes, 1);
  out << static_cast<unsigned short>(65535) << static_cast<short>(-1);
  EXPECT_EQ(bytes.str(), Bytes({0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(TBinaryStream, ShortReadsFillZerosInNetworkOrderAndKeepOldBytesInHostOrder) {
  {
    std::istringstream two(Bytes({0xAB, 0xCD}));
    TiBinaryStream in(two, 1);
    int value = 0x11223344;
    in >> value;
    EXPECT_EQ(static_cast<unsigned>(value), 0xABCD0000U);
    EXPECT_TRUE(in.fail() && in.eof());
  }
  {
    std::istringstream two(Bytes({0xAA, 0xBB}));
    TiBinaryStream in(two);
    int value = 0x11223344;
    in >> value;
    EXPECT_EQ(static_cast<unsigned>(value), 0x1122BBAAU); // the host is little-endian
  }
  {
    // Nothing arriving is a short read of zero bytes; after it the stream has failed and
    // the rest of the chain has no effect.
    std::istringstream empty;
    TiBinaryStream in(empty, 1);
    double d = 7.0;
    long l = 9;
    in >> d >> l;
    EXPECT_EQ(d, 0.0);
    EXPECT_EQ(l, 9);
    EXPECT_EQ(!in, 1);
    EXPECT_EQ(static_cast<void*>(in), nullptr);
  }
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
  EXPECT_EQ(Text(target), "");
  EXPECT_NE(static_cast<const char*>(target), nullptr);
  EXPECT_EQ(Text(sharer), "old text");

  // Embedded NULs travel; a wide string travels as its bytes and comes back narrow.
  const TString binary("a\0b", 3);
  TString wide(TAVUTIL_WTEXT("hi"));
  stream << binary << wide;
  TString a;
  TString w;
  stream >> a >> w;
  EXPECT_EQ(Text(a), std::string("a\0b", 3));
  EXPECT_EQ(Text(w), Text(wide));
  EXPECT_FALSE(w.IsUnicode());
}

TEST(TBinaryStream, TStringFromTruncatedOrFailedStreams) {
  struct Case {
    const char* what;
    std::string bytes;
  };
  const Case cases[] = {
      {"ends after the length", Bytes({0, 0, 0, 5})},
      {"ends within the text", Bytes({0, 0, 0, 5, 0, 0, 0, 0}) + "hel"},
      {"a huge length on a short stream", Bytes({0, 2, 0, 0, 0, 0, 0, 0}) + "xyz"},
  };
  for (const Case& c : cases) {
    std::istringstream bytes(c.bytes);
    TiBinaryStream in(bytes, 1);
    TString target("unchanged");
    in >> target;
    EXPECT_EQ(Text(target), "unchanged") << c.what;
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
  EXPECT_EQ(Text(back), big);

  // Nothing is written to, or read from, a failed stream.
  std::stringstream failed;
  TBinaryStream none(failed);
  none.clear(std::ios::failbit);
  none << TString("x");
  EXPECT_EQ(failed.str(), "");
}

TEST(TBinaryStream, CharactersAndStringsGoThroughTheTextOperators) {
  std::stringstream text;
  TBinaryStream stream(text);
  stream.width(3);
  stream.fill('*');
  stream << 'a' << "bc" << static_cast<signed char>('d')
         << reinterpret_cast<const unsigned char*>("e");
  EXPECT_EQ(text.str(), "**abcde");

  text.str(" x word rest");
  char c = 0;
  char word[8] = {};
  stream.width(sizeof word);
  stream >> c >> word;
  EXPECT_EQ(c, 'x');
  EXPECT_STREQ(word, "word");
}

TEST(TBinaryStream, StateForwarders) {
  std::stringstream buffer;
  TBinaryStream stream(buffer);
  int value = 0;
  stream >> value;
  EXPECT_EQ(stream.good(), 0);
  EXPECT_NE(stream.fail(), 0);
  EXPECT_EQ(stream.rdstate(), static_cast<int>(buffer.rdstate()));
  stream.clear(0);
  EXPECT_EQ(stream.good(), 1);
  EXPECT_NE(static_cast<void*>(stream), nullptr);
  stream.clear(std::ios::failbit);
  EXPECT_NE(stream.fail(), 0);
  EXPECT_EQ(stream.bad(), 0);
  stream.clear(std::ios::badbit | 0x10000);
  EXPECT_EQ(stream.rdstate(), static_cast<int>(std::ios::badbit)); // other bits are dropped
  stream.clear();

  const long old =
      stream.setf(static_cast<long>(std::ios::hex), static_cast<long>(std::ios::basefield));
  EXPECT_NE(buffer.flags() & std::ios::hex, std::ios::fmtflags{});
  stream.flags(old);
  EXPECT_EQ(buffer.flags(), static_cast<std::ios::fmtflags>(old));
}

/// A manipulator on the binary stream itself: switches to network order.
TiBinaryStream& Network(TiBinaryStream& stream) {
  stream.NetworkOrder();
  return stream;
}

TEST(TBinaryStream, ManipulatorsOfThreeKinds) {
  std::stringstream buffer;
  TBinaryStream stream(buffer);
  stream << std::hex << std::flush;
  EXPECT_NE(buffer.flags() & std::ios::hex, std::ios::fmtflags{});
  stream << 'x' << std::endl;
  EXPECT_EQ(buffer.str(), "x\n");
  stream >> std::noskipws >> Network;
  EXPECT_EQ(buffer.flags() & std::ios::skipws, std::ios::fmtflags{});
  EXPECT_EQ(stream.IsNetworkOrder(), 1);
}

TEST(TBinaryStream, StreamForwarders) {
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
  EXPECT_EQ(stream.opfx(), 1);
  EXPECT_EQ(stream.ipfx(1), 1);
  stream.clear(std::ios::failbit);
  EXPECT_EQ(stream.opfx(), 0);
  EXPECT_EQ(stream.ipfx(0), 0);
}

} // namespace
