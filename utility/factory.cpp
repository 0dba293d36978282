// utility/factory.cpp: factory types, the untyped factory loader and provider-library loading.
// Licensed under the Apache License, Version 2.0.
//
// Operating-system independent: libraries are found, loaded and entered through the platform
// layer. The loader's lock is taken before the trace mutex whenever both are held (a provider
// library may trace while it loads), never the other way round.
#include <tavutil/factory.h>
#include <tavutil/mutexsem.h>
#include <tavutil/trace.h>

#include "internal/ascii.h"
#include "internal/raise.h"
#include "internal/scopedlock.h"
#include "internal/setelements.h"
#include "internal/tracepoint.h"
#include "platform/platform.h"

#include <cstring>
#include <memory>
#include <string>

namespace {

using tavutil::detail::SourceLine;

/// The source name that this file's throw sites and trace points quote.
constexpr const char* kSource = "utility/FACTORY";

constexpr const char* kAlreadyDefined = "Already defined";
constexpr unsigned long kLineAlreadyDefined = 212;
constexpr const char* kSingletonObject = "Singleton Object";
constexpr unsigned long kLineSingletonObject = 274; // fixed: a quoted line, not this file's

constexpr const char* kNoFactoryType = "Unable to find factory type %s";
constexpr unsigned long kLineNoFactoryType = 187;
// The loader's own reason follows the error code: it says which file or symbol was missing.
constexpr const char* kCannotLoad = "Unable to load Dll %s, rc=x%08X: %s";
constexpr unsigned long kLineCannotLoad = 331; // fixed: a quoted line, not this file's
constexpr const char* kNoEntryPoint = "Dll %s does not have an entry point named %s, rc=x%08X: %s";
constexpr unsigned long kLineNoEntryPoint = 340; // fixed: a quoted line, not this file's

/// The function every provider library exports, called once it is loaded.
constexpr const char* kEntryPoint = "FactoryLoaderInitializeDll";
/// Its type: no arguments; whatever it returns is ignored.
using EntryPoint = void (*)();

constexpr unsigned long kLevelWarning = 0x8;

/// The text of a name, "" for a string without buffer.
const char* TextOf(const TString& name) noexcept {
  const char* text = name;
  return text != nullptr ? text : "";
}

} // namespace

// --------------------------------------------------------------- factory type ----

TFactoryType::TFactoryType(const char* spec) {
  Parse(spec, spec != nullptr ? std::strlen(spec) : 0);
}

TFactoryType::TFactoryType(const TString& spec) {
  const char* text = spec;
  Parse(text, text != nullptr ? std::strlen(text) : 0);
}

TFactoryType::TFactoryType(const TFactoryType& other) noexcept = default;

TFactoryType& TFactoryType::operator=(const TFactoryType& other) noexcept {
  if (this != &other) {
    fName = other.fName;
    fDllName = other.fDllName;
  }
  return *this;
}

TFactoryType::~TFactoryType() = default;

void TFactoryType::Parse(const char* spec, std::size_t length) {
  if (spec == nullptr) {
    fName = TString("");
    fDllName = fName;
    return;
  }
  const char* open = static_cast<const char*>(std::memchr(spec, '[', length));
  if (open == nullptr) {
    fName = TString(spec, static_cast<unsigned int>(length));
    fDllName = fName;
    return;
  }
  fName = TString(spec, static_cast<unsigned int>(open - spec));
  const char* inside = open + 1;
  const std::size_t rest = length - static_cast<std::size_t>(inside - spec);
  const char* close = static_cast<const char*>(std::memchr(inside, ']', rest));
  fDllName = close != nullptr ? TString(inside, static_cast<unsigned int>(close - inside)) : fName;
}

int TFactoryType::operator==(const TFactoryType& other) const noexcept {
  return tavutil::detail::StrICmp(TextOf(fName), TextOf(other.fName)) == 0;
}

int TFactoryType::operator<(const TFactoryType& other) const noexcept {
  return tavutil::detail::StrICmp(TextOf(fName), TextOf(other.fName)) < 0;
}

// -------------------------------------------------------------------- element ----

namespace {

/// A copy of `name` in a buffer of its own: registrations are compared on whatever thread
/// looks a type up, and TString counts are not atomic, so they share no buffer with anyone.
TString PrivateCopy(const TString& name) {
  const char* text = name;
  return text != nullptr ? TString(text, name.length()) : TString();
}

} // namespace

TFactoryElement::TFactoryElement(const TFactoryType& type, void* factory)
    : fType(type), fFactory(factory) {
  fType.fName = PrivateCopy(type.fName);
  fType.fDllName = PrivateCopy(type.fDllName);
}

TFactoryElement::~TFactoryElement() = default;

// --------------------------------------------------------------------- loader ----

TFactoryLoaderBase::TFactoryLoaderBase()
    : fSet(std::make_unique<TFactoryLoaderSet>()), fLock(std::make_unique<TMutexSemaphore>()) {}

TFactoryLoaderBase::~TFactoryLoaderBase() = default;

void* TFactoryLoaderBase::Lookup(const TFactoryType& type) const {
  const TFactoryElement* element = fSet->Find(type);
  return element != nullptr ? element->QueryFactory() : nullptr;
}

void* TFactoryLoaderBase::Find(const TFactoryType& type) {
  void* factory = nullptr;
  {
    // Held across the load, so another thread asking for the same type waits for the
    // library's factories to be complete rather than finding one half-built.
    const tavutil::detail::ScopedLock lock(*fLock);
    factory = Lookup(type);
    if (factory == nullptr) {
      LoadDll(type);
      factory = Lookup(type);
    }
  }
  if (factory == nullptr) {
    tavutil::detail::TracePoint(kLevelWarning, TUtilityTraceCategory::Factory,
                                SourceLine{kSource, kLineNoFactoryType}, kNoFactoryType,
                                TextOf(type.GetName()));
  }
  return factory;
}

void TFactoryLoaderBase::Add(const TFactoryType& type, void* factory) {
  {
    const tavutil::detail::ScopedLock lock(*fLock);
    if (fSet->Find(type) == nullptr) {
      tavutil::detail::AddOwned(*fSet, std::make_unique<TFactoryElement>(type, factory));
      return;
    }
  }
  // Raised outside the lock: raising traces, which takes the trace mutex.
  tavutil::detail::Raise<TInvalidRequest>(kAlreadyDefined, SourceLine{kSource, kLineAlreadyDefined},
                                          TUtilityTraceCategory::Factory);
}

void TFactoryLoaderBase::Remove(const TFactoryType& type) noexcept {
  const tavutil::detail::ScopedLock lock(*fLock);
  if (TFactoryElement* element = fSet->Find(type)) {
    fSet->Remove(element);
    delete element;
  }
}

void TFactoryLoaderBase::Remove(const TFactoryType& type, void* factory) noexcept {
  const tavutil::detail::ScopedLock lock(*fLock);
  TFactoryElement* element = fSet->Find(type);
  if (element != nullptr && element->QueryFactory() == factory) {
    fSet->Remove(element);
    delete element;
  }
}

// A member, not a static, so that typed loaders call it as their own.
// NOLINTNEXTLINE(readability-convert-member-functions-to-static)
void TFactoryLoaderBase::ThrowSingletonException() {
  tavutil::detail::Raise<TInvalidRequest>(
      kSingletonObject, SourceLine{kSource, kLineSingletonObject}, TUtilityTraceCategory::Factory);
}

void TFactoryLoaderBase::AddLibpath(const char* path) {
  if (path == nullptr || *path == '\0') {
    return;
  }
  const tavutil::detail::ScopedLock lock(TTrace::Base::fsMutex);
  TString longer = TString(path) + ";" + fsLibpath;
  fsLibpath = longer;
}

int TFactoryLoaderBase::LoadDll(const TFactoryType& type) {
  const char* library = TextOf(type.GetDllName());
  std::string directories;
  {
    // A copy taken under the mutex that AddLibpath changes it under.
    const tavutil::detail::ScopedLock lock(TTrace::Base::fsMutex);
    directories = TextOf(fsLibpath);
  }
  std::string found;
  if (!directories.empty() &&
      tavutil::platform::FindOnPath(directories.c_str(), library,
                                    tavutil::platform::LibrarySuffix(), found) &&
      LoadDll(found.c_str()) == 0) {
    return 0;
  }
  LoadDll(library);
  return 0; // fixed: 0 whatever the load gave
}

int TFactoryLoaderBase::LoadDll(char* file) {
  return LoadDll(static_cast<const char*>(file));
}

int TFactoryLoaderBase::LoadDll(const char* file) {
  if (file == nullptr) {
    file = "";
  }
  const char* suffix = tavutil::platform::LibrarySuffix();
  std::string name(file);
  const char* dot = std::strrchr(file, '.');
  if (dot == nullptr || tavutil::detail::StrICmp(dot, suffix) != 0) {
    name += suffix;
  }
  const tavutil::detail::ScopedLock lock(*fLock);
  std::string reason;
  int error = 0;
  void* library = tavutil::platform::OpenLibrary(name.c_str(), reason, error);
  if (library == nullptr) {
    tavutil::detail::TracePoint(kLevelWarning, TUtilityTraceCategory::Factory,
                                SourceLine{kSource, kLineCannotLoad}, kCannotLoad, file,
                                static_cast<unsigned long>(error), reason.c_str());
    return 1;
  }
  void* symbol = tavutil::platform::FindSymbol(library, kEntryPoint, reason);
  if (symbol == nullptr) {
    tavutil::detail::TracePoint(kLevelWarning, TUtilityTraceCategory::Factory,
                                SourceLine{kSource, kLineNoEntryPoint}, kNoEntryPoint, file,
                                kEntryPoint, 0ul, reason.c_str());
    return 1;
  }
  // A symbol's address comes back as data; the entry point is a function by contract.
  EntryPoint entry = nullptr;
  static_assert(sizeof entry == sizeof symbol, "a function pointer fits a data pointer");
  std::memcpy(&entry, &symbol, sizeof entry);
  try {
    entry();
  } catch (...) {
    // A provider that fails part-way keeps what it registered; the loader carries on.
  }
  return 0;
}
