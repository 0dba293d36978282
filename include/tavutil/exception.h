// tavutil/exception.h: TException, its nine subclasses, TExceptionLocation and the report.
// Licensed under the Apache License, Version 2.0.
//
// Every error the library reports to its caller is one of these classes, thrown by value.
// An exception carries up to five texts and five source locations; the oldest gives way.
// TTraceException turns a caught exception into a readable multi-line report.
#ifndef TAVUTIL_EXCEPTION_H
#define TAVUTIL_EXCEPTION_H

#include <cstdint>
#include <tavutil/config.h>
#include <tavutil/trace.h>
#include <tavutil/tstring.h>

/// A source location an exception passed: file, function and line. The two strings are
/// borrowed and must outlive every exception holding the location (string literals do).
class TAVUTIL_API TExceptionLocation {
public:
  /// Stores the three values (by default null pointers and line 0). Throws nothing.
  TExceptionLocation(const char* file = nullptr, const char* function = nullptr,
                     unsigned long line = 0) noexcept
      : fFile(file), fFunction(function), fLine(static_cast<std::uint32_t>(line)) {}

  /// The source file's path, as given. Throws nothing.
  const char* fileName() const noexcept { return fFile; }
  /// The function's name, as given (the library's own locations give ""). Throws nothing.
  const char* functionName() const noexcept { return fFunction; }
  /// The line number. Throws nothing.
  unsigned long lineNumber() const noexcept { return fLine; }

private:
  const char* fFile;
  const char* fFunction;
  std::uint32_t fLine;
};

/// The root of the library's exceptions: texts, a severity, an error id, an error-code group
/// and the locations the exception passed.
///
///   try { s.subString(0); }
///   catch (TException& e) {
///     e.appendText("while parsing").addLocation(TExceptionLocation("reader.cpp", "", 12));
///     e.Throw();                      // rethrows with its full dynamic type
///   }
///
/// The family reports no error of its own: out-of-range indexes give null, and a full ring
/// of texts or locations drops its oldest entry. Only memory can run out: the constructors,
/// appendText and setText copy their text into a new string and throw std::bad_alloc when it
/// cannot be had, leaving the object as it was. Copies share the texts.
/// The virtual members carry no noexcept, so that a derived class's overrides keep
/// compiling; their comments give what the library's classes do.
class TAVUTIL_API TException {
public:
  /// Only 1 is recoverable; the fixed width keeps any other value a valid (unrecoverable) one.
  enum Severity : std::int32_t {
    unrecoverable = 0, ///< any value but 1
    recoverable = 1    ///< the handler may go on
  };
  /// The most texts an exception holds; the oldest gives way.
  static constexpr unsigned kMaxTexts = 5;
  /// The most locations an exception holds; the oldest gives way.
  static constexpr unsigned kMaxLocations = 5;

  /// One text, no locations, no group. Throws std::bad_alloc when the text cannot be copied.
  TException(const char* text, unsigned long errorId, Severity severity);
  /// A copy that shares the texts. Throws nothing.
  TException(const TException& other) noexcept;
  /// Becomes a copy of `other`, sharing its texts. Throws nothing.
  TException& operator=(const TException& other) noexcept;
  /// Releases the texts. Throws nothing.
  virtual ~TException();

  /// Throws a copy of this object as its own dynamic class; never returns. Throws that copy
  /// always.
  [[noreturn]] virtual void Throw() const;
  /// 1 when the severity is `recoverable` (1), else 0. Throws nothing.
  virtual int isRecoverable() const;
  /// Records `location` as the newest; with five held, the oldest gives way. Returns the
  /// object. Throws nothing.
  virtual TException& addLocation(const TExceptionLocation& location);
  /// The class's name, for example "TInvalidRequest". Throws nothing.
  virtual const char* name() const;
  /// Does nothing in the library's classes; returns the object. Throws nothing.
  virtual TException& logExceptionData();
  /// Does nothing in the library's classes. Throws nothing.
  virtual void terminate();

  /// Stores the borrowed group name (null means "group unknown"); returns the object. Throws
  /// nothing.
  TException& setErrorCodeGroup(const char* group) noexcept;
  /// The group name, or null when none was set. Throws nothing.
  const char* errorCodeGroup() const noexcept { return fGroup; }
  /// Adds a text as the newest; with five held, the oldest gives way. Returns the object.
  /// Throws std::bad_alloc when the text cannot be copied; the exception is then unchanged.
  TException& appendText(const char* text);
  /// Makes `text` the only text; returns the object. Throws std::bad_alloc when the text
  /// cannot be copied; the exception is then unchanged.
  TException& setText(const char* text);
  /// The i-th text counted from the newest (0 is the newest); null when i >= textCount().
  /// Throws nothing.
  const char* text(unsigned long i) const noexcept;
  /// The number of texts held, 1 to 5. Throws nothing.
  unsigned long textCount() const noexcept { return fTextCount; }
  /// Stores the severity; returns the object. Throws nothing.
  TException& setSeverity(Severity severity) noexcept;
  /// Stores the error id; returns the object. Throws nothing.
  TException& setErrorId(unsigned long errorId) noexcept;
  /// The error id. Throws nothing.
  unsigned long errorId() const noexcept { return fErrorId; }
  /// The number of locations held, 0 to 5. Throws nothing.
  unsigned long locationCount() const noexcept { return fLocationCount; }
  /// The i-th location counted from the oldest (0 is the first recorded); null when
  /// i >= locationCount(). Throws nothing.
  const TExceptionLocation* locationAtIndex(unsigned long i) const noexcept;

  /// Tests whether tracing would take this exception under `category` (level 0x400); writes
  /// no entry and changes nothing. Throws nothing.
  void Trace(const TTrace::Category& category) const noexcept;
  /// The same as Trace. Throws nothing.
  void TraceRethrow(const TTrace::Category& category) const noexcept { Trace(category); }
  /// Does nothing. Throws nothing.
  static void assertParameter(const char* text, TExceptionLocation location) noexcept;

private:
  Severity fSeverity;
  std::uint32_t fErrorId;
  TExceptionLocation fLocations[kMaxLocations];
  std::uint32_t fLocationCount;
  std::uint32_t fTextCount;
  TString fTexts[kMaxTexts];
  const char* fGroup;
};

// Declares an exception class that adds nothing but its name and its own Throw(). Both
// arguments are class names, which parentheses would not allow. Each class has TException's
// constructor (throws std::bad_alloc when the text cannot be copied), a copy constructor and
// an assignment that share the texts and throw nothing, a destructor that throws nothing,
// name() giving the class's name (throws nothing) and Throw(), which throws a copy of the
// object as its own dynamic class.
// NOLINTBEGIN(bugprone-macro-parentheses)
#define TAVUTIL_DECLARE_EXCEPTION(Name, Base)                                                      \
  class TAVUTIL_API Name : public Base {                                                           \
  public:                                                                                          \
    Name(const char* text, unsigned long errorId, TException::Severity severity)                   \
        : Base(text, errorId, severity) {}                                                         \
    Name(const Name& other) noexcept = default;                                                    \
    Name& operator=(const Name& other) noexcept = default;                                         \
    ~Name() override;                                                                              \
    const char* name() const override;                                                             \
    [[noreturn]] void Throw() const override;                                                      \
  }
// NOLINTEND(bugprone-macro-parentheses)

/// A file, library or resource cannot be reached.
TAVUTIL_DECLARE_EXCEPTION(TAccessError, TException);
/// An internal check failed.
TAVUTIL_DECLARE_EXCEPTION(TAssertionFailure, TException);
/// A device reported an error.
TAVUTIL_DECLARE_EXCEPTION(TDeviceError, TException);
/// An argument is out of range.
TAVUTIL_DECLARE_EXCEPTION(TInvalidParameter, TException);
/// A request the object cannot serve in its state or with its arguments.
TAVUTIL_DECLARE_EXCEPTION(TInvalidRequest, TException);
/// A resource ran out.
TAVUTIL_DECLARE_EXCEPTION(TResourceExhausted, TException);
/// Memory ran out.
TAVUTIL_DECLARE_EXCEPTION(TOutOfMemory, TResourceExhausted);
/// A system resource ran out.
TAVUTIL_DECLARE_EXCEPTION(TOutOfSystemResource, TResourceExhausted);
/// A windowing resource ran out.
TAVUTIL_DECLARE_EXCEPTION(TOutOfWindowResource, TResourceExhausted);

#undef TAVUTIL_DECLARE_EXCEPTION

/// Formats any TException into one readable report, for a log, a trace entry or a dialog.
///
///   catch (const TException& e) {
///     std::fputs(TTraceException::FormatException(e), stderr);
///   }
///
/// The report names the class, group, id (decimal and hex) and severity on its first line,
/// then lists the texts newest first and the locations oldest first:
///
///   Exception TInvalidRequest, group Tessel Library, error ID: 1 (x1), recoverable
///   with the following text:
///     Bad index value for this String
///   at location:
///     [utility/TSTRING, 194]
///
/// A location's function name follows its "]" after one blank (so a location with an empty
/// function name, as the library's own have, ends in a blank; a null one adds nothing). Lines
/// end with a single '\n'; the report has no line end after its last line.
class TAVUTIL_API TTraceException {
public:
  /// The report of `exception`, a new narrow string. Changes nothing in the exception. Throws
  /// std::bad_alloc when the text cannot be allocated, std::length_error when it would pass
  /// 4 GiB.
  static TString FormatException(const TException& exception);

  /// Throws nothing.
  TTraceException() noexcept = default;
  /// Throws nothing.
  TTraceException(const TTraceException& /*other*/) noexcept = default;
  /// Does nothing: the class holds no data. Throws nothing.
  TTraceException& operator=(const TTraceException& /*other*/) noexcept { return *this; }
};

#endif // TAVUTIL_EXCEPTION_H
