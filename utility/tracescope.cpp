// utility/tracescope.cpp: trace scopes: TTrace::SaveState, TTraceExit and TTraceObjects.
// Licensed under the Apache License, Version 2.0.
//
// Operating-system independent. The scopes change a state only through its public setters, so
// each change takes the trace mutex, recomputes the global masks and calls Change() as any
// other change does.
#include <tavutil/tracescope.h>

#include "internal/arglist.h"

#include <cstdarg>
#include <vector>

namespace {

/// The level of function-exit entries (letter '<').
constexpr unsigned long kExitLevel = 0x2000;

/// Calls the state's Change() for a scope that must not throw; what it throws is dropped.
void NotifyChange(TTrace::Base& state) noexcept {
  try {
    state.Change();
  } catch (...) {
  }
}

} // namespace

// ------------------------------------------------------------- save state ----

TTrace::SaveState::SaveState(TTrace& trace) noexcept
    : fState(trace.QueryPointer()), fLevel(0), fComponent(0), fDefaultTracing(0) {
  if (Base* state = fState.QueryBase()) {
    fLevel = static_cast<std::uint32_t>(state->QueryLevel());
    fComponent = static_cast<std::uint32_t>(state->QueryComponent());
    fDefaultTracing = state->QueryDefaultTracing();
    Count();
    NotifyChange(*state);
  }
}

TTrace::SaveState::SaveState(TTrace& trace, unsigned long level, const Category& category)
    : fState(trace.QueryPointer()), fLevel(0), fComponent(0), fDefaultTracing(0) {
  Base* state = fState.QueryBase();
  if (state == nullptr) {
    return;
  }
  fLevel = static_cast<std::uint32_t>(state->QueryLevel());
  fComponent = static_cast<std::uint32_t>(state->QueryComponent());
  fDefaultTracing = state->QueryDefaultTracing();
  Count();
  try {
    state->SetLevel(level);
    state->SetComponent(fComponent | category.QueryComponent());
    state->AddCategory(category, 1);
  } catch (...) {
    // No destructor runs for a scope whose constructor throws: undo here.
    Leave();
    throw;
  }
}

TTrace::SaveState::SaveState(const SaveState& other) noexcept
    : fState(other.fState), fLevel(other.fLevel), fComponent(other.fComponent),
      fDefaultTracing(other.fDefaultTracing) {
  Count();
}

TTrace::SaveState& TTrace::SaveState::operator=(const SaveState& other) noexcept {
  if (this != &other) {
    Leave();
    fState = other.fState;
    fLevel = other.fLevel;
    fComponent = other.fComponent;
    fDefaultTracing = other.fDefaultTracing;
    Count();
  }
  return *this;
}

TTrace::SaveState::~SaveState() {
  Leave();
}

void TTrace::SaveState::Count() noexcept {
  if (Base* state = fState.QueryBase()) {
    state->fSaveStateCount.fetch_add(1);
  }
}

void TTrace::SaveState::Leave() noexcept {
  Base* state = fState.QueryBase();
  if (state == nullptr) {
    return;
  }
  if (state->QueryDisableRestore() == 0) {
    try {
      // SetLevel and SetComponent change nothing on a stopped state; SetDefaultTracing calls
      // Change() once the last setting is back.
      state->SetLevel(fLevel);
      state->SetComponent(fComponent);
      state->SetDefaultTracing(fDefaultTracing);
    } catch (...) {
      // Only a state's own Change() can throw here; the settings are back regardless.
    }
  }
  state->fSaveStateCount.fetch_sub(1);
  NotifyChange(*state);
  try {
    fState = Pointer();
  } catch (...) {
    // Releasing the last handle destroys the state, whose destructor does not throw.
  }
}

// -------------------------------------------------------------- exit entry ----

TTraceExit::TTraceExit(const TTrace::Category& category, TMessage* exitMessage)
    : fCategory(category), fMessage(exitMessage) {
  if (fMessage == nullptr) {
    fMessage = std::make_unique<TMessage>();
  }
}

TTraceExit::~TTraceExit() {
  if (!TTrace::IsGlobalTracing(kExitLevel, fCategory.QueryComponent())) {
    return;
  }
  try {
    TTrace::WriteEntry(kExitLevel, fCategory, *fMessage);
  } catch (...) {
    // Writing an exit entry never fails the function that is returning.
  }
}

void TTraceExit::SetRC(const TagVar& returnCode) {
  (*fMessage)[0] = returnCode;
}

void TTraceExit::SetArgs() noexcept {
  fMessage->SetArgs();
}

void TTraceExit::SetArgs(const TagVar& a1) {
  fMessage->SetArgs(a1);
}

void TTraceExit::SetArgs(const TagVar& a1, const TagVar& a2) {
  fMessage->SetArgs(a1, a2);
}

void TTraceExit::SetArgs(const TagVar& a1, const TagVar& a2, const TagVar& a3) {
  fMessage->SetArgs(a1, a2, a3);
}

void TTraceExit::SetArgs(const TagVar& a1, const TagVar& a2, const TagVar& a3, const TagVar& a4) {
  fMessage->SetArgs(a1, a2, a3, a4);
}

void TTraceExit::SetArgs(const TagVar& a1, const TagVar& a2, const TagVar& a3, const TagVar& a4,
                         const TagVar& a5) {
  fMessage->SetArgs(a1, a2, a3, a4, a5);
}

void TTraceExit::SetArgs(const TagVar& a1, const TagVar& a2, const TagVar& a3, const TagVar& a4,
                         const TagVar& a5, const TagVar& a6) {
  fMessage->SetArgs(a1, a2, a3, a4, a5, a6);
}

void TTraceExit::SetArgs(const TagVar* first, ...) {
  // A va_list cannot be handed on to the message's variadic form: collect the pointers up to
  // the list's end into a null-terminated array, which the array form ends at the same entry.
  std::vector<const TagVar*> list;
  std::va_list rest;
  va_start(rest, first);
  try {
    for (const TagVar* entry = first; !tavutil::detail::EndsList(entry);
         entry = va_arg(rest, const TagVar*)) {
      list.push_back(entry);
    }
    list.push_back(nullptr);
  } catch (...) {
    va_end(rest);
    throw;
  }
  va_end(rest);
  fMessage->SetArgs(list.data());
}

void TTraceExit::SetArgs(const TagVar** list) {
  fMessage->SetArgs(list);
}

TagVar& TTraceExit::operator[](unsigned int i) {
  return (*fMessage)[i];
}

void TTraceExit::SetDebugging(const char* file, unsigned long line) {
  fMessage->SetDebugging(file, line);
}

// ------------------------------------------------------------ trace objects ----

TTrace TTraceObjects::operator[](unsigned int i) const noexcept {
  return i < fHandles.size() ? fHandles[i] : TTrace();
}

void TTraceObjects::Remove(unsigned int i) {
  if (i < fHandles.size()) {
    fHandles[i] = TTrace();
  }
}

// A member by the published interface, although it reads nothing of the table.
// NOLINTNEXTLINE(readability-convert-member-functions-to-static)
unsigned int TTraceObjects::Add(const char* /*name*/, int /*kind*/, char* /*text*/) noexcept {
  return static_cast<unsigned int>(-1);
}
