// utility/internal/tracespec.h: the pieces of a trace specification, parsed without effects.
// Licensed under the Apache License, Version 2.0.
//
// Internal to the library; never installed. TTrace(const char*) splits the text, makes the
// output and then applies each field; the field parsers here touch no trace state, so they
// can be exercised on any input (the fuzz target does).
#ifndef TAVUTIL_INTERNAL_TRACESPEC_H
#define TAVUTIL_INTERNAL_TRACESPEC_H

#include <string_view>
#include <vector>

namespace tavutil::detail {

/// The five comma-separated fields of a specification; a missing field is empty.
struct TraceSpecFields {
  std::string_view output;
  std::string_view levels;
  std::string_view components;
  std::string_view defaults;
  std::string_view categories; ///< everything after the fourth comma, commas included
};

/// Splits `specification` at its first four commas. No field is trimmed.
TraceSpecFields SplitTraceSpecification(std::string_view specification) noexcept;

/// The output field's name and argument: NAME, or NAME(ARGUMENT) less one closing ')' at the
/// very end.
struct TraceSpecOutput {
  std::string_view name;
  std::string_view argument;
};
TraceSpecOutput SplitOutputField(std::string_view field) noexcept;

/// The level mask a non-empty level field gives. Throws TInvalidRequest "Unknown level
/// specified" or "Unknown level +- specified".
unsigned long ParseLevelField(std::string_view field);

/// The component mask a non-empty component field gives; unknown names count as 0.
/// Throws std::bad_alloc.
unsigned long ParseComponentField(std::string_view field);

/// The default tracing a non-empty default field gives. Throws TInvalidRequest "Invalid
/// default specified" unless the field is exactly "0" or "1".
int ParseDefaultField(std::string_view field);

/// One item of a category field: a name and whether it is switched on.
struct TraceSpecSwitch {
  std::string_view name;
  bool on;
};
/// The items of a non-empty category field, in order. Throws std::bad_alloc.
std::vector<TraceSpecSwitch> SplitCategoryField(std::string_view field);

} // namespace tavutil::detail

#endif // TAVUTIL_INTERNAL_TRACESPEC_H
