// tests/message_binary_test.cpp: the TMessage binary form: golden bytes in both orders, streams
// cut at every byte, forged counts and lengths.
// Licensed under the Apache License, Version 2.0.
//
// The golden files (tests/data/message_*.bin) are made by tests/data/make_binforms_golden.py
// with Python's struct module. This program replaces the global operator new to see the
// largest allocation a read makes, where the library's allocations reach it.
#include <tavutil/binstream.h>
#include <tavutil/memstream.h>
#include <tavutil/message.h>

#include "binary_forms.h"
#include "helpers/every_argument_message.h"
#include "helpers/test_text.h"
#include "library_error.h"
#include "tagvar_describe.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <sstream>
#include <string>
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

void* Allocate(std::size_t size) noexcept {
  if (gWatching) {
    std::size_t seen = gLargest;
    while (size > seen && !gLargest.compare_exchange_weak(seen, size)) {
    }
  }
  return std::malloc(size != 0 ? size : 1);
}

void* AllocateOrThrow(std::size_t size) {
  void* block = Allocate(size);
  return block != nullptr ? block : throw std::bad_alloc();
}

} // namespace

// The plain, nothrow and array forms of operator new and delete on malloc and free, so that
// every allocation the library makes for a read is seen (the aligned forms stay the runtime's,
// which pairs them itself).
// clang-format off
void* operator new(std::size_t size) { return AllocateOrThrow(size); }
void* operator new[](std::size_t size) { return AllocateOrThrow(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* block) noexcept { FreeBlock(block); }
void operator delete[](void* block) noexcept { FreeBlock(block); }
void operator delete(void* block, std::size_t) noexcept { FreeBlock(block); }
void operator delete[](void* block, std::size_t) noexcept { FreeBlock(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { FreeBlock(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { FreeBlock(block); }
// clang-format on

namespace {

/// Whether the library's allocations reach this program's operator new: a Windows DLL binds
/// its own when it is linked, so there the bounds below could never fail and are not checked.
bool LibraryAllocationsSeen() {
  const LargestAllocation largest;
  const TString probe(nullptr, 100000, 'x'); // a buffer the library allocates
  return largest.Bytes() >= 100000;
}

/// A hand-made form: a message's fields 1 to 5 (store "S", set 1, message 2, text "t %d")
/// with `count`, then whatever the test adds.
struct Form {
  Form(int order, std::uint32_t count) : out(bytes, order) {
    out << TString("S") << 1 << 2 << TString("t %d") << static_cast<unsigned int>(count);
  }
  std::ostringstream bytes;
  ToBinaryStream out;
};

/// Store, set id and message id, the debugging location and every argument.
std::vector<std::string> Fields(const TMessage& m) {
  const char* file = m.QueryFile();
  std::vector<std::string> fields = {
      Bytes(m.QueryStoreID()) + "," + std::to_string(m.QuerySetID()) + "," +
      std::to_string(m.QueryMessageID()) + "," + (file != nullptr ? file : "<none>") + ":" +
      std::to_string(m.QueryLine())};
  for (unsigned i = 0; i < m.QueryNumberArgs(); ++i) {
    fields.push_back(Describe(m[i]));
  }
  return fields;
}

/// The every-argument message as it reads back: the datetime's zone is 0, the wide text is
/// its UTF-16 bytes, the string without buffer is still one.
const std::vector<std::string> kEveryArgumentReadBack = {"0:",
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

/// A message that holds something in every field, a rendered text included.
TMessage OldMessage() {
  TMessage old(TMessage::StoreID(TString("Old"), explicitInit), 11, 12, "old %d %d", TagVar(1),
               TagVar(2));
  old.SetDebugging("old.cpp", 5);
  EXPECT_STREQ(old.QueryMessage(), "old 1 2");
  return old;
}

TEST(TMessageBinary, GoldenBytesInBothOrders) {
  // A stored message with an argument of every type (the list form stops at nil and
  // endOfArgs, so the last four are set through operator[]), then a literal one.
  const TagVar args[] = {TagVar("C"),
                         TagVar(93),
                         TagVar(4000000000u),
                         TagVar(0.5),
                         TagVar(TAVUTIL_WTEXT("ok")),
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
    const std::string golden = GoldenFile("message", order);
    EXPECT_EQ(BinaryForm(stored, order) + BinaryForm(literal, order), golden);

    // Read into messages that hold other values and a rendered text.
    std::istringstream file(golden);
    TiBinaryStream in(file, order);
    TMessage first = OldMessage();
    TMessage second = OldMessage();
    EXPECT_EQ(&first.ReadFromBinaryStream(in), &in);
    second.ReadFromBinaryStream(in);
    ASSERT_TRUE(in.good());
    EXPECT_EQ(in.get(), EOF);
    // The debugging location is not carried.
    EXPECT_EQ(Fields(first),
              (std::vector<std::string>{"App,3,7,<none>:0", "5:C", "2:93", "3:4000000000", "4:0.5",
                                        std::string("6:o\0k\0", 6), "9:946728000/0", "10:305419896",
                                        "0:", "1:", "7:", "8:"}));
    EXPECT_STREQ(first.QueryMessage(), "Disk C is 93% full");        // not the cached "old 1 2"
    EXPECT_TRUE(second.QueryStoreID().IsEqual(TMessage::StoreID())); // no buffer, as written
    EXPECT_EQ(second.UserDisplayable(), 0);
    EXPECT_EQ(Fields(second), std::vector<std::string>{"<none>,0,0,<none>:0"});
    EXPECT_STREQ(second.QueryMessage(), "plain");
  }
}

TEST(TMessageBinary, CutAtEveryByteKeepsTheFieldsReadWhole) {
  const TMessage written = EveryArgumentMessage();
  const TMessage old = OldMessage();
  for (int order : {0, 1}) {
    // Where each field ends: store, set id, message id, text, count, each argument, file.
    std::vector<std::size_t> ends;
    std::ostringstream bytes;
    ToBinaryStream out(bytes, order);
    const auto field = [&](auto write) {
      write();
      ends.push_back(bytes.str().size());
    };
    field([&] { out << written.QueryStoreID(); });
    field([&] { out << 3; });
    field([&] { out << 7; });
    field([&] { out << TString("Every type %d of %s"); });
    field([&] { out << written.QueryNumberArgs(); });
    for (unsigned i = 0; i < written.QueryNumberArgs(); ++i) {
      field([&] { written[i].WriteToBinaryStream(out); });
    }
    field([&] { out << TString(); });
    const std::string form = BinaryForm(written, order);
    ASSERT_EQ(form, bytes.str() + std::string(4, '\0'));
    const std::size_t firstArgument = 5;
    const std::size_t fileField = ends.size() - 1;

    for (std::size_t k = 0; k < form.size(); ++k) {
      SCOPED_TRACE(std::to_string(order) + ": " + std::to_string(k) + " bytes");
      const auto whole = [&ends, k](std::size_t field) { return ends[field] <= k; };
      TMemStream memory(7); // small blocks: the cut may fall anywhere in a block
      memory.write(form.data(), static_cast<std::streamsize>(k));
      TBinaryStream in(memory, order);
      TMessage m = old;
      m.ReadFromBinaryStream(in);
      EXPECT_TRUE(in.fail());

      std::vector<std::string> expected = {std::string(whole(0) ? "App" : "Old") +
                                           (whole(1) ? ",3" : ",11") + (whole(2) ? ",7," : ",12,") +
                                           (whole(fileField) ? "<none>" : "old.cpp") + ":5"};
      for (std::size_t i = 0; firstArgument + i < fileField && whole(firstArgument + i); ++i) {
        expected.push_back(kEveryArgumentReadBack[i]);
      }
      EXPECT_EQ(Fields(m), expected);
      // The text is the new one once read whole; the message renders either way.
      const std::string rendered(m.QueryMessage());
      EXPECT_EQ(rendered.rfind(whole(3) ? "Every type" : "old", 0), 0u) << rendered;
    }
  }
}

TEST(TMessageBinary, ForgedCountsAndLengthsCostNoMoreThanTheData) {
  const bool seen = LibraryAllocationsSeen();
  for (int order : {0, 1}) {
    SCOPED_TRACE(order);
    {
      // A negative count: refused with failbit, before any argument.
      Form form(order, 0xFFFFFFFFu);
      form.out << int{TagVar::integer} << 5;
      std::istringstream bytes(form.bytes.str());
      TiBinaryStream in(bytes, order);
      TMessage m = OldMessage();
      const LargestAllocation largest;
      m.ReadFromBinaryStream(in);
      const std::size_t peak = largest.Bytes();
      EXPECT_TRUE(in.fail() && !in.bad());
      EXPECT_EQ(Fields(m), std::vector<std::string>{"S,1,2,old.cpp:5"});
      EXPECT_TRUE(!seen || peak < 1024u) << peak;
    }
    for (std::uint32_t count : {0x7FFFFFFFu, 1000u}) {
      // Far more arguments announced than sent: those sent are kept, the room grows with them.
      SCOPED_TRACE(count);
      Form form(order, count);
      std::vector<std::string> sent = {"S,1,2,<none>:0"};
      for (int i = 0; i < 40; ++i) {
        form.out << int{TagVar::integer} << i;
        sent.push_back("2:" + std::to_string(i));
      }
      std::istringstream bytes(form.bytes.str());
      TiBinaryStream in(bytes, order);
      TMessage m;
      const LargestAllocation largest;
      m.ReadFromBinaryStream(in);
      const std::size_t peak = largest.Bytes();
      EXPECT_TRUE(in.fail());
      EXPECT_EQ(Fields(m), sent);
      EXPECT_TRUE(!seen || peak < 64 * sizeof(TagVar) + 64) << peak; // not 1000 slots, or 2^31
    }
    {
      // A text length of nearly 4 GiB with a few bytes behind it.
      std::ostringstream bytes;
      ToBinaryStream out(bytes, order);
      out << TString("S") << 1 << 2 << -16 << 0 << TString("only this");
      std::istringstream source(bytes.str());
      TiBinaryStream in(source, order);
      TMessage m = OldMessage();
      const LargestAllocation largest;
      m.ReadFromBinaryStream(in);
      const std::size_t peak = largest.Bytes();
      EXPECT_TRUE(in.fail());
      EXPECT_EQ(m.QueryMessageID(), 2);
      EXPECT_STREQ(m.QueryMessage(), "old %d %d"); // the old text, no arguments
      EXPECT_TRUE(!seen || peak <= std::size_t{128} * 1024) << peak;
    }
  }
}

TEST(TMessageBinary, AnUnknownArgumentTagKeepsTheArgumentsBeforeIt) {
  Form form(1, 3);
  form.out << int{TagVar::integer} << 5 << 99 << int{TagVar::integer} << 6;
  std::istringstream bytes(form.bytes.str());
  TiBinaryStream in(bytes, 1);
  TMessage m = OldMessage();
  ExpectRaises([&] { m.ReadFromBinaryStream(in); },
               {"TInvalidRequest", "unknown type", 3, 0, "utility/TAGVAR", 2267});
  EXPECT_EQ(Fields(m), (std::vector<std::string>{"S,1,2,old.cpp:5", "2:5"}));
}

} // namespace
