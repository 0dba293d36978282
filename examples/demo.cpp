// examples/demo.cpp: a short tour of tavutil doing its main jobs.
// Licensed under the Apache License, Version 2.0.
#include <tavutil/tavutil.h>

#include <iostream>

namespace {

/// Prints an exception field by field.
void PrintException(const TException& e) {
  std::cout << "  class:       " << e.name() << '\n'
            << "  group:       " << (e.errorCodeGroup() != nullptr ? e.errorCodeGroup() : "unknown")
            << '\n'
            << "  error id:    " << e.errorId() << '\n'
            << "  recoverable: " << (e.isRecoverable() ? "yes" : "no") << '\n';
  for (unsigned long i = 0; i < e.textCount(); ++i) {
    std::cout << "  text(" << i << "):     " << e.text(i) << '\n';
  }
  for (unsigned long i = 0; i < e.locationCount(); ++i) {
    const TExceptionLocation* where = e.locationAtIndex(i);
    std::cout << "  location " << i << ":  " << where->fileName() << " line " << where->lineNumber()
              << '\n';
  }
}

void StringTour() {
  std::cout << "== Strings\n";
  TString greeting("hello, world");
  TString shared = greeting; // shares the buffer
  shared += "!";             // copy-on-write: a new buffer for `shared` only
  std::cout << "  greeting: " << greeting << " / shared: " << shared << '\n';
  std::cout << "  indexOf(\"world\") = " << greeting.indexOf("world") << " (1-based)\n";
  TString text("one two two three");
  text.change("two", "2");
  std::cout << "  change(two -> 2): " << text << '\n';
  std::cout << "  subString(5, 10, '*'): " << TString("abcdef").subString(5, 10, '*') << '\n';
  TString none;
  std::cout << "  a string without buffer prints as " << none << '\n';
}

void ExceptionTour() {
  std::cout << "== An exception thrown by the library\n";
  try {
    const TString abc("abc");
    static_cast<void>(abc[4]); // positions are 1-based: 4 is past the end
  } catch (const TException& e) {
    PrintException(e);
  }
}

} // namespace

int main() {
  StringTour();
  ExceptionTour();
  return 0;
}
