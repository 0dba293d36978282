// utility/tdll.cpp: TDll, a loaded dynamic library and its string resources.
// Licensed under the Apache License, Version 2.0.
//
// Operating-system independent: loading and reading go through the platform layer.
#include <tavutil/message.h>
#include <tavutil/tdll.h>

#include "internal/raise.h"
#include "internal/tracepoint.h"
#include "platform/platform.h"

#include <string>

namespace {

using tavutil::detail::SourceLine;

constexpr char kSource[] = "utility/TDLL";
constexpr char kCannotOpen[] = // fixed: "GetLastError" on every platform
    "Unable to find or open %s, GetLastError=%u(x%2$08X)";
constexpr char kNotLoaded[] = "Dll not loaded";
constexpr char kLoadStringError[] = // fixed: "LoadString" on every platform
    "LoadString Error %d getting message %d from file %s";
constexpr char kNoMessage[] = "Error getting message";
constexpr unsigned long kLineCannotOpen = 60;
constexpr unsigned long kLineNotLoaded = 95;        // fixed: a quoted line, not this file's
constexpr unsigned long kLineLoadStringError = 101; // fixed: a quoted line, not this file's
constexpr unsigned long kLineNoMessage = 103;       // fixed: a quoted line, not this file's
constexpr unsigned long kErrorLevel = 0x4;
constexpr unsigned long kNoMessageId = 2;

/// Room for the longest string resource read, and its terminating zero.
constexpr std::size_t kMessageRoom = 257;

} // namespace

TDll::TDll(const char* file) : fOpen(0), fHandle(nullptr), fFile(file) {
  std::string reason;
  int error = 0;
  fHandle = tavutil::platform::OpenLibrary(file, reason, error);
  if (fHandle == nullptr) {
    TMessage text(kCannotOpen, TagVar(file), TagVar(static_cast<unsigned long>(error)));
    text.SetDebugging(kSource, kLineCannotOpen);
    tavutil::detail::Raise<TAccessError>(text, SourceLine{kSource, kLineCannotOpen},
                                         TUtilityTraceCategory::String);
  }
  fOpen = 1;
}

TDll::TDll(void* handle) noexcept : fOpen(1), fHandle(handle) {}

TString TDll::loadMessage(unsigned long id) const {
  if (!fOpen) {
    tavutil::detail::Raise<TAccessError>(kNotLoaded, SourceLine{kSource, kLineNotLoaded},
                                         TUtilityTraceCategory::String);
  }
  char16_t buffer[kMessageRoom];
  int error = 0;
  const std::size_t units =
      tavutil::platform::LoadStringResource(fHandle, id, buffer, kMessageRoom, error);
  if (units == 0) {
    // The name is passed as its text: this may run on several threads at once, and sharing
    // the TString would change its (plain) reference count from all of them.
    const char* file = fFile;
    tavutil::detail::TracePoint(kErrorLevel, TUtilityTraceCategory::String,
                                SourceLine{kSource, kLineLoadStringError}, kLoadStringError,
                                static_cast<long>(error), static_cast<long>(id), file);
    tavutil::detail::Raise<TAccessError>(kNoMessage, SourceLine{kSource, kLineNoMessage},
                                         TUtilityTraceCategory::String, kNoMessageId);
  }
  TString text(buffer, static_cast<unsigned int>(units * sizeof(char16_t)));
  text.SetUnicode(1);
  return text;
}
