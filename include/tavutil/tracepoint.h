// tavutil/tracepoint.h: trace points: TAVUTIL_TRACE, TAVUTIL_TRACE_AT and what they expand to.
// Licensed under the Apache License, Version 2.0.
//
// The trace model (tavutil/trace.h) only names TMessage; a trace point builds one, so the
// macros and their template live here, with the message and trace headers they need.
#ifndef TAVUTIL_TRACEPOINT_H
#define TAVUTIL_TRACEPOINT_H

#include <tavutil/message.h>
#include <tavutil/trace.h>

namespace tavutil::detail {

/// Builds a trace point's message without copying its format or source file; the macros
/// below are its only users.
class TraceSource {
public:
  /// A literal message of `format` and `arguments`, each made a TagVar in place, marked as
  /// made at `file` and `line`. The message borrows `format` (it lives for the entry; every
  /// copy of the message copies it), and it and its copies keep `file`, which must be text of
  /// static storage duration (a literal). Throws std::bad_alloc when memory runs out.
  template <class... Arguments>
  static TMessage Make(const char* format, const char* file, unsigned long line,
                       const Arguments&... arguments) {
    TMessage message(TMessage::Borrowed::text, format, arguments...);
    message.SetStaticDebugging(file, line);
    return message;
  }
};

/// The part of a trace point that runs once the masks let it through: builds the message of
/// `format` and `arguments` (at most seven, each made a TagVar), marks its source and offers
/// it to every live trace state. Throws std::bad_alloc when the message cannot be built.
template <class... Arguments>
void WriteTracePoint(unsigned long level, const TTrace::Category& category, const char* file,
                     unsigned long line, const char* format, const Arguments&... arguments) {
  static_assert(sizeof...(Arguments) <= 7, "a trace entry carries at most seven arguments");
  const TMessage message = TraceSource::Make(format, file, line, arguments...);
  TTrace::WriteEntry(level, category, message);
}

} // namespace tavutil::detail

/// A trace point at a given source: tests the global masks for `level` and the category's
/// component first, and evaluates the format and its arguments only when both let it through.
/// `file` must be a literal (the message keeps the pointer); `line` is any unsigned number.
/// Throws std::bad_alloc when the entry cannot be built; the outputs' failures are dropped.
#define TAVUTIL_TRACE_AT(level, category, file, line, ...)                                         \
  do {                                                                                             \
    const unsigned long tavutilTraceLevel_ = (level);                                              \
    const TTrace::Category& tavutilTraceCategory_ = (category);                                    \
    if (TTrace::IsGlobalTracing(tavutilTraceLevel_, tavutilTraceCategory_.QueryComponent())) {     \
      ::tavutil::detail::WriteTracePoint(tavutilTraceLevel_, tavutilTraceCategory_, (file),        \
                                         static_cast<unsigned long>(line), __VA_ARGS__);           \
    }                                                                                              \
  } while (false)

/// A trace point in the caller's source file and line, for programs that use the library (the
/// library's own trace points name their fixed source and line through TAVUTIL_TRACE_AT):
///
///   TAVUTIL_TRACE(0x4, kDiskCategory, "Disk %s is full (%d%%)", DiskName(), Percent());
///
/// When no live trace state takes `level` of the category's component, this costs two loads
/// and two tests: neither DiskName() nor Percent() runs. Throws std::bad_alloc when the entry
/// cannot be built; the outputs' failures are dropped.
#define TAVUTIL_TRACE(level, category, ...)                                                        \
  TAVUTIL_TRACE_AT(level, category, __FILE__, __LINE__, __VA_ARGS__)

#endif // TAVUTIL_TRACEPOINT_H
