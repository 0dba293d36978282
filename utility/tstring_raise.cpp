// utility/tstring_raise.cpp: the throw routine of the string family.
// Licensed under the Apache License, Version 2.0.
//
// Operating-system independent. The string code raises through this one routine, so that it
// needs neither the exception nor the trace headers.
#include <tavutil/exception.h>
#include <tavutil/trace.h>

#include "internal/raise.h"
#include "internal/stringerror.h"

namespace {

constexpr char kSource[] = "utility/TSTRING";

} // namespace

void tavutil::detail::RaiseStringError(const char* text, unsigned long line) {
  Raise<TInvalidRequest>(text, SourceLine{kSource, line}, TUtilityTraceCategory::String);
}
