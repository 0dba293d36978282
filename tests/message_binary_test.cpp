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

using namespace std::string_literals;

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

/// A read of `bytes` in `order` into a message, and the largest allocation it made.
struct Read {
  Read(const std::string& bytes, int order, TMessage& message) : source(bytes), in(source, order) {
    const LargestAllocation largest;
    message.ReadFromBinaryStream(in);
    peak = largest.Bytes();
  }
  std::istringstream source;
  TiBinaryStream in;
  std::size_t peak = 0;
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

/// Message 7 of set 3 of store "App" with `args`: made with placeholders, then set by index, as
/// the list forms stop at nil and endOfArgs.
TMessage Stored(const char* text, const std::vector<TagVar>& args) {
  const TagVar placeholder(0);
  std::vector<const TagVar*> list(args.size(), &placeholder);
  list.push_back(nullptr);
  TMessage m(TMessage::StoreID(TString("App"), explicitInit), 3, 7, text, list.data());
  for (unsigned i = 0; i < args.size(); ++i) {
    m[i] = args[i];
  }
  return m;
}

/// A message with an argument of every type, a string without buffer and a string with a null
/// payload, as they read back: the datetime's zone is 0, the wide text is its UTF-16 bytes.
const TMessage kEveryArgument =
    Stored("Every type %d of %s",
           {TagVar(), TagVar(TagVar::endOfArgs), -123456789, 4000000000u, -0.1, "narrow",
            TAVUTIL_WTEXT("wide"), TDate(), TTime(), TDateTime(946728000, 3600),
            TagVarVoidPtr(reinterpret_cast<void*>(std::uintptr_t{0xCAFEF00D})),
            static_cast<const char*>(nullptr), TagVar(TagVar::string)});
const std::vector<std::string> kEveryArgumentReadBack(
    {"0:", "1:", "2:-123456789", "3:4000000000", "4:-0.10000000000000001", "5:narrow",
     "6:w\0i\0d\0e\0"s, "7:", "8:", "9:946728000/0", "10:3405705229", "5:", "5:<null>"});

/// A message that holds something in every field, a rendered text included.
TMessage OldMessage() {
  TMessage old(TMessage::StoreID(TString("Old"), explicitInit), 11, 12, "old %d %d", TagVar(1),
               TagVar(2));
  old.SetDebugging("old.cpp", 5);
  EXPECT_STREQ(old.QueryMessage(), "old 1 2");
  return old;
}

TEST(TMessageBinary, GoldenBytesInBothOrders) {
  // A stored message with an argument of every type, then a literal one.
  TMessage stored =
      Stored("Disk %s is %d%% full",
             {"C", 93, 4000000000u, 0.5, TAVUTIL_WTEXT("ok"), TDateTime(946728000, 3600),
              TagVarVoidPtr(reinterpret_cast<void*>(std::uintptr_t{0x12345678})), TagVar(),
              TagVar(TagVar::endOfArgs), TDate(), TTime()});
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
                                        "6:o\0k\0"s, "9:946728000/0", "10:305419896",
                                        "0:", "1:", "7:", "8:"}));
    EXPECT_STREQ(first.QueryMessage(), "Disk C is 93% full");        // not the cached "old 1 2"
    EXPECT_TRUE(second.QueryStoreID().IsEqual(TMessage::StoreID())); // no buffer, as written
    EXPECT_EQ(second.UserDisplayable(), 0);
    EXPECT_EQ(Fields(second), std::vector<std::string>{"<none>,0,0,<none>:0"});
    EXPECT_STREQ(second.QueryMessage(), "plain");
  }
}

TEST(TMessageBinary, CutAtEveryByteKeepsTheFieldsReadWhole) {
  const TMessage& written = kEveryArgument;
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
    // A negative count: refused with failbit, before any argument.
    Form negative(order, 0xFFFFFFFFu);
    negative.out << int{TagVar::integer} << 5;
    TMessage old = OldMessage();
    const Read refused(negative.bytes.str(), order, old);
    EXPECT_TRUE(refused.in.fail() && !refused.in.bad());
    EXPECT_EQ(Fields(old), std::vector<std::string>{"S,1,2,old.cpp:5"});
    EXPECT_TRUE(!seen || refused.peak < 1024u) << refused.peak;

    // Far more arguments announced than sent: those sent are kept, the room grows with them.
    for (std::uint32_t count : {0x7FFFFFFFu, 1000u}) {
      SCOPED_TRACE(count);
      Form form(order, count);
      std::vector<std::string> sent = {"S,1,2,<none>:0"};
      for (int i = 0; i < 40; ++i) {
        form.out << int{TagVar::integer} << i;
        sent.push_back("2:" + std::to_string(i));
      }
      TMessage m;
      const Read read(form.bytes.str(), order, m);
      EXPECT_TRUE(read.in.fail());
      EXPECT_EQ(Fields(m), sent);
      EXPECT_TRUE(!seen || read.peak < 64 * sizeof(TagVar) + 64) << read.peak; // not 1000 slots
    }

    // A text length of nearly 4 GiB with a few bytes behind it: the old text, no arguments.
    std::ostringstream bytes;
    ToBinaryStream out(bytes, order);
    out << TString("S") << 1 << 2 << -16 << 0 << TString("only this");
    TMessage cut = OldMessage();
    const Read read(bytes.str(), order, cut);
    EXPECT_TRUE(read.in.fail());
    EXPECT_EQ(cut.QueryMessageID(), 2);
    EXPECT_STREQ(cut.QueryMessage(), "old %d %d");
    EXPECT_TRUE(!seen || read.peak <= std::size_t{128} * 1024) << read.peak;
  }
}

TEST(TMessageBinary, AnUnknownArgumentTagKeepsTheArgumentsBeforeIt) {
  Form form(1, 3);
  form.out << int{TagVar::integer} << 5 << 99 << int{TagVar::integer} << 6;
  TMessage m = OldMessage();
  ExpectRaises([&] { Read(form.bytes.str(), 1, m); },
               {"TInvalidRequest", "unknown type", 3, 0, "utility/TAGVAR", 2267});
  EXPECT_EQ(Fields(m), (std::vector<std::string>{"S,1,2,old.cpp:5", "2:5"}));
}

} // namespace
