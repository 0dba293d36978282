// utility/message_store.cpp: TMessageStore and TMessageArchive, the store registry.
// Licensed under the Apache License, Version 2.0.
//
// Operating-system independent. The archive's lock is never held around a trace, a raise or
// a store's GetMsg: a lookup finds the store under the lock and calls it outside.
#include <tavutil/exception.h>
#include <tavutil/message.h>

#include "internal/messagesource.h"
#include "internal/raise.h"
#include "internal/scopedlock.h"
#include "internal/setelements.h"

#include <atomic>
#include <memory>
#include <utility>

namespace {

using tavutil::detail::kMessageSource;
using tavutil::detail::ScopedLock;
using tavutil::detail::SourceLine;

constexpr char kSolitaryObject[] = "Solitary Object";
constexpr char kDuplicateStore[] = "Duplicate Message Store";
// fixed: lines quoted beyond this file's length
constexpr unsigned long kLineSolitaryObject = 552;
constexpr unsigned long kLineDuplicateStore = 598;

/// The registry; null until the archive is built and after it is destroyed.
std::atomic<TMessageArchive*> gArchive{nullptr};

/// A copy of the name in a buffer of its own, so that no other handle on any thread shares
/// the buffer that lookups compare.
TMessage::StoreID PrivateCopy(const TMessage::StoreID& name) {
  const char* text = name;
  if (text == nullptr) {
    return TMessage::StoreID();
  }
  TString copy(text, name.length());
  copy.SetUnicode(name.IsUnicode());
  return TMessage::StoreID(copy, explicitInit);
}

} // namespace

TMessageArchive::TMessageArchive() {
  TMessageArchive* expected = nullptr;
  if (!gArchive.compare_exchange_strong(expected, this)) {
    tavutil::detail::Raise<TInvalidRequest>(kSolitaryObject,
                                            SourceLine{kMessageSource, kLineSolitaryObject},
                                            TUtilityTraceCategory::Message);
  }
}

TMessageArchive::~TMessageArchive() {
  TMessageArchive* self = this;
  gArchive.compare_exchange_strong(self, nullptr);
  // The set's destructor releases the elements; the stores live on, unregistered.
}

bool TMessageArchive::Add(TMessageStore& store) {
  auto element = std::make_unique<TElemPointer<TMessageStore>>(&store);
  const ScopedLock lock(fLock);
  if (fStores.Find(store.Key()) != nullptr) {
    return false;
  }
  tavutil::detail::AddOwned(fStores, std::move(element));
  return true;
}

void TMessageArchive::Remove(const TMessageStore& store) noexcept {
  const ScopedLock lock(fLock);
  // By identity: a store that never registered must not take out a namesake.
  tavutil::detail::RemovePointerTo(fStores, &store);
}

TMessageStore* TMessageArchive::Lookup(const TMessage::StoreID& store) noexcept {
  const ScopedLock lock(fLock);
  const TElemPointer<TMessageStore>* item = fStores.Find(store);
  return item != nullptr ? item->QueryPointer() : nullptr;
}

TString* TMessageArchive::GetMsg(const TMessage::StoreID& store, long setId, long messageId) {
  // Outside the lock: a store may trace (which takes the trace mutex) or render other
  // stored messages from its GetMsg.
  TMessageStore* found = Lookup(store);
  return found != nullptr ? found->GetMsg(setId, messageId) : nullptr;
}

TMessageStore::TMessageStore(const TMessage::StoreID& store) : fStore(PrivateCopy(store)) {
  TMessageArchive* archive = gArchive.load();
  if (archive != nullptr && !archive->Add(*this)) {
    // Raised outside the archive lock: raising traces.
    tavutil::detail::Raise<TInvalidRequest>(kDuplicateStore,
                                            SourceLine{kMessageSource, kLineDuplicateStore},
                                            TUtilityTraceCategory::Message);
  }
}

TMessageStore::~TMessageStore() {
  TMessageArchive* archive = gArchive.load();
  if (archive != nullptr) {
    archive->Remove(*this);
  }
}

int TMessageStore::IsCached() const {
  return 0;
}

TMessageStore* TMessageStore::Find(const TMessage::StoreID& store) noexcept {
  TMessageArchive* archive = gArchive.load();
  return archive != nullptr ? archive->Lookup(store) : nullptr;
}

TString* TMessageStore::GetMsg(const TMessage::StoreID& store, long setId, long messageId) {
  TMessageArchive* archive = gArchive.load();
  return archive != nullptr ? archive->GetMsg(store, setId, messageId) : nullptr;
}
