// utility/msgstrpm.cpp: TMessageStorePM, the message store of a language resource library.
// Licensed under the Apache License, Version 2.0.
//
// Operating-system independent: the library is found by TSearchNLSPath and read by TDll.
#include <tavutil/exception.h>
#include <tavutil/msgstrpm.h>
#include <tavutil/nlsresrc.h>

#include "internal/tracepoint.h"

#include <string>

namespace {

using tavutil::detail::SourceLine;

constexpr char kSource[] = "utility/MSGSTRPM";
constexpr char kLangIsC[] = // fixed: the system's punctuation
    "LANG is \"C\" using default messages for Message Store %s";
constexpr char kFindFailed[] =
    "For message store %s, could not find DLL %s, %s(%s,%u,%u), Using C locale";
constexpr char kFindFailedUnknown[] =
    "For message store %s, could not find DLL %s, unknown exception, Using C locale";
constexpr char kNotFound[] = // fixed: ". Using" where the others have ", Using"
    "For message store %s, could not find DLL %s. Using C locale";
constexpr char kLoadFailed[] =
    "For message store %s, could not load DLL %s, %s(%s,%u,%u), Using C locale";
constexpr char kLoadFailedUnknown[] =
    "For message store %s, could not load DLL %s, unknown exception, Using C locale";
constexpr char kLoaded[] = "For message store %s, loaded DLL %s";
constexpr char kNoMessage[] =
    "Could not find message (%s,%u), %s(%s,x%08X,%u), Using default message";
constexpr char kNoMessageUnknown[] =
    "Could not find message (%s,%u,%u), unknown exception, Using default message";
constexpr unsigned long kLineLangIsC = 52;
constexpr unsigned long kLineFindFailed = 66;
constexpr unsigned long kLineFindFailedUnknown = 71;
constexpr unsigned long kLineLoadFailed = 84;
constexpr unsigned long kLineLoadFailedUnknown = 89;
constexpr unsigned long kLineLoaded = 93;
constexpr unsigned long kLineNotFound = 98;
constexpr unsigned long kLineNoMessage = 126;        // fixed: a quoted line, not this file's
constexpr unsigned long kLineNoMessageUnknown = 131; // fixed: a quoted line, not this file's
constexpr unsigned long kSearchLevel = 0x10;
constexpr unsigned long kWarningLevel = 0x8;

/// Writes a diagnostic of the store under the Message category.
struct Tracer {
  template <class... Arguments>
  void operator()(unsigned long level, unsigned long line, const char* format,
                  const Arguments&... arguments) const {
    tavutil::detail::TracePoint(level, TUtilityTraceCategory::Message, SourceLine{kSource, line},
                                format, arguments...);
  }
};

/// The same for GetMsg, which throws nothing: an entry that cannot be made is dropped.
struct NoThrowTracer {
  template <class... Arguments>
  void operator()(unsigned long level, unsigned long line, const char* format,
                  const Arguments&... arguments) const noexcept {
    tavutil::detail::TracePointNoThrow(level, TUtilityTraceCategory::Message,
                                       SourceLine{kSource, line}, format, arguments...);
  }
};

constexpr Tracer Trace;
constexpr NoThrowTracer TraceNoThrow;

/// The text an exception was raised with (its oldest), or an empty text.
const char* FirstText(const TException& e) {
  const char* text = e.textCount() > 0 ? e.text(e.textCount() - 1) : nullptr;
  return text != nullptr ? text : "";
}

/// The exception's name, first text, error id and recoverable flag, as the diagnostics show
/// them, after the `leading` arguments; written by `trace` (Trace or TraceNoThrow).
template <class Writer, class... Leading>
void TraceException(const Writer& trace, unsigned long line, const char* format,
                    const TException& e, const Leading&... leading) {
  trace(kWarningLevel, line, format, leading..., e.name(), FirstText(e), e.errorId(),
        static_cast<unsigned long>(e.isRecoverable()));
}

} // namespace

TMessageStorePM::TMessageStorePM(const TMessage::StoreID& store, const char* dllName)
    : TMessageStore(store), fDllName(dllName) {
  // Diagnostics quote the store's name by its text: its buffer is compared by lookups on
  // other threads, so no handle may share it.
  const char* name = QueryStoreID();
  if (TSearchNLSPath::QueryLang().IsEqual(TSearchNLSPath::fsLang_C)) {
    Trace(kSearchLevel, kLineLangIsC, kLangIsC, name);
    return;
  }
  std::string path;
  try {
    TSearchNLSPath search(dllName);
    const char* found = search.FindFile();
    path = found != nullptr ? found : "";
  } catch (const TException& e) {
    TraceException(Trace, kLineFindFailed, kFindFailed, e, name, dllName);
    return;
  } catch (...) {
    Trace(kWarningLevel, kLineFindFailedUnknown, kFindFailedUnknown, name, dllName);
    return;
  }
  if (path.empty()) {
    Trace(kWarningLevel, kLineNotFound, kNotFound, name, dllName);
    return;
  }
  try {
    fDll = std::make_unique<TDll>(path.c_str());
  } catch (const TException& e) {
    TraceException(Trace, kLineLoadFailed, kLoadFailed, e, name, dllName);
    return;
  } catch (...) {
    Trace(kWarningLevel, kLineLoadFailedUnknown, kLoadFailedUnknown, name, dllName);
    return;
  }
  Trace(kSearchLevel, kLineLoaded, kLoaded, name, path.c_str());
}

TMessageStorePM::TMessageStorePM(const TMessage::StoreID& store, const TDll& dll)
    : TMessageStore(store), fDll(std::make_unique<TDll>(dll)) {}

TMessageStorePM::~TMessageStorePM() = default;

TString* TMessageStorePM::GetMsg(long setId, long messageId) {
  if (fDll == nullptr) {
    return nullptr;
  }
  const char* name = QueryStoreID();
  try {
    return std::make_unique<TString>(fDll->loadMessage(static_cast<unsigned long>(messageId)))
        .release();
  } catch (const TException& e) {
    TraceException(TraceNoThrow, kLineNoMessage, kNoMessage, e, name, messageId);
  } catch (...) {
    TraceNoThrow(kWarningLevel, kLineNoMessageUnknown, kNoMessageUnknown, name, setId, messageId);
  }
  return nullptr;
}
