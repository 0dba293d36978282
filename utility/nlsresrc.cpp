// utility/nlsresrc.cpp: the language search path, and resource libraries found along it.
// Licensed under the Apache License, Version 2.0.
//
// Operating-system independent: file tests, the program's path and the system's library
// search go through the platform layer. The static members are defined in utility/startup.cpp.
#include <tavutil/message.h>
#include <tavutil/nlsresrc.h>

#include "internal/ascii.h"
#include "internal/raise.h"
#include "internal/tracepoint.h"
#include "platform/platform.h"

#include <cstring>
#include <mutex>
#include <string>
#include <string_view>

namespace {

using tavutil::detail::SourceLine;

constexpr char kSource[] = "utility/NLSRESRC";
constexpr char kTryingDefault[] = "Locale is C, trying locale %s to find file %s";
constexpr char kNoExeDirectory[] = "Unable to find directory of EXE, using \".\" for %%E";
constexpr char kFound[] = "Found file %s";
constexpr char kNotFoundWithLang[] = "Unable to find file %s with LANG %s in path %s";
constexpr char kNotFound[] = "Unable to find file %s";
constexpr char kCannotOpen[] = "Unable to find or open %s";
constexpr unsigned long kLineTryingDefault = 120;
constexpr unsigned long kLineNotFound = 131;
constexpr unsigned long kLineNoExeDirectory = 168;
constexpr unsigned long kLineFound = 214;
constexpr unsigned long kLineNotFoundWithLang = 219;
constexpr unsigned long kLineCannotOpen = 290; // fixed: a quoted line, not this file's
constexpr unsigned long kSearchLevel = 0x10;
constexpr unsigned long kWarningLevel = 0x8;

/// Guards fsLang and fsNLSpath. Their TStrings are only ever copied by text under it, so no
/// thread shares a buffer (whose reference count is a plain integer) with another.
std::mutex gSettingsLock;

/// A private copy of a TString's text (empty without a buffer).
std::string Text(const TString& string) {
  const char* text = string;
  return text != nullptr ? std::string(text, string.length()) : std::string();
}

/// A new TString holding `text`, sharing nothing.
TString Copy(const std::string& text) {
  return TString(text.data(), static_cast<unsigned int>(text.size()));
}

/// The file name searched for: the base name, with the platform's library suffix when its
/// file part has no '.'.
std::string FileName(const std::string& base) {
  const std::size_t slash = base.find_last_of("/\\");
  const std::size_t filePart = slash == std::string::npos ? 0 : slash + 1;
  return base.find('.', filePart) == std::string::npos ? base + tavutil::platform::LibrarySuffix()
                                                       : base;
}

/// The directory of the running program, without a trailing separator: false when the
/// program's path cannot be had (then %E stands for nothing).
bool ExecutableDirectory(std::string& directory) {
  std::string path;
  if (!tavutil::platform::ExecutablePath(path)) {
    return false;
  }
  const std::size_t slash = path.find_last_of("/\\");
  if (slash == std::string::npos) {
    tavutil::detail::TracePoint(kWarningLevel, TUtilityTraceCategory::NLSResource,
                                SourceLine{kSource, kLineNoExeDirectory}, kNoExeDirectory);
    directory = ".";
  } else {
    directory = path.substr(0, slash);
  }
  return true;
}

/// One element of the path with every %E, %L and %N replaced in a single pass (a replacement
/// is never scanned again, so a directory whose name holds "%L" stays as it is), and every
/// '\' made '/': both separate directories.
std::string Candidate(std::string_view element, std::string_view executable, std::string_view lang,
                      std::string_view file) {
  std::string out;
  for (std::size_t i = 0; i < element.size(); ++i) {
    const char next = i + 1 < element.size() ? element[i + 1] : '\0';
    if (element[i] == '%' && (next == 'E' || next == 'L' || next == 'N')) {
      out += next == 'E' ? executable : next == 'L' ? lang : file;
      ++i;
    } else {
      out += element[i];
    }
  }
  for (char& c : out) {
    if (c == '\\') {
      c = '/';
    }
  }
  return out;
}

/// Whether `path` is an existing regular file (a directory of that name is passed over).
bool IsFile(const std::string& path) {
  return tavutil::platform::QueryPathKind(path.c_str()) == tavutil::platform::PathKind::file;
}

} // namespace

TSearchNLSPath::TSearchNLSPath(const char* name) : fName(name) {}

TSearchNLSPath::TSearchNLSPath(const TString& name) noexcept : fName(name) {}

TSearchNLSPath::TSearchNLSPath(const TSearchNLSPath& other)
    : fName(other.fName),
      fFound(other.fFound != nullptr ? std::make_unique<TString>(*other.fFound) : nullptr) {}

TSearchNLSPath& TSearchNLSPath::operator=(const TSearchNLSPath& other) {
  if (this != &other) {
    fFound = other.fFound != nullptr ? std::make_unique<TString>(*other.fFound) : nullptr;
    fName = other.fName;
  }
  return *this;
}

TSearchNLSPath::~TSearchNLSPath() = default;

char* TSearchNLSPath::FindFile() {
  if (fFound != nullptr) {
    return *fFound;
  }
  std::string lang;
  {
    const std::lock_guard<std::mutex> lock(gSettingsLock);
    lang = Text(fsLang);
  }
  const std::string name = Text(fName);
  char* found = FindFile(Copy(lang));
  if (found == nullptr && lang == Text(fsLang_C)) {
    const std::string fallback = Text(fsDefaultLocale);
    tavutil::detail::TracePoint(kSearchLevel, TUtilityTraceCategory::NLSResource,
                                SourceLine{kSource, kLineTryingDefault}, kTryingDefault,
                                fallback.c_str(), name.c_str());
    found = FindFile(Copy(fallback));
  }
  if (found == nullptr) {
    found = FindInPath();
  }
  if (found == nullptr) {
    TMessage text(kNotFound, TagVar(name.c_str()));
    text.SetDebugging(kSource, kLineNotFound);
    tavutil::detail::Raise<TAccessError>(text, SourceLine{kSource, kLineNotFound},
                                         TUtilityTraceCategory::NLSResource);
  }
  return found;
}

char* TSearchNLSPath::FindFile(const TString& lang) {
  if (fFound != nullptr) {
    return *fFound;
  }
  std::string path;
  {
    const std::lock_guard<std::mutex> lock(gSettingsLock);
    path = Text(fsNLSpath);
  }
  const std::string language = Text(lang);
  // A language with a code set ("de_DE.1252") also names a directory and a subdirectory.
  std::string split = language;
  const std::size_t dot = split.find('.');
  if (dot != std::string::npos) {
    split[dot] = '/';
  }
  const std::string file = FileName(Text(fName));
  std::string executable;
  ExecutableDirectory(executable);

  std::string found;
  for (std::size_t start = 0; start < path.size() && found.empty();) {
    std::size_t end = path.find(';', start);
    end = end == std::string::npos ? path.size() : end;
    const std::string_view element(path.data() + start, end - start);
    if (dot != std::string::npos) {
      const std::string candidate = Candidate(element, executable, split, file);
      found = IsFile(candidate) ? candidate : std::string();
    }
    if (found.empty()) {
      const std::string candidate = Candidate(element, executable, language, file);
      found = IsFile(candidate) ? candidate : std::string();
    }
    start = end + 1;
  }
  if (found.empty()) {
    tavutil::detail::TracePoint(kSearchLevel, TUtilityTraceCategory::NLSResource,
                                SourceLine{kSource, kLineNotFoundWithLang}, kNotFoundWithLang,
                                file.c_str(), language.c_str(), path.c_str());
    return nullptr;
  }
  fFound = std::make_unique<TString>(found.c_str());
  tavutil::detail::TracePoint(kSearchLevel, TUtilityTraceCategory::NLSResource,
                              SourceLine{kSource, kLineFound}, kFound, found.c_str());
  return *fFound;
}

char* TSearchNLSPath::FindInPath() {
  if (fFound != nullptr) {
    return *fFound;
  }
  std::string file = Text(fName);
  const char* suffix = tavutil::platform::LibrarySuffix();
  const std::size_t suffixLength = std::strlen(suffix);
  if (file.size() < suffixLength ||
      tavutil::detail::StrICmp(file.c_str() + file.size() - suffixLength, suffix) != 0) {
    file += suffix;
  }
  std::string reason;
  int error = 0;
  // The library stays loaded: a later load of the path found gets the same one.
  void* library = tavutil::platform::OpenLibrary(file.c_str(), reason, error);
  std::string path;
  if (library == nullptr || !tavutil::platform::LibraryPath(library, path)) {
    return nullptr;
  }
  fFound = std::make_unique<TString>(path.c_str());
  return *fFound;
}

void TSearchNLSPath::SetLang(const char* lang) {
  const std::lock_guard<std::mutex> lock(gSettingsLock);
  fsLang = lang != nullptr ? Copy(lang) : Copy(Text(fsLang_C));
}

TString TSearchNLSPath::QueryLang() {
  const std::lock_guard<std::mutex> lock(gSettingsLock);
  return Copy(Text(fsLang));
}

void TSearchNLSPath::AddNLSpath(const char* path) {
  if (path == nullptr) {
    return;
  }
  const std::lock_guard<std::mutex> lock(gSettingsLock);
  fsNLSpath = Copy(std::string(path) + ";" + Text(fsNLSpath));
}

TNLSResourceDll::TNLSResourceDll(const char* name) : TDll(TSearchNLSPath(name).FindFile()) {
  if (!isOpen()) {
    TMessage text(kCannotOpen, TagVar(name));
    text.SetDebugging(kSource, kLineCannotOpen);
    tavutil::detail::Raise<TAccessError>(text, SourceLine{kSource, kLineCannotOpen},
                                         TUtilityTraceCategory::NLSResource);
  }
}
