// utility/internal/tracefile.h: the trace entries of a trace file name that was refused.
// Licensed under the Apache License, Version 2.0.
//
// Internal to the library; never installed. Both trace file outputs (the stream on a file and
// the shared trace file) open their names by the platform's rules for files given by name and
// report a refusal the same way.
#ifndef TAVUTIL_INTERNAL_TRACEFILE_H
#define TAVUTIL_INTERNAL_TRACEFILE_H

#include "internal/tracepoint.h"
#include "platform/platform.h"

namespace tavutil::detail {

/// The refusals of a trace file name that are traced: errors (level 4) of the Trace category,
/// with the name as given as their argument.
inline constexpr char kTraceFileSource[] = "utility/TRACEP";
inline constexpr unsigned long kTraceFileRefusedLevel = 0x4;
inline constexpr char kTraceFileIsLink[] = "Trace file %s is a symbolic link: not opened";
inline constexpr unsigned long kLineTraceFileIsLink = 1100;
inline constexpr char kTraceFileForeign[] = "Trace file %s is owned by another user: not opened";
inline constexpr unsigned long kLineTraceFileForeign = 1101;

/// Traces why the trace file `name` was not opened, for the refusals that have an entry: a
/// symbolic link the rules do not follow, a shared trace file of another user. Any other
/// result writes nothing (a file that cannot be opened is not reported). Throws
/// std::bad_alloc.
inline void TraceRefusedFile(platform::NamedFileResult result, const char* name) {
  if (result == platform::NamedFileResult::isLink) {
    TracePoint(kTraceFileRefusedLevel, TUtilityTraceCategory::Trace,
               SourceLine{kTraceFileSource, kLineTraceFileIsLink}, kTraceFileIsLink, name);
  } else if (result == platform::NamedFileResult::foreignOwner) {
    TracePoint(kTraceFileRefusedLevel, TUtilityTraceCategory::Trace,
               SourceLine{kTraceFileSource, kLineTraceFileForeign}, kTraceFileForeign, name);
  }
}

} // namespace tavutil::detail

#endif // TAVUTIL_INTERNAL_TRACEFILE_H
