// utility/message.cpp: TMessage construction, arguments, copying and moving.
// Licensed under the Apache License, Version 2.0.
//
// Operating-system independent. Every way of giving arguments ends in an Arguments holder
// built completely before the old one is released, so arguments may be taken from the
// message itself. Rendering is in message_render.cpp, the binary form in message_binary.cpp,
// the store registry in message_store.cpp.
#include <tavutil/exception.h>
#include <tavutil/message.h>
#include <tavutil/tracepoint.h>

#include "internal/arglist.h"
#include "internal/messagesource.h"
#include "internal/raise.h"

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>
#include <utility>

namespace {

using tavutil::detail::EndsList;
using tavutil::detail::kMessageDiagnosticLevel;
using tavutil::detail::kMessageSource;
using tavutil::detail::SourceLine;

constexpr char kOutOfRange[] = "Out of Range";
constexpr char kRequestedArgument[] =
    "Reqested argument %u in message from %s[%u]"; // fixed: the text's original spelling
// fixed: the lines quoted, which are not this file's own
constexpr unsigned long kLineRequestedArgument = 236;
constexpr unsigned long kLineOutOfRange = 240;

} // namespace

// ------------------------------------------------------------ construction ----

TMessage::TMessage() : fSetId(0), fMessageId(0), fText(""), fFileName(nullptr), fLine(0) {}

TMessage::TMessage(const char* text)
    : fSetId(0), fMessageId(0), fText(text), fFileName(nullptr), fLine(0) {}

TMessage::TMessage(const char* text, const TagVar& a1) : TMessage(text) {
  EmplaceArguments(a1);
}

TMessage::TMessage(const char* text, const TagVar& a1, const TagVar& a2) : TMessage(text) {
  EmplaceArguments(a1, a2);
}

TMessage::TMessage(const char* text, const TagVar& a1, const TagVar& a2, const TagVar& a3)
    : TMessage(text) {
  EmplaceArguments(a1, a2, a3);
}

TMessage::TMessage(const char* text, const TagVar& a1, const TagVar& a2, const TagVar& a3,
                   const TagVar& a4)
    : TMessage(text) {
  EmplaceArguments(a1, a2, a3, a4);
}

TMessage::TMessage(const char* text, const TagVar& a1, const TagVar& a2, const TagVar& a3,
                   const TagVar& a4, const TagVar& a5)
    : TMessage(text) {
  EmplaceArguments(a1, a2, a3, a4, a5);
}

TMessage::TMessage(const char* text, const TagVar& a1, const TagVar& a2, const TagVar& a3,
                   const TagVar& a4, const TagVar& a5, const TagVar& a6)
    : TMessage(text) {
  EmplaceArguments(a1, a2, a3, a4, a5, a6);
}

TMessage::TMessage(const char* text, const TagVar& a1, const TagVar& a2, const TagVar& a3,
                   const TagVar& a4, const TagVar& a5, const TagVar& a6, const TagVar& a7)
    : TMessage(text) {
  EmplaceArguments(a1, a2, a3, a4, a5, a6, a7);
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
    : fStore(store), fSetId(static_cast<std::int32_t>(setId)),
      fMessageId(static_cast<std::int32_t>(messageId)), fText(defaultText), fFileName(nullptr),
      fLine(0) {}

TMessage::TMessage(const StoreID& store, long setId, long messageId, const char* defaultText,
                   const TagVar& a1)
    : TMessage(store, setId, messageId, defaultText) {
  EmplaceArguments(a1);
}

TMessage::TMessage(const StoreID& store, long setId, long messageId, const char* defaultText,
                   const TagVar& a1, const TagVar& a2)
    : TMessage(store, setId, messageId, defaultText) {
  EmplaceArguments(a1, a2);
}

TMessage::TMessage(const StoreID& store, long setId, long messageId, const char* defaultText,
                   const TagVar& a1, const TagVar& a2, const TagVar& a3)
    : TMessage(store, setId, messageId, defaultText) {
  EmplaceArguments(a1, a2, a3);
}

TMessage::TMessage(const StoreID& store, long setId, long messageId, const char* defaultText,
                   const TagVar& a1, const TagVar& a2, const TagVar& a3, const TagVar& a4)
    : TMessage(store, setId, messageId, defaultText) {
  EmplaceArguments(a1, a2, a3, a4);
}

TMessage::TMessage(const StoreID& store, long setId, long messageId, const char* defaultText,
                   const TagVar& a1, const TagVar& a2, const TagVar& a3, const TagVar& a4,
                   const TagVar& a5)
    : TMessage(store, setId, messageId, defaultText) {
  EmplaceArguments(a1, a2, a3, a4, a5);
}

TMessage::TMessage(const StoreID& store, long setId, long messageId, const char* defaultText,
                   const TagVar& a1, const TagVar& a2, const TagVar& a3, const TagVar& a4,
                   const TagVar& a5, const TagVar& a6)
    : TMessage(store, setId, messageId, defaultText) {
  EmplaceArguments(a1, a2, a3, a4, a5, a6);
}

TMessage::TMessage(const StoreID& store, long setId, long messageId, const char* defaultText,
                   const TagVar& a1, const TagVar& a2, const TagVar& a3, const TagVar& a4,
                   const TagVar& a5, const TagVar& a6, const TagVar& a7)
    : TMessage(store, setId, messageId, defaultText) {
  EmplaceArguments(a1, a2, a3, a4, a5, a6, a7);
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

// --------------------------------------------------------------- arguments ----

TMessage::Arguments::Arguments(Arguments&& other) noexcept {
  *this = std::move(other);
}

TMessage::Arguments& TMessage::Arguments::operator=(Arguments&& other) noexcept {
  if (this == &other) {
    return *this;
  }
  Clear();
  const bool inPlace = other.fData == other.fSlots;
  if (inPlace) {
    for (std::uint32_t i = 0; i < other.fSize; ++i) {
      new (&fSlots[i]) TagVar(std::move(other.fSlots[i]));
    }
    fData = fSlots;
  } else {
    fData = other.fData;
  }
  fSize = other.fSize;
  fRoom = other.fRoom;
  if (inPlace) {
    other.Clear(); // releases the moved-from (nil) slots
  } else {
    other.fData = nullptr;
    other.fSize = 0;
    other.fRoom = 0;
  }
  return *this;
}

void TMessage::Arguments::Reserve(std::uint32_t count) {
  Clear();
  if (count == 0) {
    return;
  }
  if (count <= kInline) {
    fData = fSlots;
  } else {
    // Only where size_t has 32 bits can the size pass its range.
    if (std::uint64_t{count} * sizeof(TagVar) > std::numeric_limits<std::size_t>::max()) {
      throw std::bad_alloc();
    }
    fData = static_cast<TagVar*>(::operator new (sizeof(TagVar) * std::size_t{count}));
  }
  fRoom = count;
}

void TMessage::Arguments::Clear() noexcept {
  for (std::uint32_t i = 0; i < fSize; ++i) {
    fData[i].~TagVar();
  }
  if (fData != fSlots && fData != nullptr) {
    ::operator delete(fData);
  }
  fData = nullptr;
  fSize = 0;
  fRoom = 0;
}

// ------------------------------------------------------ copy and release ----

TMessage::TMessage(const TMessage& other)
    : fStore(other.fStore), fSetId(other.fSetId), fMessageId(other.fMessageId),
      fText(other.OwnedText()), fFile(other.fFile), fFileName(other.fFileName), fLine(other.fLine) {
  if (other.fFileName != nullptr && other.fFileName == static_cast<const char*>(other.fFile)) {
    fFileName = fFile; // its own copy's text, not the other message's
  }
  fArgs.Reserve(other.fArgs.Size());
  for (std::uint32_t i = 0; i < other.fArgs.Size(); ++i) {
    fArgs.Emplace(other.fArgs.Data()[i]);
  }
}

TMessage::TMessage(TMessage&& other) noexcept
    : fStore(std::move(other.fStore)), fSetId(other.fSetId), fMessageId(other.fMessageId),
      fText(std::move(other.fText)), fBorrowedText(other.fBorrowedText),
      fRendered(std::move(other.fRendered)), fArgs(std::move(other.fArgs)),
      fFile(std::move(other.fFile)), fFileName(other.fFileName), fLine(other.fLine) {
  // fFileName points into the buffer that moved with fFile, or at a literal.
  other.fSetId = 0;
  other.fMessageId = 0;
  other.fBorrowedText = nullptr;
  other.fFileName = nullptr;
  other.fLine = 0;
}

TMessage& TMessage::operator=(const TMessage& other) {
  if (this != &other) {
    *this = TMessage(other); // a throwing argument copy leaves this message as it was
  }
  return *this;
}

TMessage& TMessage::operator=(TMessage&& other) noexcept {
  if (this != &other) {
    fStore = std::move(other.fStore);
    fSetId = other.fSetId;
    fMessageId = other.fMessageId;
    fText = std::move(other.fText);
    fBorrowedText = other.fBorrowedText;
    fRendered = std::move(other.fRendered);
    fArgs = std::move(other.fArgs);
    fFile = std::move(other.fFile);
    fFileName = other.fFileName;
    fLine = other.fLine;
    other.fSetId = 0;
    other.fMessageId = 0;
    other.fBorrowedText = nullptr;
    other.fFileName = nullptr;
    other.fLine = 0;
  }
  return *this;
}

TMessage::~TMessage() = default;

void TMessage::CopyArguments(const TagVar* const* pointers, unsigned count) {
  // Made completely before the old ones go, so they may be taken from this message itself.
  Arguments copies;
  copies.Reserve(count);
  for (unsigned i = 0; i < count; ++i) {
    copies.Emplace(*pointers[i]);
  }
  fArgs = std::move(copies);
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
  Arguments copies;
  copies.Reserve(count);
  const TagVar* entry = first;
  for (unsigned i = 0; i < count; ++i) {
    copies.Emplace(*entry);
    if (i + 1 < count) {
      entry = va_arg(*rest, const TagVar*);
    }
  }
  fArgs = std::move(copies);
}

void TMessage::CopyList(const TagVar* const* list) {
  unsigned count = 0;
  while (list != nullptr && !EndsList(list[count])) {
    ++count;
  }
  CopyArguments(list, count);
}

void TMessage::SetArgs() noexcept {
  fArgs.Clear();
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
  if (index < fArgs.Size()) {
    return;
  }
  if (QueryFile() != nullptr) {
    TAVUTIL_TRACE_AT(kMessageDiagnosticLevel, TUtilityTraceCategory::Message, kMessageSource,
                     kLineRequestedArgument, kRequestedArgument, index, TString(fFileName),
                     static_cast<unsigned long>(fLine));
  }
  tavutil::detail::Raise<TInvalidParameter>(
      kOutOfRange, SourceLine{kMessageSource, kLineOutOfRange}, TUtilityTraceCategory::Message);
}

TagVar& TMessage::operator[](unsigned index) {
  CheckIndex(index);
  return fArgs.Data()[index];
}

const TagVar& TMessage::operator[](unsigned index) const {
  CheckIndex(index);
  return fArgs.Data()[index];
}

void TMessage::SetDebugging(const char* file, unsigned long line) {
  fFile = TString(file);
  fFileName = fFile;
  fLine = static_cast<std::uint32_t>(line);
}

void TMessage::SetStaticDebugging(const char* file, unsigned long line) noexcept {
  fFile = TString();
  fFileName = file;
  fLine = static_cast<std::uint32_t>(line);
}

TString TMessage::OwnedText() const {
  return fBorrowedText != nullptr ? TString(fBorrowedText) : fText;
}
