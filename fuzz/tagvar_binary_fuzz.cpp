// fuzz/tagvar_binary_fuzz.cpp: reads TagVar binary forms from arbitrary bytes.
// Licensed under the Apache License, Version 2.0.
//
// The input is a set-up byte (binary_source.h) and the stream's bytes, read as a sequence of
// values until the stream fails. Nothing may crash or trip a sanitizer; an unknown tag must
// leave nil; a value read whole must write a form that reads back to the same form.
#include <tavutil/tagvar.h>

#include "binary_source.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ReadEach<TagVar>(
      data, size, 512, [] { return TagVar("old"); },
      [](const TagVar& refused) { Check(refused.IsNil()); }, [](const TagVar&) {});
  return 0;
}
