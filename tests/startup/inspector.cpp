// tests/startup/inspector.cpp: a module linked with the library that reports its state after
// load, for the start-up probe (which is not linked with the library itself).
// Licensed under the Apache License, Version 2.0.
#include <tavutil/nlsresrc.h>

#include <sstream>
#include <string>

/// Writes the language and the search path, a line each, into `buffer` (NUL-terminated, cut to
/// `size`).
extern "C" __attribute__((visibility("default"))) void InspectLibrary(char* buffer,
                                                                      std::size_t size) {
  std::ostringstream out;
  out << "lang " << TSearchNLSPath::QueryLang() << '\n';
  out << "nlspath " << TSearchNLSPath::fsNLSpath << '\n';
  const std::string text = out.str();
  const std::size_t length = text.size() < size ? text.size() : size - 1;
  text.copy(buffer, length);
  buffer[length] = '\0';
}
