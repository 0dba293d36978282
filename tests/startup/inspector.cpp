// tests/startup/inspector.cpp: a module linked with the library that reports its state after
// load, for the start-up probe (which is not linked with the library itself).
// Licensed under the Apache License, Version 2.0.
#include <tavutil/nlsresrc.h>
#include <tavutil/trace.h>

#include <memory>
#include <sstream>
#include <string>

/// Writes one line per fact into `buffer` (NUL-terminated, cut to `size`): every known
/// category in registry order, the language, the search path, and which category
/// FindCategory finds for "CRTmsg" and "crtmsg".
extern "C" __attribute__((visibility("default"))) void InspectLibrary(char* buffer,
                                                                      std::size_t size) {
  std::ostringstream out;
  const std::unique_ptr<TTraceSetKnownCursor> cursor(TTrace::ListClasses());
  for (TElemPointer<TTrace::Category>* item = cursor->Element(); item != nullptr;
       item = cursor->Next()) {
    out << "category " << item->QueryPointer()->QueryComponent() << ' '
        << item->QueryPointer()->QueryString() << '\n';
  }
  out << "lang " << TSearchNLSPath::QueryLang() << '\n';
  out << "nlspath " << TSearchNLSPath::fsNLSpath << '\n';
  for (const char* name : {"CRTmsg", "crtmsg"}) {
    out << "find " << name << ' '
        << (TTrace::FindCategory(TString(name)) == &TUtilityTraceCategory::CrtMsg ? "CrtMsg" : "-")
        << '\n';
  }
  const std::string text = out.str();
  const std::size_t length = text.size() < size ? text.size() : size - 1;
  text.copy(buffer, length);
  buffer[length] = '\0';
}
