// tests/memstream_test.cpp: the block chain, block boundaries, reading while writing,
// absolute seeks, overwriting in place and WriteTo (binary values across block edges are
// in binstream_test).
// Licensed under the Apache License, Version 2.0.
#include <tavutil/memstream.h>

#include "helpers/test_text.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

/// The lengths of the stream's blocks, in chain order.
std::vector<unsigned long> BlockLengths(const TMemStream& stream) {
  stream.rdbuf()->pubsync();
  std::vector<unsigned long> lengths;
  for (const TMemStreamBuffer* b = stream.rdbuf()->QueryFirstBuffer(); b != nullptr;
       b = b->QueryNext()) {
    lengths.push_back(b->QueryLength());
  }
  return lengths;
}

TEST(TMemStream, BlocksFillToTheirAllocationSize) {
  TMemStream stream;
  EXPECT_EQ(stream.rdbuf()->QueryFirstBuffer(), nullptr);
  EXPECT_EQ(stream.get(), EOF);
  unsigned long count = 1;
  EXPECT_EQ(Copied(stream, &count), "");
  EXPECT_EQ(count, 0U);
  stream.clear();
  stream << std::string(10000, 'a');
  EXPECT_EQ(BlockLengths(stream), std::vector<unsigned long>({10000}));
  stream << 'b';
  EXPECT_EQ(BlockLengths(stream), std::vector<unsigned long>({10000, 1}));

  TMemStream small(16);
  const std::string data = Pattern(40);
  small.write(data.data(), 40);
  EXPECT_EQ(BlockLengths(small), std::vector<unsigned long>({16, 16, 8}));
  EXPECT_EQ(Copied(small, &count), data);
  EXPECT_EQ(count, 40U);
}

TEST(TMemStream, AbsoluteSeeksOnly) {
  TMemStream stream(16);
  const std::string data = Pattern(40);
  stream.write(data.data(), 40);

  // Each offset and where it leads: the byte there is read next, or EOF at the end.
  const std::pair<long, long> seeks[] = {{0, 0},   {15, 15}, {16, 16},  {32, 32},
                                         {39, 39}, {40, 40}, {1000, 40}};
  for (const auto& [offset, reached] : seeks) {
    stream.clear();
    EXPECT_EQ(stream.rdbuf()->pubseekoff(offset, std::ios::beg, std::ios::in), reached) << offset;
    EXPECT_EQ(stream.get(), reached < 40 ? static_cast<unsigned char>(data[reached]) : EOF)
        << offset;
  }
  stream.clear();
  EXPECT_EQ(stream.rdbuf()->pubseekoff(-1, std::ios::beg), -1);
  EXPECT_EQ(stream.rdbuf()->pubseekoff(0, std::ios::cur), -1);
  EXPECT_EQ(stream.rdbuf()->pubseekoff(0, std::ios::end), -1);
  EXPECT_EQ(stream.tellg(), -1);
  EXPECT_EQ(stream.tellp(), -1);
  stream.seekg(5, std::ios::cur);
  EXPECT_TRUE(stream.fail());

  TMemStream empty;
  EXPECT_EQ(empty.rdbuf()->pubseekoff(100, std::ios::beg), 0);
}

TEST(TMemStream, ReadingWhileWriting) {
  TMemStream stream(16);
  std::string written;
  std::string read;
  for (int round = 0; round < 12; ++round) {
    const std::string piece =
        Pattern(static_cast<std::size_t>(round * 3 + 1), static_cast<std::size_t>(round) * 7);
    stream.write(piece.data(), static_cast<std::streamsize>(piece.size()));
    written += piece;
    // Read half of what is pending, then, every other round, catch up and hit EOF.
    const std::size_t pending = written.size() - read.size();
    std::string chunk((round % 2 == 0) ? pending / 2 : pending, '\0');
    stream.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    ASSERT_EQ(static_cast<std::size_t>(stream.gcount()), chunk.size()) << round;
    read += chunk;
    if (round % 2 == 1) {
      EXPECT_EQ(stream.get(), EOF) << round;
      stream.clear();
    }
  }
  EXPECT_EQ(read, written);
  EXPECT_EQ(Copied(stream), written); // WriteTo does not depend on the reader
}

TEST(TMemStream, OverwritingInPlaceContinuesInTheNextBlock) {
  TMemStream stream(16);
  stream.write(Pattern(40).data(), 40);
  const TMemStreamBuffer* third = stream.rdbuf()->QueryFirstBuffer()->QueryNext()->QueryNext();

  stream.seekp(10);
  stream.write("ABCDEFGHIJ", 10); // crosses from the first block into the second
  EXPECT_EQ(BlockLengths(stream), std::vector<unsigned long>({16, 16, 8}));
  stream.seekp(36);
  stream.write("WXYZ12", 6); // two bytes past the old end, in the last block
  EXPECT_EQ(stream.rdbuf()->QueryFirstBuffer()->QueryNext()->QueryNext(), third);

  std::string expected = Pattern(40);
  expected.replace(10, 10, "ABCDEFGHIJ");
  expected.replace(36, 4, "WXYZ12");
  EXPECT_EQ(Copied(stream), expected);
  stream.seekg(0);
  std::string back(42, '\0');
  stream.read(back.data(), 42);
  EXPECT_EQ(back, expected);
}

TEST(TMemStreamBuffer, ChainOwnershipAndLengths) {
  TMemStreamBuffer block(8);
  block.SetLength(100); // beyond the capacity: taken as the capacity
  EXPECT_EQ(block.QueryLength(), 8U);
  block.SetNext(new TMemStreamBuffer(4));
  block.QueryNext()->SetNext(new TMemStreamBuffer(4));
  block.SetNext(block.QueryNext()); // the block already linked: nothing happens
  ASSERT_NE(block.QueryNext(), nullptr);
  EXPECT_NE(block.QueryNext()->QueryNext(), nullptr);
  block.SetNext(nullptr); // destroys both followers (ASan checks none leaks)
  EXPECT_EQ(block.QueryNext(), nullptr);
}

TEST(TMemStreamBuffer, LongChainsAreFreedWithoutRecursion) {
  // A million one-byte blocks: a recursive destructor would run out of stack.
  TMemStream stream(1);
  const std::string data(1000000, 'x');
  stream.write(data.data(), static_cast<std::streamsize>(data.size()));
  EXPECT_TRUE(stream.good());
}

} // namespace
