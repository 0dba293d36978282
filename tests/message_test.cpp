// tests/message_test.cpp: message objects (construction, argument lists, copying, indexing),
// format validation and rendering, and the message store registry.
// Licensed under the Apache License, Version 2.0.
#include <tavutil/exception.h>
#include <tavutil/message.h>
#include <tavutil/trace.h>

#include "library_error.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string Text(const TagVar& value) {
  const TString* s = value.QueryString();
  return s != nullptr && static_cast<const char*>(*s) != nullptr ? static_cast<const char*>(*s)
                                                                 : "";
}

TMessage::StoreID Store(const char* name) {
  return TMessage::StoreID(TString(name), explicitInit);
}

/// All bytes of a string, embedded NULs included.
std::string Bytes(const TString& s) {
  const char* text = s;
  return text != nullptr ? std::string(text, s.length()) : std::string();
}

/// The rendered text of a message.
std::string Rendered(const TMessage& message) {
  return Bytes(message.QueryMessage());
}

/// What snprintf gives for one value, to compare renderings with.
template <class Value> std::string Printf(const char* format, Value value) {
  std::vector<char> buffer(8192);
  const int size = std::snprintf(buffer.data(), buffer.size(), format, value);
  return std::string(buffer.data(), static_cast<std::size_t>(size));
}

/// A trace state that keeps a copy of every entry's message.
class TRecordingState : public TTrace::Base {
public:
  struct Entry {
    unsigned long level;
    const TTrace::Category* category;
    TMessage message;
  };

  void Write(unsigned long level, const TTrace::Category& category,
             const TMessage& message) override {
    entries.push_back(Entry{level, &category, message});
  }

  std::vector<Entry> entries;
};

/// A handle on a recording state, taking levels 0xF of every component.
class TRecording : public TTrace {
public:
  TRecording() : TTrace(new TRecordingState) {}
  std::vector<TRecordingState::Entry>& Entries() const {
    return static_cast<TRecordingState*>(QueryPointer().QueryBase())->entries;
  }
};

/// A store of fixed texts: `text` for every (set, message) but message 0, which it lacks.
class TTestStore : public TMessageStore {
public:
  TTestStore(const char* name, const char* text, bool* built = nullptr)
      : TMessageStore(Store(name)), fText(text) {
    if (built != nullptr) {
      *built = true;
    }
  }
  TString* GetMsg(long /*setId*/, long messageId) override {
    ++calls;
    return messageId == 0 || fText == nullptr ? nullptr : new TString(fText);
  }
  std::atomic<int> calls{0};

private:
  const char* fText;
};

/// A store whose one text may hold any bytes, NULs included.
class TBytesStore : public TMessageStore {
public:
  TBytesStore(const char* name, std::string text) : TMessageStore(Store(name)), fText(text) {}
  TString* GetMsg(long, long) override {
    return new TString(fText.data(), static_cast<unsigned int>(fText.size()));
  }

private:
  std::string fText;
};

/// A store whose texts are Unicode, as resource libraries give them.
class TUnicodeStore : public TMessageStore {
public:
  TUnicodeStore(const char* name, const char16_t* text) : TMessageStore(Store(name)), fText(text) {}
  TString* GetMsg(long, long) override { return new TString(fText); }

private:
  const char16_t* fText;
};

TEST(TMessage, LiteralMessagesHaveNoStoreAndCountTheirArguments) {
  const TMessage none;
  EXPECT_EQ(none.QueryNumberArgs(), 0u);
  EXPECT_EQ(none.UserDisplayable(), 0);
  EXPECT_EQ(none.QuerySetID(), 0);
  EXPECT_EQ(none.QueryMessageID(), 0);
  EXPECT_EQ(none.QueryFile(), nullptr);
  EXPECT_EQ(none.QueryLine(), 0u);

  const TagVar a(1), b("two"), c(3.0), d(4u), e(TagVar::nil), f(6), g(7);
  const TMessage seven("%d", a, b, c, d, e, f, g);
  ASSERT_EQ(seven.QueryNumberArgs(), 7u);
  EXPECT_EQ(static_cast<long>(seven[0]), 1);
  EXPECT_EQ(Text(seven[1]), "two");
  EXPECT_EQ(static_cast<double>(seven[2]), 3.0);
  EXPECT_EQ(static_cast<unsigned long>(seven[3]), 4u);
  EXPECT_TRUE(seven[4].IsNil()); // the fixed forms copy every argument, nil included
  EXPECT_EQ(static_cast<long>(seven[6]), 7);
  EXPECT_EQ(seven.UserDisplayable(), 0);

  for (unsigned n = 1; n <= 6; ++n) {
    const TMessage shorter = n == 1   ? TMessage("x", a)
                             : n == 2 ? TMessage("x", a, b)
                             : n == 3 ? TMessage("x", a, b, c)
                             : n == 4 ? TMessage("x", a, b, c, d)
                             : n == 5 ? TMessage("x", a, b, c, d, e)
                                      : TMessage("x", a, b, c, d, e, f);
    EXPECT_EQ(shorter.QueryNumberArgs(), n);
    EXPECT_EQ(static_cast<long>(shorter[0]), 1);
  }
}

TEST(TMessage, ListsEndAtNullNilOrEndOfArguments) {
  const TagVar one(1), two(2), nil, four(4);
  const TMessage variadic("%d %d", &one, &two, &nil, &four, &TMessage::fsEndOfArgs);
  EXPECT_EQ(variadic.QueryNumberArgs(), 2u);
  EXPECT_EQ(static_cast<long>(variadic[1]), 2);

  EXPECT_EQ(TMessage("x", &TMessage::fsEndOfArgs).QueryNumberArgs(), 0u);
  EXPECT_EQ(TMessage("x", &nil, &one, nullptr).QueryNumberArgs(), 0u);
  EXPECT_EQ(TMessage("x", &one, &four, static_cast<const TagVar*>(nullptr)).QueryNumberArgs(), 2u);

  const TagVar* array[] = {&one, &two, &nil, &four};
  EXPECT_EQ(TMessage("x", array).QueryNumberArgs(), 2u);
  const TagVar* terminated[] = {&four, &one, nullptr};
  const TMessage fromArray("x", terminated);
  EXPECT_EQ(fromArray.QueryNumberArgs(), 2u);
  EXPECT_EQ(static_cast<long>(fromArray[0]), 4);
  EXPECT_EQ(TMessage("x", static_cast<const TagVar**>(nullptr)).QueryNumberArgs(), 0u);
  EXPECT_TRUE(TMessage::fsEndOfArgs.IsEndOfArgs());
}

TEST(TMessage, StoredMessagesCarryTheirStoreAndIds) {
  const TagVar arg("C:");
  const TMessage stored(Store("Disk"), 3, 17, "Disk %s full", arg);
  EXPECT_EQ(stored.UserDisplayable(), 1);
  EXPECT_STREQ(stored.QueryStoreID(), "Disk");
  EXPECT_EQ(stored.QuerySetID(), 3);
  EXPECT_EQ(stored.QueryMessageID(), 17);
  EXPECT_EQ(Text(stored[0]), "C:");

  const TagVar* list[] = {&arg, &arg, nullptr};
  EXPECT_EQ(TMessage(Store("Disk"), 1, 2, "t", list).QueryNumberArgs(), 2u);
  EXPECT_EQ(TMessage(Store("Disk"), 1, 2, "t", &arg, &TMessage::fsEndOfArgs).QueryNumberArgs(), 1u);
  EXPECT_EQ(TMessage(Store(""), 1, 2, "t").UserDisplayable(), 0);

  // Store names compare exactly.
  EXPECT_TRUE(Store("Disk").IsEqual(Store("Disk")));
  EXPECT_FALSE(Store("Disk").IsEqual(Store("disk")));
  EXPECT_EQ(TMessage::StoreID().length(), 0u);
}

TEST(TMessage, ArgumentsOutliveTheirSourcesAndCopiesOwnTheirs) {
  std::unique_ptr<TMessage> copy;
  {
    TString text("temporary");
    TagVar source(text);
    TagVar when{TDateTime(5, 0)};
    const TMessage original("%s", source, when);
    copy = std::make_unique<TMessage>(original);
    source = 9; // the message holds its own copy
    EXPECT_EQ(Text(original[0]), "temporary");
  }
  EXPECT_EQ(Text((*copy)[0]), "temporary");
  EXPECT_EQ((*copy)[1].QueryDateTime()->QueryTime(), 5);

  TMessage target("old", TagVar("a"), TagVar("b"), TagVar("c"));
  target.SetDebugging("file.cpp", 4);
  target = *copy;
  EXPECT_EQ(target.QueryNumberArgs(), 2u);
  EXPECT_EQ(target.QueryFile(), nullptr);
  TMessage& alias = target;
  target = alias; // self-assignment
  EXPECT_EQ(Text(target[0]), "temporary");
}

TEST(TMessage, SetArgsReplacesAndMayReuseItsOwnArguments) {
  TMessage message("x", TagVar("first"), TagVar(2));
  message.SetArgs(message[1], message[0]); // taken from the array being replaced
  ASSERT_EQ(message.QueryNumberArgs(), 2u);
  EXPECT_EQ(static_cast<long>(message[0]), 2);
  EXPECT_EQ(Text(message[1]), "first");

  message.SetArgs(&message[1], &TMessage::fsEndOfArgs);
  ASSERT_EQ(message.QueryNumberArgs(), 1u);
  EXPECT_EQ(Text(message[0]), "first");

  message.SetArgs(TagVar(1), TagVar(2), TagVar(3), TagVar(4), TagVar(5), TagVar(6), TagVar(7));
  EXPECT_EQ(message.QueryNumberArgs(), 7u);
  message[6] = 70; // indexing gives the argument itself
  EXPECT_EQ(static_cast<long>(message[6]), 70);
  message.SetArgs();
  EXPECT_EQ(message.QueryNumberArgs(), 0u);
}

TEST(TMessage, IndexBeyondTheArgumentsThrowsOutOfRange) {
  TMessage message("x", TagVar(1));
  const TMessage& constant = message;
  for (unsigned index : {1u, 2u, 0xFFFFFFFFu}) {
    try {
      static_cast<void>(index % 2 ? message[index] : constant[index]);
      FAIL() << index;
    } catch (const TInvalidParameter& e) {
      ExpectLibraryError(e, {"TInvalidParameter", "Out of Range", 1, 1, "utility/MESSAGE", 240});
    }
  }
  EXPECT_EQ(static_cast<long>(message[0]), 1); // unchanged by the failures
  EXPECT_THROW(TMessage()[0], TInvalidParameter);
}

TEST(TMessage, DebuggingLocationIsKeptAndCopied) {
  TMessage message("x");
  message.SetDebugging("src\\module.cpp", 321);
  EXPECT_STREQ(message.QueryFile(), "src\\module.cpp");
  EXPECT_EQ(message.QueryLine(), 321u);
  const TMessage copy(message);
  EXPECT_STREQ(copy.QueryFile(), "src\\module.cpp");
  EXPECT_EQ(copy.QueryLine(), 321u);
}

// ------------------------------------------------------------ validation ----

/// One ValidateArgs run: the rewritten format, the block and the estimate.
struct Validation {
  Validation(const TMessage& message, const TString& format)
      : estimate(message.ValidateArgs(format, rewritten, block)) {}
  /// The rewritten format as the formatter reads it: up to its first NUL.
  std::string Format() const { return static_cast<const char*>(rewritten); }
  template <class T> T At(std::size_t offset) const {
    T value{};
    EXPECT_LE(offset + sizeof value, block.QueryLength());
    if (offset + sizeof value <= block.QueryLength()) {
      std::memcpy(&value, block.QueryBuffer() + offset, sizeof value);
    }
    return value;
  }

  TString rewritten;
  TMessage::CharP block;
  unsigned long estimate;
};

TEST(TMessageValidate, PositionalConversionsBecomeSequential) {
  const TMessage message("", TagVar(7), TagVar("k"));
  const Validation v(message, TString("%2$s=%1$d"));
  EXPECT_EQ(v.Format(), "%s=%d");
  EXPECT_EQ(v.rewritten.length(), 10u); // length + 1 bytes, NUL-padded
  ASSERT_EQ(v.block.QueryLength(), sizeof(const char*) + 4);
  EXPECT_EQ(v.At<const char*>(0), static_cast<const char*>(*message[1].QueryString()));
  EXPECT_EQ(v.At<std::int32_t>(sizeof(const char*)), 7);
  EXPECT_EQ(v.block.QuerySize(), 32u); // 16 bytes per argument
  // 9 for the text; %s: 20 + 20 + length 1; %d: 20 + 20 + 20.
  EXPECT_EQ(v.estimate, 9u + 41u + 60u);

  // Widths and precisions by position; their digits and `$` are not copied.
  const TMessage fields("", TagVar(12), TagVar(3), TagVar(2.5));
  const Validation w(fields, TString("[%3$-*1$.*2$f]"));
  EXPECT_EQ(w.Format(), "[%-*.*f]");
  EXPECT_EQ(w.At<std::int32_t>(0), 12);
  EXPECT_EQ(w.At<std::int32_t>(4), 3);
  EXPECT_EQ(w.At<double>(8), 2.5);
  EXPECT_EQ(w.estimate, 14u + 20u + 3u + 40u); // width 12 counts 20, precision 3 counts 3
  EXPECT_EQ(Rendered(TMessage("[%3$-*1$.*2$f]", TagVar(12), TagVar(3), TagVar(2.5))),
            "[2.500       ]");
}

TEST(TMessageValidate, EachConversionKindIsRewrittenAndPushed) {
  int target = 0;
  const TMessage message("", TagVar(-5), TagVar(4000000000u), TagVar(1.25), TagVar("str"),
                         TagVar(TagVarVoidPtr(&target)), TagVar(65));
  struct Case {
    const char* format;
    const char* rewritten;
    std::size_t pushed;
  };
  const Case cases[] = {
      {"%d", "%d", 4},
      {"%ld", "%d", 4},
      {"%hi", "%i", 4},
      {"%2$lu", "%u", 4},
      {"%2$#lx", "%#x", 4},
      {"%2$X", "%X", 4},
      {"%2$o", "%o", 4},
      {"%3$Lf", "%f", 8},
      {"%3$+e", "%+e", 8},
      {"%3$E", "%E", 8},
      {"%3$F", "%F", 8},
      {"%3$10.3g", "%10.3g", 8},
      {"%3$G", "%G", 8},
      {"%4$s", "%s", sizeof(char*)},
      {"%4$ls", "%ls", sizeof(char*)},
      {"%4$hs", "%hs", sizeof(char*)},
      {"%5$p", "%p", sizeof(void*)},
      {"%6$c", "%c", 4},
      {"%6$lc", "%lc", 4},
      {"%- +#0d", "%- +#0d", 4},
      {"%-08.3d", "%-08.3d", 4},
      {"%*d", "%*d", 8},
      {"%.*d", "%.*d", 8},
      {"%*.*d", "%*.*d", 12},
  };
  for (const Case& c : cases) {
    const Validation v(message, TString(c.format));
    EXPECT_EQ(v.Format(), c.rewritten) << c.format;
    EXPECT_EQ(v.block.QueryLength(), c.pushed) << c.format;
  }
  // The values as the formatter reads them.
  EXPECT_EQ(Validation(message, TString("%2$u")).At<std::uint32_t>(0), 4000000000u);
  EXPECT_EQ(Validation(message, TString("%c")).At<std::int32_t>(0), -5);
  EXPECT_EQ(Validation(message, TString("%5$p")).At<const void*>(0), &target);
}

TEST(TMessageValidate, WhatIsNoConversionPassesThroughAndTakesNoArgument) {
  const TMessage message("", TagVar(5), TagVar(6));
  // Unknown conversion characters, "%%", and "%lld" (one length modifier only).
  for (const char* format : {"%y %d", "%% %d", "%lld %d", "%5% %d", "%-%d %d", "%*y %d"}) {
    const Validation v(message, TString(format));
    EXPECT_EQ(v.Format(), format);
    ASSERT_EQ(v.block.QueryLength(), 4u) << format;
    EXPECT_EQ(v.At<std::int32_t>(0), 5) << format; // the %d still takes argument 1
  }
  EXPECT_EQ(Rendered(TMessage("%y %d", TagVar(5))), "%y 5");
  EXPECT_EQ(Rendered(TMessage("%-%d %d", TagVar(5))), "%d 5"); // the '%' ends the first one
  EXPECT_EQ(Rendered(TMessage("%lld|%d", TagVar(5))), "%lld|5");
}

TEST(TMessageValidate, PercentNIsWrittenAsQuestionMarkAndUsesItsNumber) {
  TRecording trace;
  TMessage message("%n %d", TagVar(1), TagVar(5));
  message.SetDebugging("app.cpp", 77);
  const Validation v(message, TString("%n %d"));
  EXPECT_EQ(v.Format(), "%? %d");
  ASSERT_EQ(v.block.QueryLength(), 4u);
  EXPECT_EQ(v.At<std::int32_t>(0), 5);
  EXPECT_EQ(v.estimate, 5u + 40u + 60u); // %n: width and precision only
  ASSERT_EQ(trace.Entries().size(), 1u);
  const TRecordingState::Entry& entry = trace.Entries()[0];
  EXPECT_EQ(entry.level, 8u);
  EXPECT_EQ(entry.category, &TUtilityTraceCategory::Message);
  EXPECT_STREQ(entry.message.QueryFile(), "utility/MESSAGE");
  EXPECT_EQ(entry.message.QueryLine(), 412u);
  EXPECT_EQ(Rendered(entry.message),
            "%n found in format string in message((null),0,0) from app.cpp[77]");
  ASSERT_EQ(entry.message.QueryNumberArgs(), 5u);
  EXPECT_TRUE(entry.message[0].IsString());
  EXPECT_TRUE(entry.message[1].IsInteger());
  EXPECT_TRUE(entry.message[4].IsUnsignedInteger());

  EXPECT_EQ(Rendered(message), "%? 5");
}

TEST(TMessageValidate, EstimateIsTheTablesThirtyTwoBitSum) {
  const TMessage message("", TagVar(100), TagVar(-1), TagVar("four"), TagVar(2.0));
  // Literal widths and precisions count their value, at least 20 each.
  EXPECT_EQ(Validation(message, TString("%30.50d")).estimate, 7u + 30u + 50u + 20u);
  EXPECT_EQ(Validation(message, TString("%5.3d")).estimate, 5u + 20u + 20u + 20u);
  // A `*` width counts its value (at least 20), a `*` precision its value alone.
  EXPECT_EQ(Validation(message, TString("%*.*d")).estimate,
            static_cast<std::uint32_t>(5u + 100u + 0xFFFFFFFFu + 20u)); // -1 wraps the sum
  EXPECT_EQ(Validation(message, TString("%2$*1$d")).estimate, 7u + 100u + 20u + 20u);
  EXPECT_EQ(Validation(message, TString("%3$s")).estimate, 4u + 40u + 4u);
  EXPECT_EQ(Validation(message, TString("%c")).estimate, 2u + 40u + 10u);
  EXPECT_EQ(Validation(message, TString("%4$f")).estimate, 4u + 40u + 40u);
  // Mismatches: a width or precision counts 20, a string 20, a real still 40.
  EXPECT_EQ(Validation(message, TString("%3$*3$.*3$s")).estimate, 11u + 20u + 20u + 4u);
  EXPECT_EQ(Validation(message, TString("%s")).estimate, 2u + 40u + 20u);
  EXPECT_EQ(Validation(message, TString("%e")).estimate, 2u + 40u + 40u);
  EXPECT_EQ(Validation(message, TString("%p")).estimate, 2u + 40u + 20u);
  EXPECT_EQ(Validation(message, TString("no conversion")).estimate, 13u);
}

TEST(TMessageValidate, BlockIsBoundedAndMismatchesPushZero) {
  const TMessage one("", TagVar(1.0));
  // Three doubles do not fit the 16 bytes of one argument: the third is left out.
  const Validation v(one, TString("%1$f%1$f%1$f"));
  EXPECT_EQ(v.block.QuerySize(), 16u);
  EXPECT_EQ(v.block.QueryLength(), 16u);
  // The rendering does not depend on the block's room.
  EXPECT_EQ(Rendered(TMessage("%1$f%1$f%1$f", TagVar(1.0))), "1.0000001.0000001.000000");

  const TMessage mixed("", TagVar("text"), TagVar(3));
  const Validation m(mixed, TString("%d %f %s"));
  ASSERT_EQ(m.block.QueryLength(), 4u + 8u + sizeof(char*));
  EXPECT_EQ(m.At<std::int32_t>(0), 0);       // a string for %d
  EXPECT_EQ(m.At<double>(4), 0.0);           // an integer for %f
  EXPECT_EQ(m.At<const char*>(12), nullptr); // argument 3 does not exist

  const TMessage none;
  const Validation empty(none, TString("%d"));
  EXPECT_EQ(empty.block.QuerySize(), 0u);
  EXPECT_EQ(empty.block.QueryBuffer(), nullptr);
  EXPECT_EQ(empty.Format(), "%d");
}

TEST(TMessageValidate, EmbeddedNulEndsTheRewrittenFormatButNotTheWalk) {
  const TMessage message("", TagVar(1), TagVar(2));
  const TString format("a%d\0b%d", 7);
  const Validation v(message, format);
  EXPECT_EQ(v.Format(), "a%d");
  EXPECT_EQ(Bytes(v.rewritten), std::string("a%d\0b%d\0", 8));
  EXPECT_EQ(v.block.QueryLength(), 8u); // the second %d was still taken

  // A stored text keeps its NUL: the text renders up to it, the rest is still checked.
  TBytesStore store("Validate.Nul", std::string("v=%d\0%s", 7));
  TRecording trace;
  EXPECT_EQ(Rendered(TMessage(Store("Validate.Nul"), 1, 1, "", TagVar(5), TagVar(6))), "v=5");
  ASSERT_EQ(trace.Entries().size(), 1u);
  EXPECT_EQ(static_cast<long>(trace.Entries()[0].message[3]), 's');
}

// ------------------------------------------------------------- rendering ----

TEST(TMessageRender, ValueAndTypeMismatch) {
  EXPECT_EQ(Rendered(TMessage("Value %d", TagVar(42))), "Value 42");

  TRecording trace;
  TMessage wrong("Value %d", TagVar("forty-two"));
  wrong.SetDebugging("app.cpp", 12);
  EXPECT_EQ(Rendered(wrong), "Value 0");
  ASSERT_EQ(trace.Entries().size(), 1u);
  const TMessage& diagnostic = trace.Entries()[0].message;
  EXPECT_EQ(trace.Entries()[0].level, 8u);
  EXPECT_EQ(trace.Entries()[0].category, &TUtilityTraceCategory::Message);
  EXPECT_STREQ(diagnostic.QueryFile(), "utility/MESSAGE");
  EXPECT_EQ(diagnostic.QueryLine(), 468u);
  ASSERT_EQ(diagnostic.QueryNumberArgs(), 7u);
  EXPECT_EQ(static_cast<long>(diagnostic[3]), 'd');
  EXPECT_EQ(static_cast<long>(diagnostic[4]), 1);
  EXPECT_EQ(static_cast<unsigned long>(diagnostic[6]), 12u);
  EXPECT_EQ(Rendered(diagnostic),
            "Type mismatch in message((null),0,0) expecting d for argument 1 from app.cpp[12]");
}

TEST(TMessageRender, WidthAndPrecisionMismatchesAreTracedWithTheirNumbers) {
  TRecording trace;
  TMessage message(Store("Nowhere"), 4, 9, "[%*d|%.*f]", TagVar("w"), TagVar(3), TagVar(2.0),
                   TagVar(1.5));
  EXPECT_EQ(Rendered(message), "[3|2]"); // width 0; precision 0 for 1.5 ... of argument 4
  ASSERT_EQ(trace.Entries().size(), 2u);
  EXPECT_EQ(trace.Entries()[0].message.QueryLine(), 437u);
  EXPECT_EQ(Rendered(trace.Entries()[0].message),
            "Type mismatch in message(Nowhere,4,9), expecting width for argument 1 from (null)[0]");
  EXPECT_EQ(trace.Entries()[1].message.QueryLine(), 449u);
  EXPECT_EQ(Rendered(trace.Entries()[1].message),
            "Type mismatch in message(Nowhere,4,9) expecting precision for argument 3 from "
            "(null)[0]");
}

TEST(TMessageRender, PositionalStarPercentLengthAndCountForms) {
  EXPECT_EQ(Rendered(TMessage("%2$s=%1$d", TagVar(7), TagVar("k"))), "k=7");
  EXPECT_EQ(Rendered(TMessage("%*d", TagVar(5), TagVar(3))), "    3");
  EXPECT_EQ(Rendered(TMessage("100%% sure", TagVar(1))), "100% sure");
  EXPECT_EQ(Rendered(TMessage("100%% sure")), "100%% sure"); // no arguments: no formatting
  EXPECT_EQ(Rendered(TMessage("%ld and %ls", TagVar(8), TagVar("narrow"))), "8 and narrow");
  EXPECT_EQ(Rendered(TMessage("%n %d", TagVar(1), TagVar(5))), "%? 5");
}

TEST(TMessageRender, ConversionsFormatAsTheCFormatterDoes) {
  const TagVar pointer{TagVarVoidPtr(reinterpret_cast<void*>(0x1234))};
  struct Case {
    const char* format;
    TagVar value;
    std::string expected;
  };
  const Case cases[] = {
      {"%-5d|", TagVar(42), "42   |"},
      {"%05d", TagVar(42), "00042"},
      {"%+d % d", TagVar(42), "+42  0"}, // the second one has no argument
      {"%#x %X %o", TagVar(255), "0xff 0 0"},
      {"%u", TagVar(-1), "4294967295"},
      {"%d", TagVar(4294967295u), "-1"},
      {"%.3d", TagVar(7), "007"},
      {"%8.3f|", TagVar(3.14159), "   3.142|"},
      {"%e", TagVar(12345.678), Printf("%e", 12345.678)},
      {"%G", TagVar(0.00001), Printf("%G", 0.00001)},
      {"%c%c", TagVar(65), std::string("A\0", 2)},
      {"%-3c|%3c", TagVar(66), std::string("B  |  \0", 7)},
      {"%lc", TagVar(67), "C"},
      {"%5s|%-5s|", TagVar("ab"), "   ab|(null)|"},
      {"%.1s", TagVar("xyz"), "x"},
      {"%05s", TagVar("ab"), "   ab"}, // '0' means nothing for %s
      {"%p", pointer, Printf("%p", reinterpret_cast<void*>(0x1234))},
      {"%s", TagVar(u"wide"), "(null)"}, // a wide string is no match for %s
      {"%s", TagVar(static_cast<const char*>(nullptr)), "(null)"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Rendered(TMessage(c.format, c.value)), c.expected) << c.format;
  }
  // %c of zero writes a NUL byte into the text, as the formatter does.
  EXPECT_EQ(Rendered(TMessage("a%cb", TagVar(0))), std::string("a\0b", 3));
}

TEST(TMessageRender, ValuesLongerThanTheirEstimateRenderWhole) {
  const TMessage huge("%f", TagVar(1e308));
  TString rewritten;
  TMessage::CharP block;
  const unsigned long estimate = huge.ValidateArgs(TString("%f"), rewritten, block);
  const std::string expected = Printf("%f", 1e308);
  EXPECT_LT(estimate, expected.size());
  EXPECT_EQ(Rendered(huge), expected);
  EXPECT_EQ(Rendered(TMessage("%s", TagVar(std::string(5000, 'x').c_str()))),
            std::string(5000, 'x'));
  EXPECT_EQ(Rendered(TMessage("%f %f", TagVar(std::numeric_limits<double>::quiet_NaN()),
                              TagVar(-std::numeric_limits<double>::infinity()))),
            Printf("%f", std::numeric_limits<double>::quiet_NaN()) + " " +
                Printf("%f", -std::numeric_limits<double>::infinity()));
}

TEST(TMessageRender, ArgumentNumbersOutsideTheArgumentsRenderZero) {
  TRecording trace;
  EXPECT_EQ(Rendered(TMessage("[%9$s]", TagVar("a"))), "[(null)]");
  EXPECT_EQ(Rendered(TMessage("[%0$d]", TagVar(3))), "[0]");
  EXPECT_EQ(Rendered(TMessage("[%4294967296$d]", TagVar(3))), "[0]"); // saturates, no wrap
  EXPECT_EQ(Rendered(TMessage("[%*5$d]", TagVar(3))), "[3]");
  ASSERT_EQ(trace.Entries().size(), 4u);
  EXPECT_EQ(static_cast<long>(trace.Entries()[0].message[4]), 9);
  EXPECT_EQ(static_cast<long>(trace.Entries()[1].message[4]), 0);
  EXPECT_EQ(static_cast<long>(trace.Entries()[2].message[4]), -1);
  EXPECT_EQ(static_cast<long>(trace.Entries()[3].message[3]), 5); // the width's number

  // More conversions than arguments: each one beyond renders zero.
  std::string format, expected;
  for (int i = 0; i < 40; ++i) {
    format += "%d,";
    expected += i == 0 ? "7," : "0,";
  }
  EXPECT_EQ(Rendered(TMessage(format.c_str(), TagVar(7))), expected);
}

TEST(TMessageRender, HugeWidthsAndPrecisionsAreCapped) {
  const std::string padded = Rendered(TMessage("%2147483647d", TagVar(1)));
  EXPECT_EQ(padded, std::string(4095, ' ') + "1");
  EXPECT_EQ(Rendered(TMessage("%*d|", TagVar(INT_MIN), TagVar(1))),
            "1" + std::string(4095, ' ') + "|");
  EXPECT_EQ(Rendered(TMessage("%*d|", TagVar(-3), TagVar(1))), "1  |");
  EXPECT_EQ(Rendered(TMessage("%.*d", TagVar(-5), TagVar(42))), "42"); // negative: no precision
  EXPECT_EQ(Rendered(TMessage("%.*f", TagVar(INT_MAX), TagVar(0.5))).size(), 2u + 4096u);
  EXPECT_EQ(Rendered(TMessage("%.99999999999f", TagVar(0.5))).size(), 2u + 4096u);
  EXPECT_EQ(Rendered(TMessage("%-99999s|", TagVar("a"))), "a" + std::string(4095, ' ') + "|");
}

TEST(TMessageRender, FormatsCutShortRenderAsWritten) {
  const TMessage noText(static_cast<const char*>(nullptr), TagVar(1));
  EXPECT_EQ(Rendered(noText), "");
  EXPECT_EQ(static_cast<const char*>(TMessage(static_cast<const char*>(nullptr))), nullptr);
  for (const char* format :
       {"%", "%5", "%*", "%.", "%2$", "%2$*", "%-", "%l", "%.*", "abc%", "%*3$", "%1$.*"}) {
    EXPECT_EQ(Rendered(TMessage(format, TagVar(1), TagVar(2))), format) << format;
  }
  EXPECT_EQ(Rendered(TMessage("%d%", TagVar(1))), "1%");
}

TEST(TMessageRender, StoredTextDefaultTextAndUnicode) {
  // No store of that name: the default text.
  EXPECT_EQ(Rendered(TMessage(Store("Render.None"), 1, 2, "default %d", TagVar(3))), "default 3");
  TTestStore store("Render.Store", "stored %d");
  EXPECT_EQ(Rendered(TMessage(Store("Render.Store"), 1, 2, "default %d", TagVar(3))), "stored 3");
  // The store lacks message 0: the default text again.
  EXPECT_EQ(Rendered(TMessage(Store("Render.Store"), 1, 0, "default %d", TagVar(3))), "default 3");
  EXPECT_EQ(Rendered(TMessage(Store("Render.Store"), 1, 2, "default %d")), "stored %d");

  // A Unicode text with arguments renders as narrow UTF-8; without, it stays as it is.
  TUnicodeStore unicode("Render.Unicode", u"Gr\u00f6\u00dfe %d \U0001F600 %s");
  const TMessage withArgs(Store("Render.Unicode"), 1, 1, "", TagVar(5), TagVar("ok"));
  EXPECT_EQ(Rendered(withArgs), "Gr\xc3\xb6\xc3\x9f"
                                "e 5 \xf0\x9f\x98\x80 ok");
  EXPECT_FALSE(withArgs.QueryMessage().IsUnicode());
  const TMessage bare(Store("Render.Unicode"), 1, 1, "");
  EXPECT_TRUE(bare.QueryMessage().IsUnicode());
  EXPECT_EQ(bare.QueryMessage().length(),
            2u * std::char_traits<char16_t>::length(u"Gr\u00f6\u00dfe %d \U0001F600 %s"));
  const TagVar asValue = bare;
  EXPECT_TRUE(asValue.IsWideString());
  const TagVar narrowValue = withArgs;
  EXPECT_TRUE(narrowValue.IsString());

  TUnicodeStore broken("Render.Broken", u"\xD800|%d|\xDC00");
  EXPECT_EQ(Rendered(TMessage(Store("Render.Broken"), 1, 1, "", TagVar(4))),
            "\xef\xbf\xbd|4|\xef\xbf\xbd");
}

TEST(TMessageRender, SecondQueryReturnsTheCachedText) {
  TTestStore store("Render.Cache", "cached %d");
  TRecording trace;
  TMessage message(Store("Render.Cache"), 1, 1, "", TagVar("not a number"));
  const TString& first = message.QueryMessage();
  const char* text = first;
  ASSERT_EQ(trace.Entries().size(), 1u);
  EXPECT_EQ(store.calls.load(), 1);
  const TString& second = message.QueryMessage();
  EXPECT_EQ(&first, &second);
  EXPECT_EQ(static_cast<const char*>(second), text);
  EXPECT_EQ(trace.Entries().size(), 1u); // not validated again
  EXPECT_EQ(store.calls.load(), 1);      // nor looked up again
  EXPECT_STREQ(static_cast<const char*>(message), "cached 0");
  const TString copy = message;
  EXPECT_EQ(Bytes(copy), "cached 0");

  // SetArgs keeps the rendered text; a copy renders afresh.
  message.SetArgs(TagVar(9));
  EXPECT_EQ(Rendered(message), "cached 0");
  const TMessage fresh(message);
  EXPECT_EQ(Rendered(fresh), "cached 9");
  EXPECT_EQ(store.calls.load(), 2);
  TMessage assigned;
  assigned = message;
  EXPECT_EQ(Rendered(assigned), "cached 9");
}

// --------------------------------------------------------- store registry ----

TEST(TMessageStore, NamesAreExactAndStoresLeaveWhenDestroyed) {
  EXPECT_EQ(TMessageStore::GetMsg(Store("Registry.Nobody"), 1, 1), nullptr);
  EXPECT_EQ(TMessageStore::Find(Store("Registry.Nobody")), nullptr);
  {
    TTestStore upper("Registry.Case", "upper");
    TTestStore lower("registry.case", "lower");
    EXPECT_EQ(TMessageStore::Find(Store("Registry.Case")), &upper);
    EXPECT_EQ(TMessageStore::Find(Store("registry.case")), &lower);
    EXPECT_EQ(TMessageStore::Find(Store("REGISTRY.CASE")), nullptr);
    std::unique_ptr<TString> text(TMessageStore::GetMsg(Store("registry.case"), 1, 1));
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(Bytes(*text), "lower");
    EXPECT_STREQ(upper.QueryStoreID(), "Registry.Case");
    EXPECT_EQ(&upper.Key(), &upper.QueryStoreID());
    EXPECT_EQ(upper.IsCached(), 0);
  }
  EXPECT_EQ(TMessageStore::Find(Store("Registry.Case")), nullptr);
  EXPECT_EQ(TMessageStore::GetMsg(Store("registry.case"), 1, 1), nullptr);
  // The name can be registered again once its store is gone.
  TTestStore again("Registry.Case", "again");
  EXPECT_EQ(TMessageStore::Find(Store("Registry.Case")), &again);
}

/// Expects `error` to be the registry's TInvalidRequest with this text and line.
void ExpectRegistryError(const TInvalidRequest& error, const char* text, unsigned long line) {
  ExpectLibraryError(error, {"TInvalidRequest", text, 1, 1, "utility/MESSAGE", line});
}

TEST(TMessageStore, DuplicateNameIsRefusedAndTheFirstStays) {
  TTestStore first("Registry.Duplicate", "first");
  bool built = false;
  try {
    TTestStore second("Registry.Duplicate", "second", &built);
    FAIL() << "a second store of the same name was built";
  } catch (const TInvalidRequest& error) {
    ExpectRegistryError(error, "Duplicate Message Store", 598);
  }
  EXPECT_FALSE(built); // the derived constructor never ran
  EXPECT_EQ(TMessageStore::Find(Store("Registry.Duplicate")), &first);
  std::unique_ptr<TString> text(TMessageStore::GetMsg(Store("Registry.Duplicate"), 1, 1));
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(Bytes(*text), "first");
}

TEST(TMessageStore, SecondArchiveIsRefusedAndTheFirstStays) {
  try {
    TMessageArchive second;
    FAIL() << "a second archive was built";
  } catch (const TInvalidRequest& error) {
    ExpectRegistryError(error, "Solitary Object", 552);
  }
  TTestStore store("Registry.AfterSecondArchive", "still here");
  EXPECT_EQ(TMessageStore::Find(Store("Registry.AfterSecondArchive")), &store);
}

// Rendering threads look up stable stores while other threads build and destroy stores of
// other names, and a trace output renders stored messages under the trace mutex while a
// store's GetMsg traces: the archive lock must never be held around a trace or a GetMsg.
TEST(TMessageStoreThreaded, RenderingGoesOnWhileStoresOfOtherNamesComeAndGo) {
  constexpr int kRounds = 200;
  constexpr int kRenderers = 3;
  constexpr int kChurners = 2;

  /// A store that traces every lookup, as a resource-library store traces a missing text.
  class TTracingStore : public TMessageStore {
  public:
    TTracingStore() : TMessageStore(Store("Threaded.Tracing")) {}
    TString* GetMsg(long, long messageId) override {
      if (TTrace::IsGlobalTracing(0x8, 1)) {
        TTrace::WriteEntry(0x8, TUtilityTraceCategory::Message,
                           TMessage("looked up %d", TagVar(messageId)));
      }
      return new TString("traced %d");
    }
  };
  /// An output that renders a stored message for every entry, under the trace mutex.
  class TRenderingState : public TTrace::Base {
  public:
    void Write(unsigned long, const TTrace::Category&, const TMessage& message) override {
      const TMessage stored(Store("Threaded.Stable"), 1, 1, "", TagVar(writes));
      if (Rendered(stored) == "stable " + std::to_string(writes)) {
        ++writes;
      }
      static_cast<void>(message.QueryMessage());
    }
    int writes = 0; // under the trace mutex
  };
  class TRenderingTrace : public TTrace {
  public:
    TRenderingTrace() : TTrace(new TRenderingState) {}
    int Writes() const { return static_cast<TRenderingState*>(QueryPointer().QueryBase())->writes; }
  };

  TTestStore stable("Threaded.Stable", "stable %d");
  TTracingStore tracing;
  TRenderingTrace trace;
  std::atomic<int> failures{0};
  std::atomic<int> duplicates{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kRenderers; ++t) {
    threads.emplace_back([&failures] {
      for (int i = 0; i < kRounds; ++i) {
        const std::string n = std::to_string(i);
        if (Rendered(TMessage(Store("Threaded.Stable"), 1, 1, "", TagVar(i))) != "stable " + n ||
            Rendered(TMessage(Store("Threaded.Tracing"), 1, 1, "", TagVar(i))) != "traced " + n ||
            Rendered(TMessage(Store("Threaded.Absent"), 1, 1, "absent %d", TagVar(i))) !=
                "absent " + n ||
            Rendered(TMessage(Store("Threaded.Stable"), 1, 1, "", TagVar("x"))) != "stable 0" ||
            TMessageStore::Find(Store("Threaded.Stable")) == nullptr) {
          ++failures;
        }
      }
    });
  }
  for (int t = 0; t < kChurners; ++t) {
    threads.emplace_back([t, &failures, &duplicates] {
      for (int i = 0; i < kRounds; ++i) {
        const std::string name =
            "Threaded.Churn." + std::to_string(t) + "." + std::to_string(i % 3);
        TTestStore churn(name.c_str(), "churn %d");
        if (Rendered(TMessage(Store(name.c_str()), 1, 1, "", TagVar(i))) !=
            "churn " + std::to_string(i)) {
          ++failures;
        }
        try {
          TTestStore duplicate("Threaded.Stable", "never");
          ++failures;
        } catch (const TInvalidRequest&) {
          ++duplicates;
        }
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(duplicates.load(), kChurners * kRounds);
  EXPECT_GT(stable.calls.load(), kRenderers * kRounds);
  EXPECT_GE(trace.Writes(), kRenderers * kRounds); // every lookup of the tracing store wrote
  EXPECT_EQ(TMessageStore::Find(Store("Threaded.Churn.0.0")), nullptr);
}

} // namespace
