// utility/exception.cpp: TException, its nine subclasses and the exception report.
// Licensed under the Apache License, Version 2.0.
//
// Operating-system independent. Texts and locations are kept in two rings of five slots,
// oldest first; a full ring drops its oldest entry.
#include <tavutil/exception.h>

#include <charconv>
#include <limits>
#include <stdexcept>
#include <string>

namespace {

/// The trace level of exceptions.
constexpr unsigned long kExceptionLevel = 0x400;

/// Appends to a five-slot array kept oldest first; when full the oldest slot gives way.
template <class T, unsigned N>
void PushNewest(T (&slots)[N], std::uint32_t& count, const T& value) {
  if (count < N) {
    slots[count++] = value;
    return;
  }
  for (unsigned i = 1; i < N; ++i) {
    slots[i - 1] = slots[i];
  }
  slots[N - 1] = value;
}

} // namespace

TException::TException(const char* text, unsigned long errorId, Severity severity)
    : fSeverity(severity), fErrorId(static_cast<std::uint32_t>(errorId)), fLocationCount(0),
      fTextCount(1), fGroup(nullptr) {
  fTexts[0] = TString(text);
}

TException::TException(const TException& other) noexcept = default;
// The defaulted assignment walks the arrays with names of the compiler's own; lint sees those.
// NOLINTNEXTLINE(bugprone-reserved-identifier)
TException& TException::operator=(const TException& other) noexcept = default;
TException::~TException() = default;

void TException::Throw() const {
  throw TException(*this);
}

int TException::isRecoverable() const {
  return fSeverity == recoverable ? 1 : 0;
}

TException& TException::addLocation(const TExceptionLocation& location) {
  PushNewest(fLocations, fLocationCount, location);
  return *this;
}

const char* TException::name() const {
  return "TException";
}

TException& TException::logExceptionData() {
  return *this;
}

void TException::terminate() {}

TException& TException::setErrorCodeGroup(const char* group) noexcept {
  fGroup = group;
  return *this;
}

TException& TException::appendText(const char* text) {
  PushNewest(fTexts, fTextCount, TString(text));
  return *this;
}

TException& TException::setText(const char* text) {
  fTexts[0] = TString(text);
  fTextCount = 1;
  return *this;
}

const char* TException::text(unsigned long i) const noexcept {
  return i < fTextCount ? static_cast<const char*>(fTexts[fTextCount - 1 - i]) : nullptr;
}

TException& TException::setSeverity(Severity severity) noexcept {
  fSeverity = severity;
  return *this;
}

TException& TException::setErrorId(unsigned long errorId) noexcept {
  fErrorId = static_cast<std::uint32_t>(errorId);
  return *this;
}

const TExceptionLocation* TException::locationAtIndex(unsigned long i) const noexcept {
  return i < fLocationCount ? &fLocations[i] : nullptr;
}

// A member by the published interface, although it reads nothing of the object.
// NOLINTNEXTLINE(readability-convert-member-functions-to-static)
void TException::Trace(const TTrace::Category& category) const noexcept {
  // Only asks whether some live state would take the exception; no entry is written.
  const unsigned long component = category.QueryComponent();
  if (TTrace::IsGlobalTracing(kExceptionLevel, component)) {
    static_cast<void>(TTrace::IsGlobalTracing(kExceptionLevel, component, category));
  }
}

void TException::assertParameter(const char* /*text*/, TExceptionLocation /*location*/) noexcept {}

// Each subclass adds only its name and a Throw() that throws its own class.
#define TAVUTIL_DEFINE_EXCEPTION(Name)                                                             \
  Name::~Name() = default;                                                                         \
  const char* Name::name() const {                                                                 \
    return #Name;                                                                                  \
  }                                                                                                \
  void Name::Throw() const {                                                                       \
    throw Name(*this);                                                                             \
  }

TAVUTIL_DEFINE_EXCEPTION(TAccessError)
TAVUTIL_DEFINE_EXCEPTION(TAssertionFailure)
TAVUTIL_DEFINE_EXCEPTION(TDeviceError)
TAVUTIL_DEFINE_EXCEPTION(TInvalidParameter)
TAVUTIL_DEFINE_EXCEPTION(TInvalidRequest)
TAVUTIL_DEFINE_EXCEPTION(TResourceExhausted)
TAVUTIL_DEFINE_EXCEPTION(TOutOfMemory)
TAVUTIL_DEFINE_EXCEPTION(TOutOfSystemResource)
TAVUTIL_DEFINE_EXCEPTION(TOutOfWindowResource)

#undef TAVUTIL_DEFINE_EXCEPTION

// --------------------------------------------------------------- the report ----

namespace {

/// Appends `value` in decimal (base 10) or lower-case hexadecimal (base 16), no leading zeros.
void AppendNumber(std::string& out, unsigned long value, int base) {
  char digits[24];
  const std::to_chars_result end = std::to_chars(digits, digits + sizeof digits, value, base);
  out.append(digits, end.ptr);
}

/// Appends a text the exception borrows; a null pointer adds nothing.
void AppendText(std::string& out, const char* text) {
  if (text != nullptr) {
    out += text;
  }
}

} // namespace

TString TTraceException::FormatException(const TException& exception) {
  std::string report;
  report.reserve(256);
  report += "Exception ";
  AppendText(report, exception.name());
  const char* group = exception.errorCodeGroup();
  report += ", group ";
  report += group != nullptr ? group : "unknown";
  report += ", error ID: ";
  AppendNumber(report, exception.errorId(), 10);
  report += " (x";
  AppendNumber(report, exception.errorId(), 16);
  report += exception.isRecoverable() ? "), recoverable\n" : "), unrecoverable\n";
  report += "with the following text:";
  for (unsigned long i = 0; i < exception.textCount(); ++i) {
    if (const char* text = exception.text(i)) {
      report += "\n  ";
      report += text;
    }
  }
  report += "\nat location:";
  for (unsigned long i = 0; i < exception.locationCount(); ++i) {
    const TExceptionLocation* location = exception.locationAtIndex(i);
    if (location == nullptr) {
      continue;
    }
    report += "\n  [";
    AppendText(report, location->fileName());
    report += ", ";
    AppendNumber(report, location->lineNumber(), 10);
    report += ']';
    if (const char* function = location->functionName()) {
      report += ' ';
      report += function;
    }
  }
  if (report.size() > std::numeric_limits<unsigned int>::max()) {
    throw std::length_error("exception report longer than a TString holds");
  }
  return TString(report.data(), static_cast<unsigned int>(report.size()));
}
