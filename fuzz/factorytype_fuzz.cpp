// fuzz/factorytype_fuzz.cpp: parses arbitrary factory type specifications and registers them.
// Licensed under the Apache License, Version 2.0.
//
// The input is split at its first newline into two type specifications. Each is parsed from a
// C string and from a TString; the names must be the pieces of the text the rules give. The
// two are then registered in a loader of their own, found and removed: a lookup only ever
// hits, so no library is loaded whatever the input names.
#include <tavutil/exception.h>
#include <tavutil/factory.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

class Loader : public TFactoryLoaderBase {};

void Check(bool condition) {
  if (!condition) {
    std::abort();
  }
}

std::string Text(const TString& s) {
  const char* text = s;
  return text != nullptr ? std::string(text, s.length()) : std::string();
}

/// Parses `spec` both ways and checks the names against the text.
TFactoryType Parse(const std::string& spec) {
  const TFactoryType type(spec.c_str());
  const TFactoryType same{TString(spec.c_str())};
  const std::string name = Text(type.GetName());
  const std::string library = Text(type.GetDllName());
  Check(Text(same.GetName()) == name && Text(same.GetDllName()) == library);
  const std::string text(spec.c_str()); // up to the first NUL
  const std::size_t open = text.find('[');
  Check(name == text.substr(0, open));
  if (open != std::string::npos && text.find(']', open) != std::string::npos) {
    Check(library == text.substr(open + 1, text.find(']', open) - open - 1));
  } else {
    Check(library == name);
  }
  Check(type == same && !(type < same) && !(same < type));
  return type;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::size_t newline = input.find('\n');
  const TFactoryType first = Parse(input.substr(0, newline));
  const TFactoryType second =
      Parse(newline == std::string::npos ? std::string() : input.substr(newline + 1));
  Check((first < second) + (second < first) + (first == second) == 1);

  Loader loader;
  int a = 0;
  int b = 0;
  loader.Add(first, &a);
  try {
    loader.Add(second, &b);
    Check(!(first == second));
  } catch (const TInvalidRequest&) {
    Check(first == second);
  }
  Check(loader.Find(first) == &a);
  Check(loader.Find(second) == (first == second ? &a : &b));
  loader.Remove(second, &b);
  loader.Remove(first);
  return 0;
}
