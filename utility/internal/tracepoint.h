// utility/internal/tracepoint.h: the one routine by which library code writes a trace entry.
// Licensed under the Apache License, Version 2.0.
//
// Internal to the library; never installed.
#ifndef TAVUTIL_INTERNAL_TRACEPOINT_H
#define TAVUTIL_INTERNAL_TRACEPOINT_H

#include <tavutil/tracepoint.h>

#include "internal/raise.h"

namespace tavutil::detail {

/// Writes one entry by the trace-point convention: test the global masks for `level` and the
/// category's component (two loads, two tests; nothing more when either is off), then build
/// a literal message of `format` and `arguments` (at most seven) carrying `where` as its
/// source, and offer it to every live trace state. The arguments are evaluated by the caller
/// whatever the masks say: where one costs more than naming a variable, use TAVUTIL_TRACE_AT.
/// `where.file` is a literal, kept by pointer.
template <class... Arguments>
void TracePoint(unsigned long level, const TTrace::Category& category, SourceLine where,
                const char* format, const Arguments&... arguments) {
  if (TTrace::IsGlobalTracing(level, category.QueryComponent())) {
    WriteTracePoint(level, category, where.file, where.line, format, arguments...);
  }
}

/// TracePoint for code that never throws (operating-system wrappers, stream buffers,
/// destructors, thread handlers): an entry that cannot be built or written is dropped.
template <class... Arguments>
void TracePointNoThrow(unsigned long level, const TTrace::Category& category, SourceLine where,
                       const char* format, const Arguments&... arguments) noexcept {
  try {
    TracePoint(level, category, where, format, arguments...);
  } catch (...) {
  }
}

} // namespace tavutil::detail

#endif // TAVUTIL_INTERNAL_TRACEPOINT_H
