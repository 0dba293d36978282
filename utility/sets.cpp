// utility/sets.cpp: TElement, TBaseSetOf and its cursor.
// Licensed under the Apache License, Version 2.0.
//
// Operating-system independent. A singly linked list with first and last pointers: appending
// is constant time, everything else walks from the first node.
#include <tavutil/sets.h>

TElement::~TElement() = default;

TBaseSetOf::~TBaseSetOf() {
  TElement* node = fFirst;
  while (node != nullptr) {
    TElement* next = node->fNext;
    delete node;
    node = next;
  }
}

void TBaseSetOf::Add(void* item) {
  auto* node = new TElement(item);
  if (fFirst == nullptr) {
    fFirst = node;
  } else {
    fLast->fNext = node;
  }
  fLast = node;
  ++fCount;
}

void TBaseSetOf::Add(void* item, unsigned long position) {
  if (position >= fCount) {
    Add(item);
    return;
  }
  auto* node = new TElement(item);
  if (position == 0) {
    node->fNext = fFirst;
    fFirst = node;
  } else {
    TElement* before = fFirst;
    for (unsigned long i = 1; i < position; ++i) {
      before = before->fNext;
    }
    node->fNext = before->fNext;
    before->fNext = node;
  }
  ++fCount;
}

void* TBaseSetOf::Find(unsigned long index) const noexcept {
  if (index >= fCount) {
    return nullptr;
  }
  const TElement* node = fFirst;
  for (unsigned long i = 0; i < index; ++i) {
    node = node->fNext;
  }
  return node->fItem;
}

void TBaseSetOf::Remove(void* item) noexcept {
  TElement* before = nullptr;
  for (TElement* node = fFirst; node != nullptr; before = node, node = node->fNext) {
    if (node->fItem != item) {
      continue;
    }
    (before != nullptr ? before->fNext : fFirst) = node->fNext;
    if (node == fLast) {
      fLast = before;
    }
    --fCount;
    delete node;
    return;
  }
}

void TBaseSetOf::DeleteSet() noexcept {
  TElement* node = fFirst;
  fFirst = nullptr;
  fLast = nullptr;
  fCount = 0;
  while (node != nullptr) {
    TElement* next = node->fNext;
    DeleteElement(node->fItem);
    delete node;
    node = next;
  }
}

TBaseSetOf::Cursor::Cursor(TBaseSetOf& set) noexcept : fSet(&set), fCurrent(set.GetFirst()) {}

void* TBaseSetOf::Cursor::Element() const noexcept {
  return fCurrent != nullptr ? fCurrent->fItem : nullptr;
}

void* TBaseSetOf::Cursor::Next() noexcept {
  if (fCurrent != nullptr) {
    fCurrent = fCurrent->fNext;
  }
  return Element();
}
