// tests/messagebin_test.cpp: the TMessage binary form: golden bytes in both orders, a message
// written by another process, streams cut at every byte, forged counts and lengths, unknown
// argument tags.
// Licensed under the Apache License, Version 2.0.
//
// The golden files (tests/data/message_*.bin) are made by tests/data/make_binforms_golden.py
// with Python's struct module. This program replaces the global operator new to see the
// largest allocation a read makes.
#include <tavutil/binstream.h>
#include <tavutil/memstream.h>
#include <tavutil/message.h>

#include "helpers/every_argument_message.h"
#include "library_error.h"
#include "tagvar_describe.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <new>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace {

std::atomic<bool> gWatching{false};
std::atomic<std::size_t> gLargest{0};

/// The largest single allocation made while it lives.
class LargestAllocation {
public:
  LargestAllocation() {
    gLargest = 0;
    gWatching = true;
  }
  ~LargestAllocation() { gWatching = false; }
  LargestAllocation(const LargestAllocation&) = delete;
  LargestAllocation& operator=(const LargestAllocation&) = delete;
  std::size_t Bytes() const { return gLargest; }
};

/// Out of line, so the compiler does not pair this free with a particular new expression.
[[gnu::noinline]] void FreeBlock(void* block) noexcept {
  std::free(block);
}

} // namespace

// The plain operator new and delete on malloc and free, to see the largest allocation; the
// array and nothrow forms of the runtime end in these.
void* operator new(std::size_t size) {
  if (gWatching) {
    std::size_t seen = gLargest;
    while (size > seen && !gLargest.compare_exchange_weak(seen, size)) {
    }
  }
  void* block = std::malloc(size != 0 ? size : 1);
  if (block == nullptr) {
    throw std::bad_alloc();
  }
  return block;
}

void operator delete(void* block) noexcept {
  FreeBlock(block);
}

void operator delete(void* block, std::size_t) noexcept {
  FreeBlock(block);
}

namespace {

std::string ReadFile(const std::string& name) {
  std::ifstream in(std::string(TAVUTIL_TEST_DATA_DIR) + "/" + name, std::ios::binary);
  EXPECT_TRUE(in.good()) << name;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Text(const TString& s) {
  const char* text = s;
  return text != nullptr ? std::string(text, s.length()) : std::string("<no buffer>");
}

std::string Write(const TMessage& m, int order) {
  std::ostringstream bytes;
  ToBinaryStream out(bytes, order);
  EXPECT_EQ(&m.WriteToBinaryStream(out), &out);
  EXPECT_TRUE(out.good());
  return bytes.str();
}

/// Little builders for hand-made forms.
struct Form {
  explicit Form(int order) : out(bytes, order) {}
  Form& Int(std::int32_t value) {
    out << static_cast<int>(value);
    return *this;
  }
  Form& Text(const char* text) {
    out << TString(text);
    return *this;
  }
  /// A message's fields 1 to 5 (store "S", set 1, message 2, text "t %d") with `count`.
  Form& Head(std::uint32_t count) {
    Text("S").Int(1).Int(2).Text("t %d");
    out << static_cast<unsigned int>(count);
    return *this;
  }
  std::string Bytes() const { return bytes.str(); }

  std::ostringstream bytes;
  ToBinaryStream out;
};

std::vector<std::string> DescribeArguments(const TMessage& m) {
  std::vector<std::string> described;
  for (unsigned i = 0; i < m.QueryNumberArgs(); ++i) {
    described.push_back(Describe(m[i]));
  }
  return described;
}

/// The every-argument message as it reads back: the datetime's zone is 0, the wide text is
/// its UTF-16 bytes, the string without buffer is still one.
const std::vector<std::string>& EveryArgumentReadBack() {
  static const std::vector<std::string> described = {"0:",
                                                     "1:",
                                                     "2:-123456789",
                                                     "3:4000000000",
                                                     "4:-0.10000000000000001",
                                                     "5:narrow",
                                                     std::string("6:w\0i\0d\0e\0", 10),
                                                     "7:",
                                                     "8:",
                                                     "9:946728000/0",
                                                     "10:3405705229",
                                                     "5:",
                                                     "5:<null>"};
  return described;
}

/// A message that holds something in every field, a rendered text included.
TMessage OldMessage() {
  TMessage old(TMessage::StoreID(TString("Old"), explicitInit), 11, 12, "old %d %d", TagVar(1),
               TagVar(2));
  old.SetDebugging("old.cpp", 5);
  EXPECT_STREQ(old.QueryMessage(), "old 1 2");
  return old;
}

TEST(TMessageBinary, GoldenBytesInBothOrders) {
  // Eleven arguments, one of each type; the list forms stop at nil and endOfArgs, so the
  // last four are set through operator[].
  const TagVar args[] = {TagVar("C"),
                         TagVar(93),
                         TagVar(4000000000u),
                         TagVar(0.5),
                         TagVar(u"ok"),
                         TagVar(TDateTime(946728000, 3600)),
                         TagVar(TagVarVoidPtr(reinterpret_cast<void*>(std::uintptr_t{0x12345678}))),
                         TagVar(0),
                         TagVar(0),
                         TagVar(0),
                         TagVar(0)};
  const TagVar* list[12] = {};
  for (unsigned i = 0; i < 11; ++i) {
    list[i] = &args[i];
  }
  TMessage stored(TMessage::StoreID(TString("App"), explicitInit), 3, 7, "Disk %s is %d%% full",
                  list);
  stored[7] = TagVar();
  stored[8] = TagVar(TagVar::endOfArgs);
  stored[9] = TagVar(TDate());
  stored[10] = TagVar(TTime());
  stored.SetDebugging("disk.cpp", 42);
  const TMessage literal("plain");

  for (int order : {0, 1}) {
    SCOPED_TRACE(order);
    const std::string golden = ReadFile(order ? "message_network.bin" : "message_host.bin");
    EXPECT_EQ(Write(stored, order) + Write(literal, order), golden);

    std::istringstream file(golden);
    TiBinaryStream in(file, order);
    TMessage first = OldMessage();
    TMessage second = OldMessage();
    first.ReadFromBinaryStream(in);
    second.ReadFromBinaryStream(in);
    ASSERT_TRUE(in.good());
    EXPECT_EQ(in.get(), EOF);

    EXPECT_EQ(Text(first.QueryStoreID()), "App");
    EXPECT_EQ(first.QuerySetID(), 3);
    EXPECT_EQ(first.QueryMessageID(), 7);
    EXPECT_EQ(first.QueryFile(), nullptr); // the debugging location is not carried
    EXPECT_EQ(first.QueryLine(), 0u);
    EXPECT_EQ(DescribeArguments(first),
              (std::vector<std::string>{"5:C", "2:93", "3:4000000000", "4:0.5",
                                        std::string("6:o\0k\0", 6), "9:946728000/0", "10:305419896",
                                        "0:", "1:", "7:", "8:"}));
    // The rendered text is made afresh from what was read.
    EXPECT_STREQ(first.QueryMessage(), "Disk C is 93% full");

    EXPECT_TRUE(second.QueryStoreID().IsEqual(TMessage::StoreID())); // no buffer, as written
    EXPECT_EQ(second.UserDisplayable(), 0);
    EXPECT_EQ(second.QuerySetID(), 0);
    EXPECT_EQ(second.QueryNumberArgs(), 0u);
    EXPECT_EQ(second.QueryFile(), nullptr);
    EXPECT_STREQ(second.QueryMessage(), "plain");
  }
}

TEST(TMessageBinary, AMessageWrittenByAnotherProcessReadsBack) {
  for (const char* order : {"host", "network"}) {
    SCOPED_TRACE(order);
    const std::string command =
        "'" + std::string(TAVUTIL_TEST_BINARY_DIR) + "/messagebin_writer' " + order;
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string bytes;
    char chunk[512];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) != 0;) {
      bytes.append(chunk, n);
    }
    const int status = ::pclose(pipe);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

    // Through a memory stream, as a receiver would hold it.
    TMemStream memory;
    memory.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    TBinaryStream in(memory, std::string(order) == "network");
    TMessage m = OldMessage();
    m.ReadFromBinaryStream(in);
    ASSERT_TRUE(in.good());
    EXPECT_EQ(in.get(), EOF);
    EXPECT_EQ(Text(m.QueryStoreID()), "App");
    EXPECT_EQ(m.UserDisplayable(), 1);
    EXPECT_EQ(m.QuerySetID(), 3);
    EXPECT_EQ(m.QueryMessageID(), 7);
    EXPECT_EQ(m.QueryFile(), nullptr);
    EXPECT_EQ(m.QueryLine(), 0u);
    EXPECT_EQ(DescribeArguments(m), EveryArgumentReadBack());
    EXPECT_EQ(m[6].QueryString()->IsUnicode(), 0);
    EXPECT_EQ(static_cast<const char*>(*m[11].QueryString()), nullptr);
    // The same bytes as this process writes.
    EXPECT_EQ(bytes, Write(EveryArgumentMessage(), std::string(order) == "network"));
  }
}

TEST(TMessageBinary, ReadingReplacesEverythingButTheDebuggingLocationItIsGiven) {
  TMessage m = OldMessage();
  TMessage written(TMessage::StoreID(TString("New"), explicitInit), -1, 2147483647, "new %d",
                   TagVar(5));
  written.SetDebugging("new.cpp", 7);
  std::istringstream bytes(Write(written, 0));
  TiBinaryStream in(bytes);
  m.ReadFromBinaryStream(in);
  EXPECT_TRUE(in.good());
  EXPECT_EQ(Text(m.QueryStoreID()), "New");
  EXPECT_EQ(m.QuerySetID(), -1);
  EXPECT_EQ(m.QueryMessageID(), 2147483647);
  EXPECT_EQ(DescribeArguments(m), std::vector<std::string>{"2:5"});
  EXPECT_EQ(m.QueryFile(), nullptr); // the old "old.cpp" is replaced by the empty one sent
  EXPECT_EQ(m.QueryLine(), 0u);
  EXPECT_STREQ(m.QueryMessage(), "new 5"); // not the cached "old 1 2"

  // A stream that is failed before the read only discards the rendered text and arguments.
  TMessage kept = OldMessage();
  std::istringstream again(Write(written, 0));
  TiBinaryStream failed(again);
  failed.clear(std::ios_base::failbit);
  kept.ReadFromBinaryStream(failed);
  EXPECT_EQ(Text(kept.QueryStoreID()), "Old");
  EXPECT_EQ(kept.QuerySetID(), 11);
  EXPECT_EQ(kept.QueryNumberArgs(), 0u);
  EXPECT_STREQ(kept.QueryFile(), "old.cpp");
  EXPECT_EQ(kept.QueryLine(), 5u);
  EXPECT_STREQ(kept.QueryMessage(), "old %d %d"); // rendered afresh: no arguments now
}

TEST(TMessageBinary, CutAtEveryByteKeepsTheFieldsReadWhole) {
  const TMessage written = EveryArgumentMessage();
  const TMessage old = OldMessage();
  for (int order : {0, 1}) {
    // Where each field ends: store, set id, message id, text, count, the arguments, file.
    std::vector<std::size_t> ends;
    {
      std::ostringstream bytes;
      ToBinaryStream out(bytes, order);
      out << written.QueryStoreID();
      ends.push_back(bytes.str().size());
      for (int i = 0; i < 2; ++i) {
        out << 0;
        ends.push_back(bytes.str().size());
      }
      out << TString("Every type %d of %s");
      ends.push_back(bytes.str().size());
      out << 0;
      ends.push_back(bytes.str().size());
      for (unsigned i = 0; i < written.QueryNumberArgs(); ++i) {
        written[i].WriteToBinaryStream(out);
        ends.push_back(bytes.str().size());
      }
      out << TString();
      ends.push_back(bytes.str().size());
    }
    const std::string form = Write(written, order);
    ASSERT_EQ(form.size(), ends.back() + 4);
    const auto whole = [&ends](std::size_t field, std::size_t k) { return ends[field] <= k; };
    const std::size_t firstArgument = 5;
    const std::size_t fileField = ends.size() - 1;

    for (std::size_t k = 0; k < form.size(); ++k) {
      SCOPED_TRACE(std::to_string(order) + ": " + std::to_string(k) + " bytes");
      TMemStream memory(7); // small blocks: the cut may fall anywhere in a block
      memory.write(form.data(), static_cast<std::streamsize>(k));
      TBinaryStream in(memory, order);
      TMessage m = old;
      m.ReadFromBinaryStream(in);
      EXPECT_TRUE(in.fail());

      EXPECT_EQ(Text(m.QueryStoreID()), whole(0, k) ? "App" : "Old");
      EXPECT_EQ(m.QuerySetID(), whole(1, k) ? 3 : 11);
      EXPECT_EQ(m.QueryMessageID(), whole(2, k) ? 7 : 12);
      std::size_t arguments = 0;
      while (firstArgument + arguments < fileField && whole(firstArgument + arguments, k)) {
        ++arguments;
      }
      const std::vector<std::string> expected(EveryArgumentReadBack().begin(),
                                              EveryArgumentReadBack().begin() +
                                                  static_cast<std::ptrdiff_t>(arguments));
      EXPECT_EQ(DescribeArguments(m), expected);
      if (whole(fileField, k)) {
        EXPECT_EQ(m.QueryFile(), nullptr);
      } else {
        EXPECT_STREQ(m.QueryFile(), "old.cpp");
      }
      EXPECT_EQ(m.QueryLine(), 5u);
      // The text is the new one once read whole; the message renders either way.
      const std::string rendered(m.QueryMessage());
      EXPECT_EQ(rendered.rfind(whole(3, k) ? "Every type" : "old", 0), 0u) << rendered;
    }
  }
}

TEST(TMessageBinary, ForgedCountsAndLengthsCostNoMoreThanTheData) {
  for (int order : {0, 1}) {
    SCOPED_TRACE(order);
    {
      // A negative count: refused, with failbit and no argument.
      Form form(order);
      form.Head(0xFFFFFFFFu).Int(TagVar::integer).Int(5);
      std::istringstream bytes(form.Bytes());
      TiBinaryStream in(bytes, order);
      TMessage m = OldMessage();
      const LargestAllocation largest;
      m.ReadFromBinaryStream(in);
      EXPECT_TRUE(in.fail());
      EXPECT_FALSE(in.bad());
      EXPECT_EQ(m.QueryNumberArgs(), 0u);
      EXPECT_EQ(Text(m.QueryStoreID()), "S");
      EXPECT_STREQ(m.QueryFile(), "old.cpp");
      EXPECT_LT(largest.Bytes(), 1024u);
    }
    for (std::uint32_t count : {0x7FFFFFFFu, 1000u}) {
      // Far more arguments announced than sent: those sent are kept, the room grows with them.
      SCOPED_TRACE(count);
      Form form(order);
      form.Head(count);
      for (int i = 0; i < 40; ++i) {
        form.Int(TagVar::integer).Int(i);
      }
      std::istringstream bytes(form.Bytes());
      TiBinaryStream in(bytes, order);
      TMessage m;
      const LargestAllocation largest;
      m.ReadFromBinaryStream(in);
      EXPECT_TRUE(in.fail());
      ASSERT_EQ(m.QueryNumberArgs(), 40u);
      EXPECT_EQ(static_cast<long>(m[39]), 39);
      EXPECT_LT(largest.Bytes(), 64 * sizeof(TagVar) + 64); // not 1000 slots, let alone 2^31
    }
    {
      // A text length of nearly 4 GiB with a few bytes behind it.
      Form form(order);
      form.Text("S").Int(1).Int(2).Int(-16).Int(0).Text("only this");
      std::istringstream bytes(form.Bytes());
      TiBinaryStream in(bytes, order);
      TMessage m = OldMessage();
      const LargestAllocation largest;
      m.ReadFromBinaryStream(in);
      EXPECT_TRUE(in.fail());
      EXPECT_EQ(m.QueryMessageID(), 2);
      EXPECT_STREQ(m.QueryMessage(), "old %d %d"); // the old text, no arguments
      EXPECT_LE(largest.Bytes(), std::size_t{128} * 1024);
    }
  }
}

TEST(TMessageBinary, ManyArgumentsRoundTrip) {
  std::vector<TagVar> values;
  for (int i = 0; i < 1000; ++i) {
    values.emplace_back(i % 3 == 0 ? TagVar(i) : i % 3 == 1 ? TagVar(i * 0.5) : TagVar("s"));
  }
  std::vector<const TagVar*> list;
  for (const TagVar& v : values) {
    list.push_back(&v);
  }
  list.push_back(nullptr);
  const TMessage written("many", list.data());
  for (int order : {0, 1}) {
    std::istringstream bytes(Write(written, order));
    TiBinaryStream in(bytes, order);
    TMessage m;
    m.ReadFromBinaryStream(in);
    EXPECT_TRUE(in.good());
    EXPECT_EQ(DescribeArguments(m), DescribeArguments(written));
  }
}

TEST(TMessageBinary, UnknownArgumentTagsAreRefused) {
  // Reading: "unknown type", keeping the arguments before it.
  Form form(1);
  form.Head(3).Int(TagVar::integer).Int(5).Int(99).Int(TagVar::integer).Int(6);
  std::istringstream bytes(form.Bytes());
  TiBinaryStream in(bytes, 1);
  TMessage m = OldMessage();
  ExpectRaises([&] { m.ReadFromBinaryStream(in); },
               {"TInvalidRequest", "unknown type", 3, 0, "utility/TAGVAR", 2267});
  EXPECT_EQ(DescribeArguments(m), std::vector<std::string>{"2:5"});
  EXPECT_EQ(Text(m.QueryStoreID()), "S");
  EXPECT_STREQ(m.QueryFile(), "old.cpp");

  // Writing: an argument given an unknown tag (its assignment throws, keeping the tag).
  TMessage bad("%d %d", TagVar(1), TagVar(2));
  EXPECT_THROW(bad[1] = TagVar(static_cast<TagVar::Type>(99)), TInvalidRequest);
  std::ostringstream out;
  ToBinaryStream binary(out);
  ExpectRaises([&] { bad.WriteToBinaryStream(binary); },
               {"TInvalidRequest", "unknown type", 3, 0, "utility/TAGVAR", 2340});
  // Everything up to the unknown argument's tag went out.
  Form expected(0);
  expected.Text("").Int(0).Int(0).Text("%d %d").Int(2).Int(TagVar::integer).Int(1).Int(99);
  EXPECT_EQ(out.str(), expected.Bytes());
}

TEST(TMessageBinary, WritingToAFailedStreamWritesNothing) {
  std::ostringstream bytes;
  ToBinaryStream out(bytes);
  out.clear(std::ios_base::badbit);
  EveryArgumentMessage().WriteToBinaryStream(out);
  EXPECT_EQ(bytes.str(), "");
}

} // namespace
