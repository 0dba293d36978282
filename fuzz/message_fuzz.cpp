// fuzz/message_fuzz.cpp: renders messages of arbitrary format bytes and arbitrary arguments.
// Licensed under the Apache License, Version 2.0.
//
// The input is read as: a flags byte (bit 0: a stored message, bit 1: its store text is
// Unicode, bit 2: trace the diagnostics, bit 3: a literal text without buffer, bit 4: also build
// it by copy, assignment and the list forms), a 16-bit format
// length and that many format bytes, an argument count, then per argument a type byte and its value
// bytes. Missing bytes read as zero. Rendering must neither crash nor trip a sanitizer, and the
// validation's outputs must keep their shape.
#include <tavutil/message.h>
#include <tavutil/trace.h>

#include "fuzz_input.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

/// Gives the format being fuzzed as its stored text, narrow or Unicode.
class TFuzzStore : public TMessageStore {
public:
  TFuzzStore() : TMessageStore(TMessage::StoreID(TString("Fuzz"), explicitInit)) {}
  TString* GetMsg(long /*setId*/, long /*messageId*/) override { return new TString(text); }
  TString text;
};

/// A trace output that renders every diagnostic it gets, as a stream output would.
class TRenderingState : public TTrace::Base {
public:
  void Write(unsigned long /*level*/, const TTrace::Category& /*category*/,
             const TMessage& message) override {
    static_cast<void>(message.QueryMessage());
  }
};

class TRenderingTrace : public TTrace {
public:
  TRenderingTrace() : TTrace(new TRenderingState) {}
};

void Check(bool condition) {
  if (!condition) {
    std::abort();
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static TFuzzStore store;
  Reader in(data, size);
  const auto flags = in.Get<std::uint8_t>();
  const TString format = in.Bytes(in.Get<std::uint16_t>());
  std::vector<TagVar> arguments(in.Get<std::uint8_t>() % 10);
  for (TagVar& argument : arguments) {
    argument = MakeTagVar(in);
  }

  std::unique_ptr<TRenderingTrace> trace;
  if ((flags & 4) != 0) {
    trace = std::make_unique<TRenderingTrace>();
  }
  // A literal message takes its text up to the first NUL; a stored one gets every byte.
  const char* text = format;
  if ((flags & 8) != 0) {
    text = nullptr; // a literal text without buffer
  }
  TMessage message =
      (flags & 1) != 0 ? TMessage(store.QueryStoreID(), 1, 1, "default %d") : TMessage(text);
  store.text = format;
  store.text.SetUnicode((flags & 2) != 0 ? 1 : 0);
  // The array form keeps nil values out (they end the list); so use the fixed forms when
  // the count allows, which copy every value, nil included.
  switch (arguments.size()) {
  case 0:
    break;
  case 1:
    message.SetArgs(arguments[0]);
    break;
  case 2:
    message.SetArgs(arguments[0], arguments[1]);
    break;
  case 3:
    message.SetArgs(arguments[0], arguments[1], arguments[2]);
    break;
  default: {
    std::vector<const TagVar*> list;
    for (const TagVar& argument : arguments) {
      list.push_back(&argument);
    }
    list.push_back(nullptr);
    message.SetArgs(list.data());
    break;
  }
  }
  const TString& rendered = message.QueryMessage();
  Check(&message.QueryMessage() == &rendered);
  if ((flags & 16) != 0) {
    // The other ways to the same message: a copy, an assignment, and the list forms over
    // the values up to the first nil (which ends a list). Each renders afresh.
    const TMessage copy(message);
    Check(copy.QueryMessage().isEqual(rendered));
    TMessage assigned("replaced %d", TagVar(1));
    static_cast<void>(assigned.QueryMessage());
    assigned = message;
    Check(assigned.QueryMessage().isEqual(rendered));
    std::vector<const TagVar*> list;
    for (const TagVar& argument : arguments) {
      if (argument.IsNil() || argument.IsEndOfArgs()) {
        break;
      }
      list.push_back(&argument);
    }
    const auto listedCount = static_cast<unsigned>(list.size());
    list.resize(list.size() < 3 ? 3 : list.size() + 1, nullptr);
    const TMessage listed = (flags & 1) != 0
                                ? TMessage(store.QueryStoreID(), 1, 1, "default %d", list.data())
                                : TMessage(text, list.data());
    const TMessage variadic =
        (flags & 1) != 0 ? TMessage(store.QueryStoreID(), 1, 1, "default %d", list[0], list[1],
                                    list[2], &TMessage::fsEndOfArgs)
                         : TMessage(text, list[0], list[1], list[2], &TMessage::fsEndOfArgs);
    Check(listed.QueryNumberArgs() == listedCount);
    Check(variadic.QueryNumberArgs() == (listedCount < 3 ? listedCount : 3u));
    static_cast<void>(listed.QueryMessage());
    static_cast<void>(variadic.QueryMessage());
  }
  const TagVar asValue = message;
  Check(asValue.IsString() || asValue.IsWideString());

  // The validation on the raw bytes, embedded NULs included.
  TString rewritten;
  TMessage::CharP block;
  static_cast<void>(message.ValidateArgs(format, rewritten, block));
  Check(rewritten.length() == format.length() + 1);
  Check(block.QueryLength() <= block.QuerySize());
  Check(block.QuerySize() == std::size_t{16} * message.QueryNumberArgs());
  return 0;
}
