// examples/demo.cpp: a short tour of tavutil doing its main jobs.
// Licensed under the Apache License, Version 2.0.
#include <tavutil/tavutil.h>

#include "demomsgs.h"

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

/// The demo's own message catalogue: set 1 holds two texts.
class TDemoStore : public TMessageStore {
public:
  TDemoStore() : TMessageStore(TMessage::StoreID(TString("Demo"), explicitInit)) {}
  TString* GetMsg(long setId, long messageId) override {
    if (setId == 1 && messageId == 1) {
      return new TString("%2$s copied %1$d files in %3$.2f s"); // arguments by position
    }
    if (setId == 1 && messageId == 2) {
      return new TString("%s: disk %s is %u%% full");
    }
    return nullptr; // not in the catalogue: the message's default text is used
  }
};

void TraceTour(const char* specification) {
  // One line of text names the output and what it takes: "stdout,al" shows every level on
  // standard output, "shfile(/tmp/demo.log),er+wa" errors and warnings in a shared file.
  std::cout << "== Trace lines through the settings \"" << specification << "\"\n";
  TTrace trace(specification); // a malformed one throws TInvalidRequest
  if (trace.QueryPointer().IsNull()) {
    std::cout << "  no such output: nothing is traced\n";
  }
  trace.AddCategory(TUtilityTraceCategory::String, 0); // any category can be switched off

  const TDemoStore store;
  const TMessage::StoreID demo(TString("Demo"), explicitInit);

  TMessage copied(demo, 1, 1, "%d files copied by %s", TagVar(1200), TagVar("backup"), TagVar(2.5));
  copied.SetDebugging("examples/demo.cpp", 1);
  TTrace::WriteEntry(0x4, TUtilityTraceCategory::Message, copied);

  TMessage missing(demo, 1, 99, "no text for %s in the catalogue: the default is used",
                   TagVar("1/99"));
  missing.SetDebugging("examples/demo.cpp", 2);
  TTrace::WriteEntry(0x8, TUtilityTraceCategory::Message, missing);

  // A conversion whose argument has the wrong type renders as zero, and the library traces
  // a diagnostic (level 8, file utility/MESSAGE) before the line that contains it.
  TMessage wrong(demo, 1, 2, "", TagVar("monitor"), TagVar("/var"), TagVar("ninety"));
  wrong.SetDebugging("examples/demo.cpp", 3);
  TTrace::WriteEntry(0x4, TUtilityTraceCategory::Message, wrong);

  // Asking a message for an argument it does not have: a trace line, then an exception.
  try {
    static_cast<void>(wrong[7]);
  } catch (const TInvalidParameter& e) {
    std::cout << "  caught " << e.name() << " \"" << e.text(0) << "\"\n";
  }

  std::cout << "== The same entry with the full prefix (month/day-time, thread id, letter)\n";
  trace.SetDisplayPrefix(1); // a shared file always shows it, with the process id too
  TTrace::WriteEntry(0x4, TUtilityTraceCategory::Message, copied);
}

/// The same stored messages in "C" (their default texts), English and German: the store
/// loads the catalogue of the language current when it is made.
void LanguageTour() {
  std::cout << "== Stored messages in three languages (examples/demomsgs_*.rc)\n";
  const TMessage::StoreID demo(TString("DemoNLS"), explicitInit);
  for (const char* language : {"C", "English", "German"}) {
    TSearchNLSPath::SetLang(language);
    const TMessageStorePM store(demo, "demomsgs"); // <demo dir>/<language>/demomsgs.so
    const TMessage messages[] = {
        TMessage(demo, 1, DEMO_WELCOME, "welcome %s", TagVar("Ada")),
        TMessage(demo, 1, DEMO_COPIED, "%2$s: %1$d files copied", TagVar(12), TagVar("backup")),
        TMessage(demo, 1, DEMO_DISK_FULL, "disk %s %u%% full", TagVar("/var"), TagVar(97u)),
        TMessage(demo, 1, DEMO_GOODBYE, "goodbye %s", TagVar("Ada"))};
    std::cout << "  -- " << language << '\n';
    for (const TMessage& message : messages) {
      std::cout << "  " << message.QueryMessage() << '\n';
    }
  }
  TSearchNLSPath::SetLang(nullptr);
}

} // namespace

int main(int argc, char** argv) {
  StringTour();
  ExceptionTour();
  MessageTour();
  try {
    TraceTour(argc > 1 ? argv[1] : "stdout,al");
  } catch (const TException& e) {
    std::cout << "== The trace specification was refused\n";
    PrintException(e);
    return 1;
  }
  LanguageTour();
  return 0;
}
