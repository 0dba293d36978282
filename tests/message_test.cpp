// tests/message_test.cpp: message objects: construction, argument lists, copying, indexing.
// Licensed under the Apache License, Version 2.0.
#include <tavutil/exception.h>
#include <tavutil/message.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

std::string Text(const TagVar& value) {
  const TString* s = value.QueryString();
  return s != nullptr && static_cast<const char*>(*s) != nullptr ? static_cast<const char*>(*s)
                                                                 : "";
}

TMessage::StoreID Store(const char* name) {
  return TMessage::StoreID(TString(name), explicitInit);
}

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
      EXPECT_STREQ(e.text(0), "Out of Range");
      EXPECT_EQ(e.errorId(), 1u);
      EXPECT_EQ(e.isRecoverable(), 1);
      EXPECT_STREQ(e.errorCodeGroup(), "Tessel Library");
      ASSERT_EQ(e.locationCount(), 1u);
      EXPECT_STREQ(e.locationAtIndex(0)->fileName(), "utility/MESSAGE");
      EXPECT_STREQ(e.locationAtIndex(0)->functionName(), "");
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

} // namespace
