// utility/startup.cpp: the library's static objects, built in their fixed order.
// Licensed under the Apache License, Version 2.0.
//
// Operating-system independent. Objects in one translation unit are constructed in the order
// of their definitions and destroyed in reverse, so this file alone fixes the start-up order:
// every object that a later one needs is defined above it. No other file of the library has
// a static object with a constructor.
#include <tavutil/factory.h>
#include <tavutil/message.h>
#include <tavutil/mutexsem.h>
#include <tavutil/nlsresrc.h>
#include <tavutil/trace.h>

#include <clocale>

// The language search path: the default language, the language that means none, the current
// language (sharing the text of "C") and the search path.
const TString TSearchNLSPath::fsDefaultLocale("English");
const TString TSearchNLSPath::fsLang_C("C");
TString TSearchNLSPath::fsLang(TSearchNLSPath::fsLang_C);
TString TSearchNLSPath::fsNLSpath("%E\\%L\\%N;%E\\%N;");

namespace {

/// Sets the runtime locale from the environment once, when the library loads.
struct LocaleGuard {
  LocaleGuard() noexcept { std::setlocale(LC_ALL, ""); }
};

LocaleGuard gLocaleGuard;

/// The message store registry: stores register in it from their constructors.
TMessageArchive gMessageArchive;

} // namespace

TagVar TMessage::fsEndOfArgs(TagVar::endOfArgs);

/// The factory library path, searched before the system's; empty at load.
TString TFactoryLoaderBase::fsLibpath;

// The trace mutex comes before the registry and the categories, which register under it.
TMutexSemaphore TTrace::Base::fsMutex;

namespace {

/// The known-category registry; its address is fixed before any constructor runs.
TTraceSetKnown gKnownCategories;

} // namespace

TTraceSetKnown* const TTrace::Base::fsKnownCategories = &gKnownCategories;

// The library's categories register themselves, so they come after the registry.
const TTrace::Category TUtilityTraceCategory::TagVar(1, "TagVar");
const TTrace::Category TUtilityTraceCategory::NLSResource(1, "NLSResource");
const TTrace::Category TUtilityTraceCategory::Message(1, "Message");
const TTrace::Category TUtilityTraceCategory::Trace(1, "Trace");
const TTrace::Category TUtilityTraceCategory::Queue(1, "Queue");
const TTrace::Category TUtilityTraceCategory::Utility(1, "Utility");
const TTrace::Category TUtilityTraceCategory::String(1, "String");
const TTrace::Category TUtilityTraceCategory::Factory(1, "Factory");
const TTrace::Category TUtilityTraceCategory::CrtMsg(1, "CRTmsg"); // fixed: its own spelling
const TTrace::Category TUtilityTraceCategory::MemStream(1, "MemStream");
const TTrace::Category TUtilityTraceCategory::OleStream(1, "OleStream");
