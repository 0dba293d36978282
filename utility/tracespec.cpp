// utility/tracespec.cpp: TTrace(const char*), a trace handle configured by one line of text.
// Licensed under the Apache License, Version 2.0.
//
// Operating-system independent. The text is split into its fields first; the output is made
// next, and each remaining field is parsed and applied in turn, so a malformed field throws
// after the output exists and the handle being built releases it.
#include <tavutil/message.h>
#include <tavutil/trace.h>
#include <tavutil/tracefactory.h>
#include <tavutil/tracesharedfile.h>
#include <tavutil/tracestream.h>

#include "internal/ascii.h"
#include "internal/raise.h"
#include "internal/scopedlock.h"
#include "internal/tracepoint.h"
#include "internal/tracespec.h"
#include "internal/tracesystemlog.h"
#include "platform/platform.h"

#include <cctype>
#include <cstdint>
#include <iostream>
#include <memory>
#include <string>

namespace {

/// The source name that the parser's throw sites and trace points quote.
constexpr const char* kSource = "utility/TRACEP"; // fixed: the trace model's source name

constexpr const char* kUnknownLevel = "Unknown level specified";
constexpr unsigned long kLineUnknownLevel = 465; // fixed: a quoted line, not this file's
constexpr const char* kUnknownLevelSign = "Unknown level +- specified";
constexpr unsigned long kLineUnknownLevelSign = 474; // fixed: a quoted line, not this file's
constexpr const char* kInvalidDefault = "Invalid default specified";
constexpr unsigned long kLineInvalidDefault = 510; // fixed: a quoted line, not this file's

/// A level code and the mask it names.
struct LevelCode {
  char code[3];
  std::uint32_t mask;
};

/// The level codes, in the order they are tried.
constexpr LevelCode kLevelCodes[] = {
    {"ou", 0x1},   {"se", 0x2},      {"er", 0x4},    {"wa", 0x8},   {"in", 0x10},   {"i2", 0x20},
    {"nl", 0x80},  {"de", 0x3700},   {"d1", 0x100},  {"d2", 0x200}, {"en", 0x1000}, {"ex", 0x2000},
    {"xc", 0x400}, {"tr", 0x100000}, {"al", 0x373F}, {"no", 0}};

/// The mask of the two characters at `at`, or false when they are no code.
bool FindLevelCode(std::string_view field, std::size_t at, std::uint32_t& mask) noexcept {
  using tavutil::detail::AsciiLower;
  if (field.size() - at < 2) {
    return false;
  }
  for (const LevelCode& entry : kLevelCodes) {
    if (AsciiLower(static_cast<unsigned char>(field[at])) ==
            static_cast<unsigned char>(entry.code[0]) &&
        AsciiLower(static_cast<unsigned char>(field[at + 1])) ==
            static_cast<unsigned char>(entry.code[1])) {
      mask = entry.mask;
      return true;
    }
  }
  return false;
}

/// The position of the next '+' or '-' from `from`, or npos.
std::size_t NextSign(std::string_view field, std::size_t from) noexcept {
  return field.find_first_of("+-", from);
}

} // namespace

namespace tavutil::detail {

TraceSpecFields SplitTraceSpecification(std::string_view specification) noexcept {
  TraceSpecFields result;
  std::string_view* order[4] = {&result.output, &result.levels, &result.components,
                                &result.defaults};
  std::string_view rest = specification;
  for (std::string_view* field : order) {
    const std::size_t comma = rest.find(',');
    if (comma == std::string_view::npos) {
      *field = rest;
      return result;
    }
    *field = rest.substr(0, comma);
    rest.remove_prefix(comma + 1);
  }
  result.categories = rest;
  return result;
}

TraceSpecOutput SplitOutputField(std::string_view field) noexcept {
  const std::size_t open = field.find('(');
  if (open == std::string_view::npos) {
    return TraceSpecOutput{field, std::string_view()};
  }
  std::string_view argument = field.substr(open + 1);
  if (!argument.empty() && argument.back() == ')') {
    argument.remove_suffix(1);
  }
  return TraceSpecOutput{field.substr(0, open), argument};
}

unsigned long ParseLevelField(std::string_view field) {
  std::uint32_t mask = 0;
  std::size_t at = 0;
  while (at < field.size()) {
    std::uint32_t code = 0;
    if (!FindLevelCode(field, at, code)) {
      Raise<TInvalidRequest>(kUnknownLevel, SourceLine{kSource, kLineUnknownLevel},
                             TUtilityTraceCategory::Trace);
    }
    at += 2;
    if (at == field.size()) {
      mask |= code;
      break;
    }
    const char sign = field[at];
    if (sign == '+') {
      mask |= code;
    } else if (sign == '-') {
      mask &= ~code; // the sign after a code applies to that code
    } else if (std::isspace(static_cast<unsigned char>(sign)) != 0) {
      mask |= code;
      break; // a blank ends the field; the rest is ignored
    } else {
      Raise<TInvalidRequest>(kUnknownLevelSign, SourceLine{kSource, kLineUnknownLevelSign},
                             TUtilityTraceCategory::Trace);
    }
    ++at;
  }
  return mask;
}

unsigned long ParseComponentField(std::string_view field) {
  std::uint32_t mask = 0;
  std::size_t at = 0;
  while (at < field.size()) {
    const std::size_t sign = NextSign(field, at);
    const std::string_view name = field.substr(at, sign - at);
    const auto bits = static_cast<std::uint32_t>(
        TTrace::QueryComponentFromName(TString(name.data(), static_cast<unsigned>(name.size()))));
    if (sign == std::string_view::npos || field[sign] == '+') {
      mask |= bits;
    } else {
      mask &= ~bits;
    }
    if (sign == std::string_view::npos) {
      break;
    }
    at = sign + 1;
  }
  return mask;
}

int ParseDefaultField(std::string_view field) {
  if (field == "0" || field == "1") {
    return field[0] - '0';
  }
  Raise<TInvalidRequest>(kInvalidDefault, SourceLine{kSource, kLineInvalidDefault},
                         TUtilityTraceCategory::Trace);
}

std::vector<TraceSpecSwitch> SplitCategoryField(std::string_view field) {
  std::vector<TraceSpecSwitch> switches;
  std::size_t at = 0;
  while (at < field.size()) {
    const std::size_t sign = NextSign(field, at);
    const bool on = sign == std::string_view::npos || field[sign] == '+';
    switches.push_back(TraceSpecSwitch{field.substr(at, sign - at), on});
    if (sign == std::string_view::npos) {
      break;
    }
    at = sign + 1;
  }
  return switches;
}

} // namespace tavutil::detail

namespace {

using tavutil::detail::SourceLine;
using tavutil::detail::TracePoint;

constexpr const char* kNoDot = "Unable to find '.', using %s.log for file";
constexpr unsigned long kLineNoDot = 431; // fixed: a quoted line, not this file's
constexpr const char* kNoTraceFactory = "Unable to load trace factory %s";
constexpr unsigned long kLineNoTraceFactory = 452; // fixed: a quoted line, not this file's
constexpr const char* kNoCategory = "Trace category %s not found";
constexpr unsigned long kLineNoCategory = 535; // fixed: a quoted line, not this file's

/// The identity of a "pm" output given without one.
constexpr const char* kDefaultIdent = "Trace";

/// Whether `name` is `expected` without regard to case.
bool NameIs(std::string_view name, const char* expected) noexcept {
  return name.size() == std::char_traits<char>::length(expected) &&
         tavutil::detail::StrNICmp(name.data(), expected, name.size()) == 0;
}

/// The executable's path with its extension replaced by ".log"; false when the path cannot
/// be read. Only the file part's last '.' counts: a dot in a directory name is no extension.
bool DefaultLogName(std::string& name) {
  if (!tavutil::platform::ExecutablePath(name)) {
    return false;
  }
  const std::size_t slash = name.find_last_of("/\\");
  const std::size_t dot = name.rfind('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
    name.erase(dot);
  } else {
    TracePoint(0x8, TUtilityTraceCategory::Trace, SourceLine{kSource, kLineNoDot}, kNoDot,
               name.c_str());
  }
  name += ".log";
  return true;
}

/// The trace factory loader, made on first use; the library never deletes it.
TFactoryLoader<TTraceFactory>* TraceFactoryLoader() {
  if (TFactoryLoader<TTraceFactory>* loader = TTraceFactory::GetLoaderInstance()) {
    return loader;
  }
  // The trace mutex keeps two specifications on two threads from making two loaders.
  const tavutil::detail::ScopedLock lock(TTrace::Base::fsMutex);
  if (TFactoryLoader<TTraceFactory>* loader = TTraceFactory::GetLoaderInstance()) {
    return loader;
  }
  try {
    return std::make_unique<TTraceFactoryLoader>().release(); // it is the instance now
  } catch (const TInvalidRequest&) {
    return TTraceFactory::GetLoaderInstance(); // the program made one meanwhile
  }
}

/// A handle on the output that the output field names, or an empty handle.
TTrace CreateOutput(const tavutil::detail::TraceSpecOutput& output) {
  const std::string argument(output.argument);
  if (NameIs(output.name, "stdout") || NameIs(output.name, "stderr")) {
    TTraceStream stream(NameIs(output.name, "stdout") ? std::cout : std::cerr);
    stream.SetDisplayPrefix(0);
    return stream;
  }
  if (NameIs(output.name, "shfile") || NameIs(output.name, "file")) {
    std::string file = argument;
    if (file.empty() && !DefaultLogName(file)) {
      return TTrace();
    }
    if (NameIs(output.name, "file")) {
      return TTraceStream(file.c_str());
    }
    return TTraceSharedFile(file.c_str());
  }
  if (NameIs(output.name, "pm")) {
    return tavutil::detail::MakeSystemLogTrace(argument.empty() ? kDefaultIdent : argument.c_str());
  }
  const std::string name(output.name);
  TTraceFactory* factory = nullptr;
  if (TFactoryLoader<TTraceFactory>* loader = TraceFactoryLoader()) {
    factory = loader->Find(TFactoryType(name.c_str()));
  }
  if (factory == nullptr) {
    TracePoint(0x4, TUtilityTraceCategory::Trace, SourceLine{kSource, kLineNoTraceFactory},
               kNoTraceFactory, name.c_str());
    return TTrace();
  }
  return factory->CreateTrace(argument.c_str());
}

} // namespace

TTrace::TTrace(const char* specification) {
  if (specification == nullptr || *specification == '\0') {
    return;
  }
  using namespace tavutil::detail;
  const TraceSpecFields fields = SplitTraceSpecification(specification);
  // From here on a throw destroys fPointer, which releases the output made below.
  fPointer = CreateOutput(SplitOutputField(fields.output)).QueryPointer();
  if (fPointer.IsNull()) {
    return;
  }
  if (!fields.levels.empty()) {
    SetLevel(ParseLevelField(fields.levels));
  }
  if (!fields.components.empty()) {
    SetComponent(ParseComponentField(fields.components));
  }
  if (!fields.defaults.empty()) {
    SetDefaultTracing(ParseDefaultField(fields.defaults));
  }
  if (!fields.categories.empty()) {
    for (const TraceSpecSwitch& item : SplitCategoryField(fields.categories)) {
      const std::string name(item.name);
      if (const Category* category = FindCategory(TString(name.c_str()))) {
        AddCategory(*category, item.on ? 1 : 0);
      } else {
        TracePoint(0x8, TUtilityTraceCategory::Trace, SourceLine{kSource, kLineNoCategory},
                   kNoCategory, name.c_str());
      }
    }
  }
}
