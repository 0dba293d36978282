// utility/sparse.cpp: TSparseArrayElement and TBaseSparseArrayOf.
// Licensed under the Apache License, Version 2.0.
//
// Operating-system independent. The entry array holds raw pointers so that making room is a
// plain move of pointers; the array object owns every entry it points at.
#include <tavutil/sparse.h>

#include <algorithm>
#include <limits>
#include <stdexcept>

namespace {

constexpr std::uint32_t kFirstCapacity = 10;
constexpr std::uint32_t kMaxEntries = std::numeric_limits<std::uint32_t>::max();

} // namespace

TSparseArrayElement::~TSparseArrayElement() = default;

TBaseSparseArrayOf::~TBaseSparseArrayOf() {
  for (std::uint32_t i = 0; i < fCount; ++i) {
    delete fEntries[i];
  }
}

TSparseArrayElement* TBaseSparseArrayOf::FindEntry(unsigned long index,
                                                   unsigned long& position) const noexcept {
  const auto key = static_cast<std::uint32_t>(index);
  position = 0;
  if (fCount == 0 || key < fEntries[0]->fIndex) {
    return nullptr;
  }
  if (key == fEntries[0]->fIndex) {
    return fEntries[0];
  }
  // Invariant: the entry at low is below the key; the one at high (if any) above it.
  std::uint32_t low = 0;
  std::uint32_t high = fCount;
  std::uint32_t middle = fCount / 2;
  while (middle != low) {
    TSparseArrayElement* entry = fEntries[middle];
    if (entry->fIndex == key) {
      position = middle;
      return entry;
    }
    if (entry->fIndex < key) {
      low = middle;
    } else {
      high = middle;
    }
    middle = low + (high - low) / 2;
  }
  position = middle + 1;
  return nullptr;
}

void* TBaseSparseArrayOf::Find(unsigned long index) const noexcept {
  unsigned long position = 0;
  const TSparseArrayElement* entry = FindEntry(index, position);
  return entry != nullptr ? entry->fValue : nullptr;
}

void* TBaseSparseArrayOf::FindIndex(unsigned long position, unsigned long& index) const noexcept {
  if (position >= fCount) {
    return nullptr;
  }
  index = fEntries[position]->fIndex;
  return fEntries[position]->fValue;
}

void TBaseSparseArrayOf::Set(unsigned long index, void* value) {
  unsigned long found = 0;
  if (TSparseArrayElement* entry = FindEntry(index, found)) {
    if (value == nullptr) {
      Remove(found);
    } else if (value != entry->fValue) {
      void* old = entry->fValue;
      entry->fValue = value;
      DeleteElement(old);
    }
    return;
  }
  if (fCount == kMaxEntries) {
    throw std::length_error("sparse array full");
  }
  // Everything that can fail happens before the array changes.
  auto element = std::make_unique<TSparseArrayElement>(index, value);
  const auto position = static_cast<std::uint32_t>(found);
  TSparseArrayElement** entries = fEntries.get();
  if (fCount < fCapacity) {
    std::copy_backward(entries + position, entries + fCount, entries + fCount + 1);
  } else {
    const std::uint32_t capacity =
        fCapacity == 0 ? kFirstCapacity
                       : (fCapacity > kMaxEntries / 2 ? kMaxEntries : fCapacity * 2);
    auto grown = std::make_unique<TSparseArrayElement*[]>(capacity); // all slots null
    std::copy(entries, entries + position, grown.get());
    std::copy(entries + position, entries + fCount, grown.get() + position + 1);
    fEntries = std::move(grown);
    fCapacity = capacity;
  }
  fEntries[position] = element.release();
  ++fCount;
}

void TBaseSparseArrayOf::Remove(unsigned long position) noexcept {
  TSparseArrayElement** entries = fEntries.get();
  const std::unique_ptr<TSparseArrayElement> entry(entries[position]);
  std::copy(entries + position + 1, entries + fCount, entries + position);
  --fCount;
  entries[fCount] = nullptr;
  // The value goes last, so a DeleteElement that looks at the array finds it consistent.
  DeleteElement(entry->fValue);
}

void TBaseSparseArrayOf::DeleteArray() noexcept {
  const std::unique_ptr<TSparseArrayElement*[]> entries = std::move(fEntries);
  const std::uint32_t count = fCount;
  fCount = 0;
  fCapacity = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::unique_ptr<TSparseArrayElement> entry(entries[i]);
    DeleteElement(entry->fValue);
  }
}
