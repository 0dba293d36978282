// tests/message_test.cpp: messages, their validation and rendering, and the store registry.
// Licensed under the Apache License, Version 2.0.
#include <tavutil/message.h>

#include "helpers/trace_entry.h"
#include "internal/printf_format.h"
#include "library_error.h"
#include "tagvar_describe.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

/// The C library's own text for a pointer: "0x1234" and "(nil)" in glibc, 16 or 8 hexadecimal
/// digits in the Windows C library. Messages render %p with it.
std::string PointerText(const void* pointer) {
  char text[40];
  std::snprintf(text, sizeof text, "%p", pointer);
  return text;
}

TMessage::StoreID Store(const char* name) {
  return TMessage::StoreID(TString(name), explicitInit);
}

std::string Rendered(const TMessage& message) {
  return Bytes(message.QueryMessage());
}

/// The arguments as the null-terminated pointer list that the list forms take.
std::vector<const TagVar*> List(const std::vector<TagVar>& args) {
  std::vector<const TagVar*> list(args.size() + 1, nullptr);
  std::transform(args.begin(), args.end(), list.begin(), [](const TagVar& arg) { return &arg; });
  return list;
}

/// Where the message code's diagnostics come from; all of them are warnings (level 8).
const TraceSource kMessage{TUtilityTraceCategory::Message, "utility/MESSAGE"};

/// A store with one text (any bytes, narrow or Unicode) for every message but message 0.
struct TTestStore : TMessageStore {
  TTestStore(const char* name, const TString& stored, const char* tracedStore = nullptr)
      : TMessageStore(Store(name)), text(stored), traced(tracedStore) {}
  TString* GetMsg(long /*setId*/, long messageId) override {
    if (traced != nullptr) { // a lookup traces a stored message of that other store
      TTrace::WriteEntry(0x8, TUtilityTraceCategory::Message,
                         TMessage(Store(traced), 1, 1, "", TagVar(1)));
    }
    // A new buffer each time: handles that share a buffer must stay on one thread.
    auto copy = std::make_unique<TString>(static_cast<char*>(text), text.length());
    copy->SetUnicode(text.IsUnicode());
    return messageId != 0 ? copy.release() : nullptr;
  }
  const TString text;
  const char* const traced;
};

/// One ValidateArgs run: the rewritten format, the block and the estimate.
struct Validation {
  Validation(const TMessage& message, const TString& format)
      : estimate(message.ValidateArgs(format, rewritten, block)) {}
  /// The value pushed at `offset`; zero when the block ends before it.
  template <class T> T At(std::size_t offset) const {
    T value{};
    if (offset + sizeof value <= block.QueryLength()) {
      std::memcpy(&value, block.QueryBuffer() + offset, sizeof value);
    }
    return value;
  }
  TString rewritten;
  TMessage::CharP block;
  unsigned long estimate;
};

TEST(TMessage, ListsAndFixedFormsCountAndCopyTheirArguments) {
  const TagVar a(1), b("two"), c(3.0), d(4), nil, f(6), g(7);
  const TagVar* const end = &TMessage::fsEndOfArgs;
  const TagVar* withNil[] = {&a, &b, &nil, &d};
  const TagVar* withEnd[] = {&d, end, &a};
  const TagVar* withNull[] = {&d, &a, nullptr};
  // Lists end at a null pointer, a nil or the end-of-arguments marker; the fixed forms copy
  // every argument, nil included.
  EXPECT_EQ(TMessage("x", &a, &b, &nil, &d, end).QueryNumberArgs(), 2u);
  EXPECT_EQ(TMessage("x", end).QueryNumberArgs(), 0u);
  EXPECT_EQ(TMessage("x", &a, &d, static_cast<const TagVar*>(nullptr)).QueryNumberArgs(), 2u);
  EXPECT_EQ(TMessage(Store("S"), 1, 2, "x", &a, end).QueryNumberArgs(), 1u);
  EXPECT_EQ(TMessage("x", withNil).QueryNumberArgs(), 2u);
  EXPECT_EQ(TMessage("x", withEnd).QueryNumberArgs(), 1u);
  EXPECT_EQ(TMessage("x", withNull).QueryNumberArgs(), 2u);
  EXPECT_EQ(TMessage("x", static_cast<const TagVar**>(nullptr)).QueryNumberArgs(), 0u);
  EXPECT_EQ(TMessage(Store("S"), 1, 2, "x", withNull).QueryNumberArgs(), 2u);
  EXPECT_EQ(TMessage("x", a).QueryNumberArgs(), 1u);
  EXPECT_EQ(TMessage("x", a, b).QueryNumberArgs(), 2u);
  EXPECT_EQ(TMessage("x", a, b, c).QueryNumberArgs(), 3u);
  EXPECT_EQ(TMessage("x", a, b, c, d).QueryNumberArgs(), 4u);
  EXPECT_EQ(TMessage("x", a, b, c, d, nil).QueryNumberArgs(), 5u);
  EXPECT_EQ(TMessage("x", a, b, c, d, nil, f).QueryNumberArgs(), 6u);
  const TMessage seven(Store("S"), 3, 17, "x", a, b, c, d, nil, f, g);
  EXPECT_EQ(seven.QueryNumberArgs(), 7u);
  EXPECT_EQ(static_cast<long>(TMessage("x", withNull)[0]), 4);
  EXPECT_EQ(Describe(seven[1]), "5:two");
  EXPECT_EQ(static_cast<long>(seven[6]), 7);
}

TEST(TMessage, CopiesAndAssignmentsOwnTheirArgumentsAndLeaveTheSourceWhole) {
  TagVar source(TString("temporary"));
  std::optional<TMessage> original(std::in_place, "%s", source, TagVar(2));
  original->SetDebugging("app.cpp", 321);
  const TMessage copy(*original);
  source = 9;
  EXPECT_EQ(Describe((*original)[0]), "5:temporary");
  original.reset();
  TMessage target("old", TagVar("a"), TagVar("b"), TagVar("c"));
  target = copy;
  target[1] = 70; // indexing gives the argument itself, which the source must not share
  ASSERT_EQ(copy.QueryNumberArgs(), 2u) << "assignment took the source's arguments";
  EXPECT_EQ(Rendered(copy) + Describe(target[0]), "temporary5:temporary");
  EXPECT_EQ(std::string(target.QueryFile()) + std::to_string(target.QueryLine()), "app.cpp321");
  target.SetArgs(target[1], target[0]); // SetArgs may take its arguments from the array it replaces
  target.SetArgs(&target[1], &TMessage::fsEndOfArgs);
  EXPECT_EQ(Describe(target[0]), "5:temporary");
}

TEST(TMessage, ValuesAreMadeInPlaceAndMovesLeaveAnEmptyMessage) {
  TagVar lvalue("copied");
  const TMessage four("%d %s %s %f", 1, "two", lvalue, TagVar(4.0)); // in the message itself
  const TMessage six(Store("S"), 1, 2, "x", 1u, 2L, TString("three"), TDateTime(4, 0), 5.5,
                     TagVarVoidPtr(&lvalue)); // one heap array
  EXPECT_EQ(Describe(four[1]) + Describe(four[2]) + Describe(lvalue), "5:two5:copied5:copied");
  EXPECT_EQ(Rendered(four), "1 two copied 4.000000");
  EXPECT_EQ(Describe(six[0]) + Describe(six[2]) + Describe(six[5]).substr(0, 3), "3:15:three10:");
  EXPECT_EQ(six.QueryNumberArgs(), 6u);
  for (const TMessage* source : {&four, &six}) {
    TMessage from(*source);
    from.SetDebugging("app.cpp", 12);
    const std::string rendered = Rendered(from);
    TMessage moved(std::move(from));
    EXPECT_EQ(Rendered(moved) + moved.QueryFile(), rendered + "app.cpp");
    EXPECT_EQ(from.QueryNumberArgs() + from.QueryLine(), 0u);
    EXPECT_EQ(from.QueryFile(), nullptr);
    TMessage assigned("old", 7, 8, 9, 10, 11);
    assigned = std::move(moved);
    EXPECT_EQ(Rendered(assigned), rendered);
    EXPECT_EQ(assigned.QueryNumberArgs(), source->QueryNumberArgs());
    EXPECT_EQ(moved.QueryNumberArgs(), 0u);
  }
  // A copy that throws part way leaves nothing behind (the sanitizers see the arguments made
  // before it).
  const TagVar unknown(static_cast<TagVar::Type>(42));
  EXPECT_THROW(TMessage("x", "a", 2, unknown), TInvalidRequest);
  EXPECT_THROW(TMessage("x", "a", 2, 3, 4, "e", unknown), TInvalidRequest);
}

TEST(TMessage, IndexBeyondTheArgumentsIsTracedThenThrowsOutOfRange) {
  const ExpectedError outOfRange{"TInvalidParameter", "Out of Range", 1, 1, "utility/MESSAGE", 240};
  TRecording trace;
  TMessage message("x", TagVar(70));
  ExpectRaises([&] { static_cast<void>(message[1]); }, outOfRange);
  ExpectRaises([&] { static_cast<void>(std::as_const(message)[0xFFFFFFFFu]); }, outOfRange);
  ExpectRaises([&] { static_cast<void>(message[-1]); }, outOfRange); // an int index, negative
  EXPECT_TRUE(trace.Entries().empty()); // traced only where there is a debugging location
  message.SetDebugging("app.cpp", 321);
  ExpectRaises([&] { static_cast<void>(std::as_const(message)[1]); }, outOfRange);
  ExpectEntries(trace, kMessage, {{0x8, 236, "Reqested argument 1 in message from app.cpp[321]"}});
  EXPECT_EQ(static_cast<long>(message[0]), 70); // unchanged by the failures
}

TEST(TMessageRender, ConversionsAreRewrittenPushedEstimatedAndRendered) {
  constexpr std::size_t P = sizeof(void*);
  struct Case {
    TString format;
    std::vector<TagVar> args;
    const char* rewritten;
    std::size_t pushed;
    unsigned long estimate; // length + per conversion: width, precision, value
    std::string text;
  };
  const Case cases[] = {
      {"Value %d", {42}, "Value %d", 4, 8 + 60, "Value 42"},
      {"Value %d", {"forty-two"}, "Value %d", 4, 8 + 60, "Value 0"},
      {"%2$s=%1$d", {7, "k"}, "%s=%d", P + 4, 9 + 41 + 60, "k=7"},
      {"%*d", {5, 3}, "%*d", 8, 3 + 60, "    3"},
      {"[%3$-*1$.*2$f]", {12, 3, 2.5}, "[%-*.*f]", 16, 14 + 20 + 3 + 40, "[2.500       ]"},
      // A `*` precision of -1 counts 2^32 - 1: the sum wraps at 32 bits.
      {"%*.*d", {100, -1, 0}, "%*.*d", 12, 5 + 100 - 1 + 20, std::string(99, ' ') + "0"},
      {"100%% sure", {1}, "100%% sure", 0, 10, "100% sure"},
      {"%ld %ls", {8, "narrow"}, "%d %ls", 4 + P, 7 + 60 + 46, "8 narrow"},
      {"%n %d", {1, 5}, "%? %d", 4, 5 + 40 + 60, "%? 5"},
      {"%-08.3d|", {42}, "%-08.3d|", 4, 8 + 60, "042     |"},
      {"%#X %o %hi", {255, 8, -3}, "%#X %o %i", 12, 10 + 180, "0XFF 10 -3"},
      {"%3$10.3Lg|%1$u", {-1, 0, 2.5}, "%10.3g|%u", 12, 14 + 80 + 60, "       2.5|4294967295"},
      {"%c%lc", {65, 66u}, "%c%lc", 8, 5 + 100, "AB"},
      {"a%cb", {0}, "a%cb", 4, 4 + 50, std::string("a\0b", 3)},
      {"%5.1s|%05s", {"xyz", "ab"}, "%5.1s|%05s", 2 * P, 10 + 43 + 42, "    x|   ab"},
      {"%p",
       {TagVarVoidPtr(reinterpret_cast<void*>(0x1234))},
       "%p",
       P,
       2 + 60,
       PointerText(reinterpret_cast<void*>(0x1234))},
      // Mismatches push zero and count 20 for a string, 40 for a real.
      {"%f %s %p",
       {1, 2, 3},
       "%f %s %p",
       8 + 2 * P,
       8 + 200,
       "0.000000 (null) " + PointerText(nullptr)},
      {"%s", {TAVUTIL_WTEXT("wide")}, "%s", P, 2 + 60, "(null)"},
      {"%y %lld %d", {5}, "%y %lld %d", 4, 10 + 60, "%y %lld 5"}, // not conversions
      {"%f", {1e308}, "%f", 8, 2 + 80, std::to_string(1e308)},    // far beyond its estimate
      // The third double does not fit the room of one argument and is left out.
      {"%1$f%1$f%1$f", {1.0}, "%f%f%f", 16, 12 + 3 * 80, "1.0000001.0000001.000000"},
      // An embedded NUL ends the rewritten format (and the literal text), not the walk.
      {TString("a%d\0b%d", 7), {1, 2}, "a%d", 8, 7 + 2 * 60, "a1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    const TMessage message(c.format, List(c.args).data());
    const Validation v(message, c.format);
    EXPECT_STREQ(v.rewritten, c.rewritten);
    EXPECT_EQ(v.block.QueryLength(), c.pushed);
    EXPECT_EQ(v.estimate, c.estimate);
    EXPECT_EQ(Rendered(message), c.text);
  }
}

TEST(TMessageRender, BlockHoldsTheValuesInFormatOrder) {
  const TMessage message("", TagVar(7), TagVar("k"));
  const Validation v(message, TString("%2$s=%1$d"));
  EXPECT_EQ(Bytes(v.rewritten), std::string("%s=%d\0\0\0\0\0", 10)); // length + 1, NUL-padded
  EXPECT_EQ(v.block.QuerySize(), 32u);                               // 16 bytes per argument
  EXPECT_EQ(v.At<const char*>(0), static_cast<const char*>(*message[1].QueryString()));
  EXPECT_EQ(v.At<std::int32_t>(sizeof(const char*)), 7);
  EXPECT_EQ(Validation(TMessage("", TagVar(1), TagVar(5)), "%n %d").At<std::int32_t>(0), 5);
}

TEST(TMessageRender, MismatchesAndPercentNAreTracedAtTheirLines) {
  TRecording trace;
  TMessage wrong(Store("N"), 4, 9, "Value %d [%*d|%.*f] %n", TagVar("forty-two"), TagVar("w"),
                 TagVar(3), TagVar(2.0), TagVar(1.5), TagVar(0));
  wrong.SetDebugging("a", 1);
  EXPECT_EQ(Rendered(wrong), "Value 0 [3|2] %?"); // width 0; precision 0 for 1.5
  ExpectEntries(
      trace, kMessage,
      {{0x8, 468, "Type mismatch in message(N,4,9) expecting d for argument 1 from a[1]"},
       {0x8, 437, "Type mismatch in message(N,4,9), expecting width for argument 2 from a[1]"},
       {0x8, 449, "Type mismatch in message(N,4,9) expecting precision for argument 4 from a[1]"},
       {0x8, 412, "%n found in format string in message(N,4,9) from a[1]"}});
  // The conversion and the argument number travel as values.
  EXPECT_EQ(static_cast<long>(trace.Entries().at(0).message[3]), 'd');
  EXPECT_EQ(static_cast<long>(trace.Entries().at(0).message[4]), 1);
}

TEST(TMessageRender, DangerousInputsRenderSomethingSane) {
  // Widths and precisions print in full, as printf prints them, up to the render limit.
  constexpr std::size_t kLimit = tavutil::detail::kRenderLimit;
  const std::string wide(kLimit - 1, ' ');
  const std::string longHalf = "0.5" + std::string(kLimit - 3, '0');
  struct Case {
    TString text; // a stored text: it may hold NULs or be Unicode
    std::vector<TagVar> args;
    std::string expected;
  };
  const Case cases[] = {
      {"[%9$s|%0$d|%4294967297$d|%*5$d]", {3}, "[(null)|0|0|3]"},
      {"%ls|%lc|%hs", {"narrow", 67, "x"}, "narrow|C|x"},
      {"%5000d|%-5000.4999x|",
       {7, 255},
       std::string(4999, ' ') + "7|" + std::string(4997, '0') + "ff |"},
      {"%2147483647d", {1}, wide + " "},
      {"%-2147483648s|", {"a"}, "a" + wide},
      {"%*d|%.*d", {INT_MIN, 1, -5, 42}, "1" + wide},
      {"%08.3f|%-8.1e|%+09.2f|%07f",
       {-3.5, 25.0, 1.25, INFINITY},
       "-003.500|2.5e+01 |+00001.25|    inf"},
      {"%.*f", {INT_MAX, 0.5}, longHalf},
      {"%.99999999999f", {0.5}, longHalf},
      {"%d%d%d%d%d", {1}, "10000"},
      {TString("v=%d\0%s", 7), {5, 6}, "v=5"},
      {TString("ab\0%d", 5), {1}, "ab"},
      {TString(TAVUTIL_WTEXT("\u00df%d\U0001F600%s")), {5, "ok"}, u8"\u00df5\U0001F600ok"},
      {TString(TAVUTIL_WTEXT("\xD800|%d|\xDC00")), {4}, "\xef\xbf\xbd|4|\xef\xbf\xbd"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Bytes(c.text));
    TTestStore store("Render.Danger", c.text);
    const TMessage message(Store("Render.Danger"), 1, 1, "", List(c.args).data());
    EXPECT_EQ(Rendered(message), c.expected);
    EXPECT_FALSE(message.QueryMessage().IsUnicode());
  }
  // Formats cut short render as written.
  for (const char* format :
       {"%", "%5", "%*", "%.", "%2$", "%2$*", "%-", "%l", "%.*", "abc%", "%*3$", "%1$.*", "%d%"}) {
    EXPECT_EQ(Rendered(TMessage(format, TagVar(1), TagVar(2))), format[1] == 'd' ? "1%" : format);
  }
  EXPECT_EQ(Rendered(TMessage(static_cast<const char*>(nullptr), TagVar(1))), "");
}

TEST(TMessageRender, RenderedTextStopsAtItsLimitWhateverTheFormatAsks) {
  constexpr std::size_t kLimit = tavutil::detail::kRenderLimit;
  // Wide fields: 5,000 conversions of 4,096 bytes each would make 20 MB; every one still
  // takes its argument and is validated (a mismatch past the limit is traced).
  std::string format;
  for (int i = 0; i < 5000; ++i) {
    format += "%4096d";
  }
  format += "%s";
  TRecording trace;
  const std::string wide = Rendered(TMessage(format.c_str(), TagVar(7), TagVar(8)));
  ASSERT_EQ(wide.size(), kLimit);
  EXPECT_EQ(wide.substr(0, 4096), std::string(4095, ' ') + "7");
  EXPECT_EQ(wide.substr(4096, 4096), std::string(4095, ' ') + "8");
  EXPECT_EQ(wide.substr(8192, 4096), std::string(4095, ' ') + "0"); // no argument 3: zero
  EXPECT_EQ(trace.Entries().size(), 4999u); // arguments 3 to 5001 are missing, each traced

  // One long string argument is cut too, as is a literal run after it.
  const std::string big(kLimit + 100, 'x');
  const std::string cut = Rendered(TMessage("ab%sc", TagVar(big.c_str())));
  ASSERT_EQ(cut.size(), kLimit);
  EXPECT_EQ(cut.substr(0, 3), "abx");

  // A Unicode text renders as UTF-8 and is cut before a sequence the limit would split:
  // three-byte characters leave the limit one byte short of a whole one.
  std::basic_string<_Wchar_t> euros(kLimit / 3 + 10, static_cast<_Wchar_t>(0x20ac));
  euros += TAVUTIL_WTEXT("%d");
  TTestStore store("Render.Limit", TString(euros.c_str()));
  const std::string utf8 = Rendered(TMessage(Store("Render.Limit"), 1, 1, "", TagVar(1)));
  EXPECT_EQ(utf8.size(), kLimit / 3 * 3);
  EXPECT_EQ(utf8.substr(utf8.size() - 3), "\xe2\x82\xac");
}

TEST(TMessageRender, StoredTextDefaultTextAndTheCache) {
  EXPECT_EQ(Rendered(TMessage(Store("Render.None"), 1, 2, "default %d", TagVar(3))), "default 3");
  EXPECT_EQ(Rendered(TMessage("100%% sure")), "100%% sure"); // no arguments: no formatting
  TTestStore unicode("Render.Unicode",
                     TString(TAVUTIL_WTEXT("\u00e9 %d"))); // without arguments: Unicode
  EXPECT_TRUE(static_cast<TagVar>(TMessage(Store("Render.Unicode"), 1, 1, "")).IsWideString());
  TTestStore cache("Render.Cache", "cached %d"); // without message 0: the default text
  EXPECT_EQ(Rendered(TMessage(Store("Render.Cache"), 1, 0, "default %d", TagVar(3))), "default 3");
  TRecording trace;
  TMessage message(Store("Render.Cache"), 1, 1, "", TagVar("not a number"));
  EXPECT_EQ(Rendered(message) + Rendered(message), "cached 0cached 0");
  EXPECT_EQ(trace.Entries().size(), 1u); // rendered once
  message.SetArgs(TagVar(9));            // SetArgs keeps the rendered text; a copy renders afresh
  EXPECT_EQ(Rendered(message), "cached 0");
  EXPECT_EQ(Rendered(TMessage(message)), "cached 9");
  TMessage assigned("other", TagVar(1));
  EXPECT_EQ(Rendered(assigned), "other");
  assigned = message;
  EXPECT_EQ(Rendered(assigned), "cached 9");
}

TEST(TMessageStore, NamesAreExactAndStoresLeaveWhenDestroyed) {
  {
    TTestStore upper("Registry.Case", "upper");
    TTestStore lower("registry.case", "lower");
    EXPECT_EQ(TMessageStore::Find(Store("REGISTRY.CASE")), nullptr);
    const std::unique_ptr<TString> text(TMessageStore::GetMsg(Store("registry.case"), 1, 1));
    EXPECT_EQ(text != nullptr ? Bytes(*text) : "", "lower");
  }
  EXPECT_EQ(TMessageStore::Find(Store("Registry.Case")), nullptr);
}

TEST(TMessageStore, DuplicatesAndSecondArchivesAreRefusedAndTheFirstStays) {
  TTestStore again("Registry.Case", "again");
  ExpectRaises([] { TTestStore duplicate("Registry.Case", "duplicate"); },
               {"TInvalidRequest", "Duplicate Message Store", 1, 1, "utility/MESSAGE", 598});
  ExpectRaises([] { TMessageArchive second; },
               {"TInvalidRequest", "Solitary Object", 1, 1, "utility/MESSAGE", 552});
  EXPECT_EQ(TMessageStore::Find(Store("Registry.Case")), &again); // the first of each stays
}

// Threads render stored messages while stores of other names come and go; the output renders
// under the trace mutex while a store's GetMsg traces: no archive lock around either.
TEST(TMessageStoreThreaded, RenderingGoesOnWhileStoresOfOtherNamesComeAndGo) {
  constexpr int kRounds = 200, kThreads = 4;
  TTestStore stable("Threaded.Stable", "stable %d");
  TTestStore tracing("Threaded.Tracing", "traced %d", "Threaded.Stable");
  TRecording trace;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kRounds; ++i) {
        const std::string name = "Threaded.Churn." + std::to_string(t) + std::to_string(i % 3);
        const TTestStore churn(name.c_str(), "churn %d");
        EXPECT_EQ(Rendered(TMessage(Store(name.c_str()), 1, 1, "", TagVar(7))), "churn 7");
        EXPECT_EQ(Rendered(TMessage(Store("Threaded.Stable"), 1, 1, "", TagVar(7))), "stable 7");
        EXPECT_EQ(Rendered(TMessage(Store("Threaded.Tracing"), 1, 1, "", TagVar(7))), "traced 7");
        TTrace::WriteEntry(0x8, TUtilityTraceCategory::Message,
                           TMessage(Store("Threaded.Stable"), 1, 1, "", TagVar(1)));
        // A refused duplicate leaves the registered store alone.
        ExpectRaises([] { TTestStore duplicate("Threaded.Stable", "never"); },
                     {"TInvalidRequest", "Duplicate Message Store", 1, 1, "utility/MESSAGE", 598});
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  // Each direct entry and each lookup of the tracing store rendered under the trace mutex.
  EXPECT_EQ(std::count_if(trace.Entries().begin(), trace.Entries().end(),
                          [](const auto& entry) { return Rendered(entry.message) == "stable 1"; }),
            2 * kThreads * kRounds);
}

} // namespace
