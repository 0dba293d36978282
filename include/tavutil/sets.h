// tavutil/sets.h: ordered sets of item pointers with forward cursors.
// Licensed under the Apache License, Version 2.0.
//
// TBaseSetOf is the one untyped, singly linked set; TSetOf<T> owns typed items,
// TKeySetOf<T, Key> adds a linear lookup by key and TElemPointer<T> points without owning.
// The library's registries (message stores, trace categories, factories) are such sets.
#ifndef TAVUTIL_SETS_H
#define TAVUTIL_SETS_H

#include <cstdint>
#include <tavutil/config.h>

/// One node of a set: an untyped item pointer (never deleted by the node) and the link.
class TAVUTIL_API TElement {
public:
  explicit TElement(void* item = nullptr) noexcept : fItem(item), fNext(nullptr) {}
  TElement(const TElement&) = delete;
  TElement& operator=(const TElement&) = delete;
  virtual ~TElement();

private:
  friend class TBaseSetOf;
  void* fItem;
  TElement* fNext;
};

/// An ordered set of untyped item pointers in the order they were added.
///
/// Duplicates are allowed; every lookup walks from the first element. The set never deletes
/// an item itself: DeleteSet hands each item to DeleteElement, which the typed sets supply.
/// Only Add can fail (its node is allocated); nothing else throws. The set has no lock:
/// callers that share a set guard it themselves.
class TAVUTIL_API TBaseSetOf {
public:
  /// A forward cursor: Element() is the current item, Next() moves on; null at the end.
  class TAVUTIL_API Cursor {
  public:
    Cursor(const Cursor&) noexcept = default;
    Cursor& operator=(const Cursor&) noexcept = default;
    /// The current item, or null at the end.
    void* Element() const noexcept;
    /// Moves to the next node and returns its item, or null at (and after) the end.
    void* Next() noexcept;

  protected:
    /// Stands on the set's first element.
    explicit Cursor(TBaseSetOf& set) noexcept;

  private:
    [[maybe_unused]] TBaseSetOf* fSet; // the set walked, kept for the cursor's copies
    TElement* fCurrent;
  };

  TBaseSetOf() noexcept : fCount(0), fFirst(nullptr), fLast(nullptr) {}
  TBaseSetOf(const TBaseSetOf&) = delete;
  TBaseSetOf& operator=(const TBaseSetOf&) = delete;
  /// Deletes every node; items are not touched.
  virtual ~TBaseSetOf();

  /// Appends the item. Throws std::bad_alloc when the node cannot be allocated; the set is
  /// then unchanged.
  void Add(void* item);
  /// Inserts the item at zero-based `position`; at or beyond the end it appends. Throws
  /// std::bad_alloc as Add(void*) does.
  void Add(void* item, unsigned long position);
  /// The item at zero-based `index`, or null when `index` >= the number of elements.
  void* Find(unsigned long index) const noexcept;
  /// Takes out the first node holding exactly this pointer; an absent item changes nothing.
  void Remove(void* item) noexcept;
  unsigned long GetNumberElements() const noexcept { return fCount; }

protected:
  /// Releases one stored item; supplied by the typed sets.
  virtual void DeleteElement(void* item) = 0;
  /// Releases every item through DeleteElement and deletes every node; the set is empty after.
  void DeleteSet() noexcept;

private:
  TElement* GetFirst() const noexcept { return fFirst; }

  std::uint32_t fCount;
  TElement* fFirst;
  TElement* fLast;
};

/// A set that owns its items: destroying the set deletes them; Remove hands one back.
///
/// An Add that throws std::bad_alloc has not taken the item: the caller still owns it, so
/// `set.Add(new T)` leaks then. Hold the item in a std::unique_ptr until Add returns.
template <class T> class TSetOf : public TBaseSetOf {
public:
  /// A cursor that yields typed items.
  class Cursor : public TBaseSetOf::Cursor {
  public:
    explicit Cursor(TSetOf& set) noexcept : TBaseSetOf::Cursor(set) {}
    T* Element() const noexcept { return static_cast<T*>(TBaseSetOf::Cursor::Element()); }
    T* Next() noexcept { return static_cast<T*>(TBaseSetOf::Cursor::Next()); }
  };

  TSetOf() noexcept = default;
  ~TSetOf() override { DeleteSet(); }

  void Add(T* item) { TBaseSetOf::Add(item); }
  void Add(T* item, unsigned long position) { TBaseSetOf::Add(item, position); }
  T* Find(unsigned long index) const noexcept { return static_cast<T*>(TBaseSetOf::Find(index)); }
  void Remove(T* item) noexcept { TBaseSetOf::Remove(item); }

protected:
  void DeleteElement(void* item) override { delete static_cast<T*>(item); }
};

/// How a keyed set matches an item against a key: by default the item's Key() compared with
/// IsEqual. Specialise it for a set whose comparison differs (ignoring case, say).
template <class T, class Key> struct TKeyCompare {
  static bool Matches(const T& item, const Key& key) { return item.Key().IsEqual(key) != 0; }
};

/// A TSetOf with a linear lookup by key; the earliest added match wins.
template <class T, class Key> class TKeySetOf : public TSetOf<T> {
public:
  using TSetOf<T>::Find;
  /// The first item whose key matches, or null. Throws only what the key comparison throws
  /// (nothing, for the library's keys).
  T* Find(const Key& key) const {
    typename TSetOf<T>::Cursor cursor(const_cast<TKeySetOf&>(*this));
    for (T* item = cursor.Element(); item != nullptr; item = cursor.Next()) {
      if (TKeyCompare<T, Key>::Matches(*item, key)) {
        return item;
      }
    }
    return nullptr;
  }
};

/// A set item that points at an object without owning it; its key is the object's key, so
/// Key() must not be called on a null pointer.
template <class T> class TElemPointer {
public:
  explicit TElemPointer(T* pointer = nullptr) noexcept : fPointer(pointer) {}
  T* QueryPointer() const noexcept { return fPointer; }
  T* operator->() const noexcept { return fPointer; }
  decltype(auto) Key() const { return fPointer->Key(); }

private:
  T* fPointer;
};

#endif // TAVUTIL_SETS_H
