// tests/tagvar_describe.h: a TagVar's tag and payload as text, for comparing values in tests.
// Licensed under the Apache License, Version 2.0.
#ifndef TAVUTIL_TESTS_TAGVAR_DESCRIBE_H
#define TAVUTIL_TESTS_TAGVAR_DESCRIBE_H

#include <tavutil/tagvar.h>

#include <cstdint>
#include <cstdio>
#include <string>

/// The tag number, ':' and the payload's value: integers in decimal, reals with 17
/// significant digits, a string's bytes ("<null>" for a null payload), a datetime's time and
/// zone, a pointer as a number. Other tags give the tag alone.
inline std::string Describe(const TagVar& v) {
  const std::string tag = std::to_string(v.QueryType()) + ":";
  switch (v.QueryType()) {
  case TagVar::integer:
    return tag + std::to_string(static_cast<long>(v));
  case TagVar::unsignedInteger:
    return tag + std::to_string(static_cast<unsigned long>(v));
  case TagVar::real: {
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", static_cast<double>(v));
    return tag + text;
  }
  case TagVar::string:
  case TagVar::wideString: {
    const TString* s = v.QueryString();
    return tag + (s == nullptr ? "<null>" : std::string(*s, s->length()));
  }
  case TagVar::datetime: {
    const TDateTime* when = v.QueryDateTime();
    return tag + (when == nullptr ? "<null>"
                                  : std::to_string(when->QueryTime()) + "/" +
                                        std::to_string(when->QueryTimeZone()));
  }
  case TagVar::voidptr:
    return tag + std::to_string(reinterpret_cast<std::uintptr_t>(v.QueryVoidPtr()));
  default:
    return tag;
  }
}

#endif // TAVUTIL_TESTS_TAGVAR_DESCRIBE_H
