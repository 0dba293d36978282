// utility/message.cpp: TMessage construction, arguments and copying.
// Licensed under the Apache License, Version 2.0.
//
// Operating-system independent. Every way of giving arguments ends in CopyArguments, which
// builds the new array completely before the old one is released, so arguments may be taken
// from the message itself.
#include <tavutil/exception.h>
#include <tavutil/message.h>

#include "internal/raise.h"
#include "internal/tracepoint.h"

#include <utility>

namespace {

using tavutil::detail::SourceLine;

constexpr char kSource[] = "utility/MESSAGE";
constexpr char kOutOfRange[] = "Out of Range";
constexpr char kRequestedArgument[] = "Reqested argument %u in message from %s[%u]";
constexpr unsigned long kLineRequestedArgument = 236;
constexpr unsigned long kLineOutOfRange = 240;
constexpr unsigned long kDiagnosticLevel = 0x8;

/// Whether a list entry ends the list: a null pointer, a nil or an end-of-arguments value.
bool EndsList(const TagVar* entry) noexcept {
  return entry == nullptr || entry->IsNil() || entry->IsEndOfArgs();
}

} // namespace

// ------------------------------------------------------------ construction ----

TMessage::TMessage()
    : fSetId(0), fMessageId(0), fText(""), fNumberArgs(0), fAllocatedArgs(0), fLine(0) {}

TMessage::TMessage(const char* text) : TMessage() {
  fText = TString(text);
}

TMessage::TMessage(const char* text, const TagVar& a1) : TMessage(text) {
  SetArgs(a1);
}

TMessage::TMessage(const char* text, const TagVar& a1, const TagVar& a2) : TMessage(text) {
  SetArgs(a1, a2);
}

TMessage::TMessage(const char* text, const TagVar& a1, const TagVar& a2, const TagVar& a3)
    : TMessage(text) {
  SetArgs(a1, a2, a3);
}

TMessage::TMessage(const char* text, const TagVar& a1, const TagVar& a2, const TagVar& a3,
                   const TagVar& a4)
    : TMessage(text) {
  SetArgs(a1, a2, a3, a4);
}

TMessage::TMessage(const char* text, const TagVar& a1, const TagVar& a2, const TagVar& a3,
                   const TagVar& a4, const TagVar& a5)
    : TMessage(text) {
  SetArgs(a1, a2, a3, a4, a5);
}

TMessage::TMessage(const char* text, const TagVar& a1, const TagVar& a2, const TagVar& a3,
                   const TagVar& a4, const TagVar& a5, const TagVar& a6)
    : TMessage(text) {
  SetArgs(a1, a2, a3, a4, a5, a6);
}

TMessage::TMessage(const char* text, const TagVar& a1, const TagVar& a2, const TagVar& a3,
                   const TagVar& a4, const TagVar& a5, const TagVar& a6, const TagVar& a7)
    : TMessage(text) {
  SetArgs(a1, a2, a3, a4, a5, a6, a7);
}

TMessage::TMessage(const char* text, const TagVar* first, ...) : TMessage(text) {
  std::va_list rest;
  va_start(rest, first);
  CopyList(first, &rest);
  va_end(rest);
}

TMessage::TMessage(const char* text, const TagVar** list) : TMessage(text) {
  CopyList(list);
}

TMessage::TMessage(const StoreID& store, long setId, long messageId, const char* defaultText)
    : TMessage(defaultText) {
  fStore = store;
  fSetId = static_cast<std::int32_t>(setId);
  fMessageId = static_cast<std::int32_t>(messageId);
}

TMessage::TMessage(const StoreID& store, long setId, long messageId, const char* defaultText,
                   const TagVar& a1)
    : TMessage(store, setId, messageId, defaultText) {
  SetArgs(a1);
}

TMessage::TMessage(const StoreID& store, long setId, long messageId, const char* defaultText,
                   const TagVar& a1, const TagVar& a2)
    : TMessage(store, setId, messageId, defaultText) {
  SetArgs(a1, a2);
}

TMessage::TMessage(const StoreID& store, long setId, long messageId, const char* defaultText,
                   const TagVar& a1, const TagVar& a2, const TagVar& a3)
    : TMessage(store, setId, messageId, defaultText) {
  SetArgs(a1, a2, a3);
}

TMessage::TMessage(const StoreID& store, long setId, long messageId, const char* defaultText,
                   const TagVar& a1, const TagVar& a2, const TagVar& a3, const TagVar& a4)
    : TMessage(store, setId, messageId, defaultText) {
  SetArgs(a1, a2, a3, a4);
}

TMessage::TMessage(const StoreID& store, long setId, long messageId, const char* defaultText,
                   const TagVar& a1, const TagVar& a2, const TagVar& a3, const TagVar& a4,
                   const TagVar& a5)
    : TMessage(store, setId, messageId, defaultText) {
  SetArgs(a1, a2, a3, a4, a5);
}

TMessage::TMessage(const StoreID& store, long setId, long messageId, const char* defaultText,
                   const TagVar& a1, const TagVar& a2, const TagVar& a3, const TagVar& a4,
                   const TagVar& a5, const TagVar& a6)
    : TMessage(store, setId, messageId, defaultText) {
  SetArgs(a1, a2, a3, a4, a5, a6);
}

TMessage::TMessage(const StoreID& store, long setId, long messageId, const char* defaultText,
                   const TagVar& a1, const TagVar& a2, const TagVar& a3, const TagVar& a4,
                   const TagVar& a5, const TagVar& a6, const TagVar& a7)
    : TMessage(store, setId, messageId, defaultText) {
  SetArgs(a1, a2, a3, a4, a5, a6, a7);
}

TMessage::TMessage(const StoreID& store, long setId, long messageId, const char* defaultText,
                   const TagVar* first, ...)
    : TMessage(store, setId, messageId, defaultText) {
  std::va_list rest;
  va_start(rest, first);
  CopyList(first, &rest);
  va_end(rest);
}

TMessage::TMessage(const StoreID& store, long setId, long messageId, const char* defaultText,
                   const TagVar** list)
    : TMessage(store, setId, messageId, defaultText) {
  CopyList(list);
}

// ------------------------------------------------------ copy and release ----

TMessage::TMessage(const TMessage& other)
    : fStore(other.fStore), fSetId(other.fSetId), fMessageId(other.fMessageId), fText(other.fText),
      fNumberArgs(0), fAllocatedArgs(0), fFile(other.fFile), fLine(other.fLine) {
  std::unique_ptr<const TagVar*[]> pointers(new const TagVar*[other.fNumberArgs]);
  for (unsigned i = 0; i < other.fNumberArgs; ++i) {
    pointers[i] = &other.fArgs[i];
  }
  CopyArguments(pointers.get(), other.fNumberArgs);
}

TMessage& TMessage::operator=(const TMessage& other) {
  if (this != &other) {
    TMessage copy(other); // a throwing argument copy leaves this message as it was
    fStore = copy.fStore;
    fSetId = copy.fSetId;
    fMessageId = copy.fMessageId;
    fText = copy.fText;
    fRendered = TString();
    fFile = copy.fFile;
    fLine = copy.fLine;
    Adopt(std::move(copy.fArgs), copy.fNumberArgs);
  }
  return *this;
}

TMessage::~TMessage() = default;

// --------------------------------------------------------------- arguments ----

void TMessage::Adopt(std::unique_ptr<TagVar[]> arguments, unsigned count) noexcept {
  fArgs = std::move(arguments);
  fNumberArgs = count;
  fAllocatedArgs = count;
}

void TMessage::CopyArguments(const TagVar* const* pointers, unsigned count) {
  std::unique_ptr<TagVar[]> copies;
  if (count != 0) {
    copies.reset(new TagVar[count]);
    for (unsigned i = 0; i < count; ++i) {
      copies[i] = *pointers[i];
    }
  }
  Adopt(std::move(copies), count);
}

void TMessage::CopyList(const TagVar* first, std::va_list* rest) {
  // Two walks over the list: one to count, one (over a copy of the list) to collect.
  std::va_list counting;
  va_copy(counting, *rest);
  unsigned count = 0;
  for (const TagVar* entry = first; !EndsList(entry); entry = va_arg(counting, const TagVar*)) {
    ++count;
  }
  va_end(counting);
  std::unique_ptr<const TagVar*[]> pointers(new const TagVar*[count]);
  const TagVar* entry = first;
  for (unsigned i = 0; i < count; ++i) {
    pointers[i] = entry;
    if (i + 1 < count) {
      entry = va_arg(*rest, const TagVar*);
    }
  }
  CopyArguments(pointers.get(), count);
}

void TMessage::CopyList(const TagVar* const* list) {
  unsigned count = 0;
  while (list != nullptr && !EndsList(list[count])) {
    ++count;
  }
  CopyArguments(list, count);
}

void TMessage::SetArgs() {
  Adopt(nullptr, 0);
}

void TMessage::SetArgs(const TagVar& a1) {
  const TagVar* list[] = {&a1};
  CopyArguments(list, 1);
}

void TMessage::SetArgs(const TagVar& a1, const TagVar& a2) {
  const TagVar* list[] = {&a1, &a2};
  CopyArguments(list, 2);
}

void TMessage::SetArgs(const TagVar& a1, const TagVar& a2, const TagVar& a3) {
  const TagVar* list[] = {&a1, &a2, &a3};
  CopyArguments(list, 3);
}

void TMessage::SetArgs(const TagVar& a1, const TagVar& a2, const TagVar& a3, const TagVar& a4) {
  const TagVar* list[] = {&a1, &a2, &a3, &a4};
  CopyArguments(list, 4);
}

void TMessage::SetArgs(const TagVar& a1, const TagVar& a2, const TagVar& a3, const TagVar& a4,
                       const TagVar& a5) {
  const TagVar* list[] = {&a1, &a2, &a3, &a4, &a5};
  CopyArguments(list, 5);
}

void TMessage::SetArgs(const TagVar& a1, const TagVar& a2, const TagVar& a3, const TagVar& a4,
                       const TagVar& a5, const TagVar& a6) {
  const TagVar* list[] = {&a1, &a2, &a3, &a4, &a5, &a6};
  CopyArguments(list, 6);
}

void TMessage::SetArgs(const TagVar& a1, const TagVar& a2, const TagVar& a3, const TagVar& a4,
                       const TagVar& a5, const TagVar& a6, const TagVar& a7) {
  const TagVar* list[] = {&a1, &a2, &a3, &a4, &a5, &a6, &a7};
  CopyArguments(list, 7);
}

void TMessage::SetArgs(const TagVar* first, ...) {
  std::va_list rest;
  va_start(rest, first);
  CopyList(first, &rest);
  va_end(rest);
}

void TMessage::SetArgs(const TagVar** list) {
  CopyList(list);
}

void TMessage::CheckIndex(unsigned index) const {
  if (index < fNumberArgs) {
    return;
  }
  if (QueryFile() != nullptr) {
    tavutil::detail::TracePoint(kDiagnosticLevel, TUtilityTraceCategory::Message,
                                SourceLine{kSource, kLineRequestedArgument}, kRequestedArgument,
                                index, fFile, static_cast<unsigned long>(fLine));
  }
  tavutil::detail::Raise<TInvalidParameter>(kOutOfRange, SourceLine{kSource, kLineOutOfRange},
                                            TUtilityTraceCategory::Message);
}

TagVar& TMessage::operator[](unsigned index) {
  CheckIndex(index);
  return fArgs[index];
}

const TagVar& TMessage::operator[](unsigned index) const {
  CheckIndex(index);
  return fArgs[index];
}

void TMessage::SetDebugging(const char* file, unsigned long line) {
  fFile = TString(file);
  fLine = static_cast<std::uint32_t>(line);
}

// Interim: the text without formatting, until the rendering branch lands.
const TString& TMessage::QueryMessage() const {
  if (static_cast<const char*>(fRendered) == nullptr) {
    fRendered = fText;
  }
  return fRendered;
}
