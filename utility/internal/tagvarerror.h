// utility/internal/tagvarerror.h: the errors of the tagged values and their payload helper.
// Licensed under the Apache License, Version 2.0.
//
// Internal to the library; never installed. Shared by the three sources of the family
// (values, operators, text and binary forms); the texts, ids and severities live in one of
// them (utility/tagvar.cpp).
#ifndef TAVUTIL_INTERNAL_TAGVARERROR_H
#define TAVUTIL_INTERNAL_TAGVARERROR_H

#include <new>
#include <utility>

namespace tavutil::detail {

/// Raise TInvalidRequest "type mismatch" (error id 2, recoverable), "not implemented" (1,
/// unrecoverable) or "unknown type" (3, unrecoverable) by the throw convention, quoting
/// "utility/TAGVAR" at `line` and traced under the TagVar category. Never return.
///@{
[[noreturn]] void RaiseTypeMismatch(unsigned long line);
[[noreturn]] void RaiseNotImplemented(unsigned long line);
[[noreturn]] void RaiseUnknownType(unsigned long line);
///@}

/// A new payload object, or null when memory runs out: a value whose allocation failed keeps
/// its tag with a null payload instead of throwing. The TagVar that stores it owns it.
/// Throws what T's constructor throws, std::bad_alloc excepted.
template <class T, class... Args> T* NewOrNull(Args&&... args) {
  try {
    return new T(std::forward<Args>(args)...);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

} // namespace tavutil::detail

#endif // TAVUTIL_INTERNAL_TAGVARERROR_H
