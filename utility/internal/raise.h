// utility/internal/raise.h: the one routine by which every library throw site raises.
// Licensed under the Apache License, Version 2.0.
//
// Internal to the library; never installed.
#ifndef TAVUTIL_INTERNAL_RAISE_H
#define TAVUTIL_INTERNAL_RAISE_H

#include <tavutil/exception.h>
#include <tavutil/trace.h>

namespace tavutil::detail {

/// The error-code group of every exception the library raises.
inline constexpr char kErrorCodeGroup[] = "Tessel Library";

/// A fixed throw or trace location: the library source name and line it quotes.
struct SourceLine {
  const char* file;
  unsigned long line;
};

/// Raises an exception of class E by the library's throw convention: build it with the text,
/// id and severity, set the group, record the location with an empty function name, announce
/// it to tracing under `category`, and throw it by value as its own class.
template <class E>
[[noreturn]] void Raise(const char* text, SourceLine where, const TTrace::Category& category,
                        unsigned long errorId = 1,
                        TException::Severity severity = TException::recoverable) {
  E error(text, errorId, severity);
  error.setErrorCodeGroup(kErrorCodeGroup);
  error.addLocation(TExceptionLocation(where.file, "", where.line));
  error.Trace(category);
  // The convention throws the local object itself, as built above (a copy of it travels).
  throw error; // NOLINT(misc-throw-by-value-catch-by-reference)
}

} // namespace tavutil::detail

#endif // TAVUTIL_INTERNAL_RAISE_H
