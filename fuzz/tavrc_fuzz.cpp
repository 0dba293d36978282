// fuzz/tavrc_fuzz.cpp: tavrc's catalogue reader on arbitrary bytes.
// Licensed under the Apache License, Version 2.0.
//
// The input is the catalogue; "#include "self.rc"" and "self.h" read the input again (as a
// script and as a header), a bounded number of times. Reading must neither crash nor trip a
// sanitizer nor loop; what it gives must keep its shape (ids unique, ascending, in range), and
// a catalogue read without errors must generate its table source.
#include "catalogue.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tavutil::tavrc;
  const std::string text(reinterpret_cast<const char*>(data), size);
  int includes = 0;
  const IncludeReader reader = [&](const std::string& name, const std::string&, std::string& path,
                                   std::string& contents) {
    // Each file may include itself several times over: a budget keeps the tree small.
    if ((name != "self.rc" && name != "self.h") || ++includes > 32) {
      return false;
    }
    path = name;
    contents = text;
    return true;
  };
  const Catalogue catalogue = ReadCatalogue("fuzz.rc", text, {{"FUZZ", "1"}}, reader);
  for (std::size_t i = 0; i < catalogue.strings.size(); ++i) {
    if (catalogue.strings[i].id > kMaxId ||
        (i > 0 && catalogue.strings[i - 1].id >= catalogue.strings[i].id)) {
      std::abort();
    }
  }
  if (catalogue.Succeeded() && GenerateTableSource(catalogue.strings, "fuzz.rc").empty()) {
    std::abort();
  }
  return 0;
}
