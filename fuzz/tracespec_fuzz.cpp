// fuzz/tracespec_fuzz.cpp: parses arbitrary trace specifications.
// Licensed under the Apache License, Version 2.0.
//
// The input is one specification. Its fields are split and parsed on their own, and then the
// whole text, with its output field replaced by a factory output that writes nothing, goes
// through TTrace's constructor: no file is opened, no library loaded and nothing logged
// whatever the input names. Only TInvalidRequest may leave the parser, and the split fields
// must give back the text.
#include <tavutil/exception.h>
#include <tavutil/trace.h>
#include <tavutil/tracefactory.h>

#include "internal/tracespec.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

namespace {

/// A state that takes entries and writes them nowhere.
class NullState : public TTrace::Base {
public:
  void Write(unsigned long /*level*/, const TTrace::Category& /*category*/,
             const TMessage& /*message*/) override {}
};

class NullTrace : public TTrace {
public:
  NullTrace() : TTrace(new NullState) {}
};

class NullFactory : public TTraceFactory {
public:
  NullFactory() : TTraceFactory(TFactoryType("fuzznull")) {}
  TTrace CreateTrace(const char* /*argument*/) override { return NullTrace(); }
};

void Check(bool condition) {
  if (!condition) {
    std::abort();
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static NullFactory* const factory = [] {
    static_cast<void>(std::make_unique<TTraceFactoryLoader>().release());
    return new NullFactory;
  }();
  static_cast<void>(factory);

  // What a C string of these bytes holds: up to the first NUL.
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::string_view spec(bytes.c_str());
  using namespace tavutil::detail;

  const TraceSpecFields fields = SplitTraceSpecification(spec);
  std::string joined(fields.output);
  for (std::string_view field :
       {fields.levels, fields.components, fields.defaults, fields.categories}) {
    if (joined.size() < spec.size()) {
      joined += ',';
      joined += field;
    }
  }
  Check(joined == spec);

  const TraceSpecOutput output = SplitOutputField(fields.output);
  Check(output.name.size() + output.argument.size() <= fields.output.size());
  Check(fields.output.substr(0, output.name.size()) == output.name);

  try {
    static_cast<void>(ParseLevelField(fields.levels));
  } catch (const TInvalidRequest&) {
  }
  static_cast<void>(ParseComponentField(fields.components));
  try {
    static_cast<void>(ParseDefaultField(fields.defaults));
  } catch (const TInvalidRequest&) {
  }
  for (const TraceSpecSwitch& item : SplitCategoryField(fields.categories)) {
    Check(item.name.find_first_of("+-") == std::string_view::npos);
  }

  const std::size_t comma = spec.find(',');
  const std::string whole =
      "fuzznull" +
      (comma == std::string_view::npos ? std::string() : std::string(spec.substr(comma)));
  try {
    const TTrace trace(whole.c_str());
    Check(!trace.QueryPointer().IsNull());
  } catch (const TInvalidRequest&) {
  }
  return 0;
}
