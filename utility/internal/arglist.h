// utility/internal/arglist.h: where a list of TagVar pointers ends.
// Licensed under the Apache License, Version 2.0.
//
// Internal to the library; never installed.
#ifndef TAVUTIL_INTERNAL_ARGLIST_H
#define TAVUTIL_INTERNAL_ARGLIST_H

#include <tavutil/tagvar.h>

namespace tavutil::detail {

/// Whether a list entry ends a variadic or array argument list: a null pointer, or a pointer
/// to a nil or end-of-arguments value (TMessage::fsEndOfArgs).
inline bool EndsList(const TagVar* entry) noexcept {
  return entry == nullptr || entry->IsNil() || entry->IsEndOfArgs();
}

} // namespace tavutil::detail

#endif // TAVUTIL_INTERNAL_ARGLIST_H
