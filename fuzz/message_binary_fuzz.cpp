// fuzz/message_binary_fuzz.cpp: reads TMessage binary forms from arbitrary bytes.
// Licensed under the Apache License, Version 2.0.
//
// The input is a set-up byte (binary_source.h) and the stream's bytes, read as a sequence of
// messages until the stream fails. Nothing may crash or trip a sanitizer; a message never has
// more arguments than the input could hold (each takes at least 4 bytes); every message read,
// whole or not, renders; one read whole writes a form that reads back to the same form.
#include <tavutil/message.h>

#include "binary_source.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // An unknown argument tag leaves the message with the arguments before it: checked as any.
  const auto check = [size](const TMessage& message) {
    Check(message.QueryNumberArgs() <= size / 4);
    static_cast<void>(message.QueryMessage());
  };
  ReadEach<TMessage>(
      data, size, 64, [] { return TMessage("old %d", TagVar(1)); }, check, check);
  return 0;
}
