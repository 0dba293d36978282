// tavutil/sparse.h: sparse arrays, untyped pointers stored by unsigned 32-bit index.
// Licensed under the Apache License, Version 2.0.
//
// TBaseSparseArrayOf keeps only the indices that are set, sorted in one growable array and
// found by binary search; TSparseArrayOf<T> is the typed array that owns its values. Like the
// sets, the untyped base holds void* values and the typed template releases them.
#ifndef TAVUTIL_SPARSE_H
#define TAVUTIL_SPARSE_H

#include <cstdint>
#include <memory>
#include <tavutil/config.h>

/// One entry of a sparse array: an index and the value stored there (never deleted by the
/// entry itself).
class TAVUTIL_API TSparseArrayElement {
public:
  /// An entry for `index` (a wider `unsigned long` keeps its low 32 bits) holding `value`.
  /// Throws nothing.
  TSparseArrayElement(unsigned long index, void* value) noexcept
      : fIndex(static_cast<std::uint32_t>(index)), fValue(value) {}
  TSparseArrayElement(const TSparseArrayElement&) = delete;
  TSparseArrayElement& operator=(const TSparseArrayElement&) = delete;
  /// Leaves the value alone. Throws nothing.
  virtual ~TSparseArrayElement();

  /// The entry's index. Throws nothing.
  unsigned long QueryIndex() const noexcept { return fIndex; }
  /// The value stored. Throws nothing.
  void* QueryValue() const noexcept { return fValue; }

private:
  friend class TBaseSparseArrayOf;
  std::uint32_t fIndex;
  void* fValue;
};

/// An untyped map from unsigned 32-bit indices to pointers, holding only the indices set.
///
/// Entries sit in one array sorted by index: lookups are binary searches (O(log n)); an
/// insertion or removal moves the later entries (O(n)), so filling in increasing index order
/// is cheapest. The array starts with room for 10 entries and doubles when full. Indices
/// given as `unsigned long` keep their low 32 bits. Its operations are protected: a typed
/// array derived from it (TSparseArrayOf<T>) offers them and releases the values through
/// DeleteElement. It has no lock: an owner that shares an array between threads guards it.
class TAVUTIL_API TBaseSparseArrayOf {
public:
  TBaseSparseArrayOf(const TBaseSparseArrayOf&) = delete;
  TBaseSparseArrayOf& operator=(const TBaseSparseArrayOf&) = delete;

protected:
  /// An empty array: no entries, no room. Throws nothing.
  TBaseSparseArrayOf() noexcept : fCount(0), fCapacity(0) {}
  /// Deletes the entries still held but releases none of their values: the derived class
  /// calls DeleteArray from its own destructor for that. Throws nothing.
  virtual ~TBaseSparseArrayOf();

  /// Releases one stored value (which may be null); supplied by the typed array. Throws
  /// nothing (DeleteArray, which calls it, ends the program otherwise).
  virtual void DeleteElement(void* value) = 0;

  /// The number of indices set. Throws nothing.
  unsigned long QueryCount() const noexcept { return fCount; }
  /// The number of entries the array has room for before it grows. Throws nothing.
  unsigned long QueryCapacity() const noexcept { return fCapacity; }
  /// The value stored at `index`, or null when the index is not set (or holds null).
  /// Throws nothing.
  void* Find(unsigned long index) const noexcept;
  /// The entry at zero-based `position` in index order: stores its index in `index` and gives
  /// its value. A position not below the count gives null and leaves `index` untouched.
  /// Throws nothing.
  void* FindIndex(unsigned long position, unsigned long& index) const noexcept;
  /// The entry for `index` and its position; when there is none, null, with `position` set to
  /// where such an entry would be inserted. Throws nothing.
  TSparseArrayElement* FindEntry(unsigned long index, unsigned long& position) const noexcept;
  /// Stores `value` at `index`. At an index already set, null removes the entry (releasing
  /// its value), another value replaces the stored one and then releases it, and the same
  /// value changes nothing. At a new index an entry is added, a null value included. Throws
  /// std::bad_alloc when memory runs out, and std::length_error when the array would pass
  /// 2^32 - 1 entries; either leaves the array unchanged and `value` with the caller.
  void Set(unsigned long index, void* value);
  /// Releases every value through DeleteElement and deletes every entry and the array: the
  /// array is empty, without room, and can be filled again. Throws nothing.
  void DeleteArray() noexcept;

private:
  /// Takes out the entry at `position`, moving the later ones down, then releases its value.
  void Remove(unsigned long position) noexcept;

  std::uint32_t fCount;
  std::uint32_t fCapacity;
  /// Entries sorted by strictly increasing index; slots from fCount on are null. The array
  /// owns the entries it points at (and never the values, which DeleteElement releases).
  std::unique_ptr<TSparseArrayElement*[]> fEntries;
};

/// A sparse array of `T` objects that it owns: Set hands a value over, replacing or removing
/// one deletes it, and so does destroying the array.
///
///   TSparseArrayOf<Session> sessions;
///   auto session = std::make_unique<Session>();
///   sessions.Set(4711, session.get());    // may throw: the session is still ours then
///   session.release();                    // owned by the array from here on
///   sessions.Set(4711, nullptr);          // deletes the session
///
/// A value must be stored at one index only, or it would be deleted twice.
template <class T> class TSparseArrayOf : public TBaseSparseArrayOf {
public:
  /// An empty array. Throws nothing.
  TSparseArrayOf() noexcept = default;
  /// Deletes every value. Throws nothing.
  ~TSparseArrayOf() override { DeleteArray(); }

  using TBaseSparseArrayOf::DeleteArray;
  using TBaseSparseArrayOf::QueryCount;
  /// The value stored at `index`, or null. Throws nothing.
  T* Find(unsigned long index) const noexcept {
    return static_cast<T*>(TBaseSparseArrayOf::Find(index));
  }
  /// The value at `position` in index order, its index stored in `index`; null (and `index`
  /// untouched) past the end. Throws nothing.
  T* FindIndex(unsigned long position, unsigned long& index) const noexcept {
    return static_cast<T*>(TBaseSparseArrayOf::FindIndex(position, index));
  }
  /// Stores `value` at `index` as TBaseSparseArrayOf::Set does, deleting a value it replaces
  /// or removes. Throws std::bad_alloc when memory runs out, and std::length_error past
  /// 2^32 - 1 entries; `value` then stays the caller's.
  void Set(unsigned long index, T* value) { TBaseSparseArrayOf::Set(index, value); }

protected:
  /// Deletes the value. Throws nothing.
  void DeleteElement(void* value) override { delete static_cast<T*>(value); }
};

#endif // TAVUTIL_SPARSE_H
