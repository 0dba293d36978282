// utility/trefcnt.cpp: TRefCounted, the intrusive reference count.
// Licensed under the Apache License, Version 2.0.
//
// Operating-system independent: the interlocked count is a std::atomic.
#include <tavutil/exception.h>
#include <tavutil/trace.h>
#include <tavutil/trefcnt.h>

#include "internal/raise.h"

namespace {

constexpr char kSource[] = "utility/TREFCNT";
constexpr char kNullReference[] = "TReference null";
constexpr unsigned long kLineNullReference = 135; // fixed: the line quoted, not this file's

} // namespace

TRefCounted::TRefCounted(const TRefCounted& other) noexcept
    : fReferenceCount(other.fReferenceCount.load(std::memory_order_relaxed)) {}

TRefCounted& TRefCounted::operator=(const TRefCounted& other) noexcept {
  fReferenceCount.store(other.fReferenceCount.load(std::memory_order_relaxed),
                        std::memory_order_relaxed);
  return *this;
}

TRefCounted::~TRefCounted() = default;

void TRefCounted::AddRef() noexcept {
  // Release: the first reference publishes a newly built object to threads that find it
  // through a shared list and read its count (trace states do), so they see it whole.
  fReferenceCount.fetch_add(1, std::memory_order_release);
}

void TRefCounted::RemoveRef() {
  // Release publishes this thread's writes to the object; the thread that reaches 0 acquires
  // them all before Unreachable() runs. fetch_sub returns the value before the decrement, so
  // exactly one caller sees 1 here.
  if (fReferenceCount.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    Unreachable();
  }
}

void TRefCounted::Unreachable() {
  delete this;
}

long TRefCounted::QueryReferenceCount() const noexcept {
  return fReferenceCount.load(std::memory_order_acquire);
}

void TRefCounted::ThrowNullReference() {
  tavutil::detail::Raise<TInvalidRequest>(kNullReference,
                                          tavutil::detail::SourceLine{kSource, kLineNullReference},
                                          TUtilityTraceCategory::Utility);
}
