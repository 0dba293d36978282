// utility/internal/setelements.h: adding owned elements to the library's registries and
// taking them out by identity.
// Licensed under the Apache License, Version 2.0.
//
// Internal to the library; never installed. The registries (known categories, message stores)
// and the category switches are owning sets: an element added is deleted by the set, or by
// whoever takes it out again.
#ifndef TAVUTIL_INTERNAL_SETELEMENTS_H
#define TAVUTIL_INTERNAL_SETELEMENTS_H

#include <tavutil/sets.h>

#include <memory>

namespace tavutil::detail {

/// Appends `element` to `set`, which owns it from then on. Throws std::bad_alloc when the
/// set's node cannot be allocated; `element` is then deleted and the set is unchanged.
template <class T> void AddOwned(TSetOf<T>& set, std::unique_ptr<T> element) {
  set.Add(element.get());
  static_cast<void>(element.release()); // the set owns it now
}

/// Takes the first element that points at `target` out of `set` and deletes it; nothing when
/// there is none. It compares pointers, not keys, so an object that never registered cannot
/// take out a namesake that did. Throws nothing.
template <class T> void RemovePointerTo(TSetOf<TElemPointer<T>>& set, const T* target) noexcept {
  typename TSetOf<TElemPointer<T>>::Cursor cursor(set);
  for (TElemPointer<T>* item = cursor.Element(); item != nullptr; item = cursor.Next()) {
    if (item->QueryPointer() == target) {
      const std::unique_ptr<TElemPointer<T>> removed(item);
      set.Remove(item);
      return;
    }
  }
}

} // namespace tavutil::detail

#endif // TAVUTIL_INTERNAL_SETELEMENTS_H
