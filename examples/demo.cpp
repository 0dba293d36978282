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

/// Prints a value's type and its payload through the strict accessor of that type.
void PrintArgument(unsigned index, const TagVar& value) {
  std::cout << "  [" << index << "] ";
  if (value.IsInteger()) {
    std::cout << "integer " << static_cast<long>(value);
  } else if (value.IsUnsignedInteger()) {
    std::cout << "unsignedInteger " << static_cast<unsigned long>(value);
  } else if (value.IsReal()) {
    std::cout << "real " << static_cast<double>(value);
  } else if (value.IsString() || value.IsWideString()) {
    std::cout << "string \"" << *value.QueryString() << '"';
  } else if (value.IsDateTime()) {
    std::cout << "datetime " << value.QueryDateTime()->QueryString("%Y-%m-%d %H:%M:%S UTC");
  } else {
    std::cout << "type " << value.QueryType();
  }
  std::cout << '\n';
}

void MessageTour() {
  std::cout << "== A message with typed arguments\n";
  const TMessage message("%s wrote %d records (%u skipped, %.1f%%) at %s", TagVar("importer"),
                         TagVar(1200), TagVar(3u), TagVar(99.75), TagVar(TDateTime(1700000000, 0)));
  for (unsigned i = 0; i < message.QueryNumberArgs(); ++i) {
    PrintArgument(i, message[i]);
  }
  std::cout << "== A strict accessor refusing the wrong type\n";
  try {
    static_cast<void>(static_cast<double>(message[1])); // an integer is not a real
  } catch (const TException& e) {
    PrintException(e);
  }
}

} // namespace

int main() {
  StringTour();
  ExceptionTour();
  MessageTour();
  return 0;
}
