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
  /// A node holding `item`, linked to nothing. Throws nothing.
  explicit TElement(void* item = nullptr) noexcept : fItem(item), fNext(nullptr) {}
  TElement(const TElement&) = delete;
  TElement& operator=(const TElement&) = delete;
  /// Leaves the item alone. Throws nothing.
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
/// The set has no lock: callers that share a set guard it themselves.
class TAVUTIL_API TBaseSetOf {
public:
  /// A forward cursor: Element() is the current item, Next() moves on; null at the end.
  class TAVUTIL_API Cursor {
  public:
    /// A cursor on the same set at the same place. Throws nothing.
    ///@{
    Cursor(const Cursor&) noexcept = default;
    Cursor& operator=(const Cursor&) noexcept = default;
    ///@}
    /// The current item, or null at the end. Throws nothing.
    void* Element() const noexcept;
    /// Moves to the next node and returns its item, or null at (and after) the end.
    /// Throws nothing.
    void* Next() noexcept;

  protected:
    /// Stands on the set's first element. Throws nothing.
    explicit Cursor(TBaseSetOf& set) noexcept;

  private:
    [[maybe_unused]] TBaseSetOf* fSet; // the set walked, kept for the cursor's copies
    TElement* fCurrent;
  };

  /// An empty set. Throws nothing.
  TBaseSetOf() noexcept : fCount(0), fFirst(nullptr), fLast(nullptr) {}
  TBaseSetOf(const TBaseSetOf&) = delete;
  TBaseSetOf& operator=(const TBaseSetOf&) = delete;
  /// Deletes every node; items are not touched. Throws nothing.
  virtual ~TBaseSetOf();

  /// Appends the item. Throws std::bad_alloc when the node cannot be allocated; the set is
  /// then unchanged.
  void Add(void* item);
  /// Inserts the item at zero-based `position`; at or beyond the end it appends. Throws
  /// std::bad_alloc when the node cannot be allocated; the set is then unchanged.
  void Add(void* item, unsigned long position);
  /// The item at zero-based `index`, or null when `index` >= the number of elements.
  /// Throws nothing.
  void* Find(unsigned long index) const noexcept;
  /// Takes out the first node holding exactly this pointer; an absent item changes nothing.
  /// Throws nothing.
  void Remove(void* item) noexcept;
  /// The number of elements. Throws nothing.
  unsigned long GetNumberElements() const noexcept { return fCount; }

protected:
  /// Releases one stored item; supplied by the typed sets. Throws nothing (DeleteSet, which
  /// calls it, ends the program otherwise).
  virtual void DeleteElement(void* item) = 0;
  /// Releases every item through DeleteElement and deletes every node; the set is empty after.
  /// Throws nothing.
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
    /// Stands on the set's first element. Throws nothing.
    explicit Cursor(TSetOf& set) noexcept : TBaseSetOf::Cursor(set) {}
    /// The current item, or null at the end. Throws nothing.
    T* Element() const noexcept { return static_cast<T*>(TBaseSetOf::Cursor::Element()); }
    /// Moves on and returns the next item, or null at (and after) the end. Throws nothing.
    T* Next() noexcept { return static_cast<T*>(TBaseSetOf::Cursor::Next()); }
  };

  /// An empty set. Throws nothing.
  TSetOf() noexcept = default;
  /// Deletes every item. Throws nothing.
  ~TSetOf() override { DeleteSet(); }

  /// Appends `item` and owns it from then on. Throws std::bad_alloc when the node cannot be
  /// allocated; the item is then not taken.
  void Add(T* item) { TBaseSetOf::Add(item); }
  /// Inserts `item` at zero-based `position` (at or beyond the end: appends) and owns it from
  /// then on. Throws std::bad_alloc when the node cannot be allocated; the item is then not
  /// taken.
  void Add(T* item, unsigned long position) { TBaseSetOf::Add(item, position); }
  /// The item at zero-based `index`, or null past the end. Throws nothing.
  T* Find(unsigned long index) const noexcept { return static_cast<T*>(TBaseSetOf::Find(index)); }
  /// Takes the item out and hands it back to the caller, who owns it again. Throws nothing.
  void Remove(T* item) noexcept { TBaseSetOf::Remove(item); }

protected:
  /// Deletes the item. Throws nothing.
  void DeleteElement(void* item) override { delete static_cast<T*>(item); }
};

/// How a keyed set matches an item against a key: by default the item's Key() compared with
/// IsEqual. Specialise it for a set whose comparison differs (ignoring case, say).
template <class T, class Key> struct TKeyCompare {
  /// Whether `item` has the key `key`. Throws what the key's IsEqual throws.
  static bool Matches(const T& item, const Key& key) { return item.Key().IsEqual(key) != 0; }
};

/// A TSetOf with a linear lookup by key; the earliest added match wins.
template <class T, class Key> class TKeySetOf : public TSetOf<T> {
public:
  using TSetOf<T>::Find;
  /// The first item whose key matches, or null. Throws what TKeyCompare<T, Key>::Matches
  /// throws (nothing, for the library's keys).
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
  /// Points at `pointer`. Throws nothing.
  explicit TElemPointer(T* pointer = nullptr) noexcept : fPointer(pointer) {}
  /// The object pointed at. Throws nothing.
  ///@{
  T* QueryPointer() const noexcept { return fPointer; }
  T* operator->() const noexcept { return fPointer; }
  ///@}
  /// The object's key. Throws what the object's Key() throws.
  decltype(auto) Key() const { return fPointer->Key(); }

private:
  T* fPointer;
};

#endif // TAVUTIL_SETS_H
