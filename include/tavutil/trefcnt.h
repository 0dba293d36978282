// tavutil/trefcnt.h: TRefCounted, the intrusive reference count, and TReference<T>.
// Licensed under the Apache License, Version 2.0.
//
// The library's shared objects (trace states, threads, semaphores, temporary-stream policies)
// derive from TRefCounted and live while a TReference holds them.
#ifndef TAVUTIL_TREFCNT_H
#define TAVUTIL_TREFCNT_H

#include <atomic>
#include <cstdint>
#include <tavutil/config.h>

/// The base of objects that live as long as someone holds a reference to them.
///
/// A new object has count 0. AddRef and RemoveRef change the count atomically, so references
/// may be taken and dropped on any thread; the one RemoveRef that brings the count to 0 calls
/// Unreachable(), which deletes the object unless a subclass decides otherwise.
///
///   class TJob : public TRefCounted { ... };
///   TReference<TJob> job(new TJob);    // count 1
///   TReference<TJob> other = job;      // count 2; the job dies with the last reference
class TAVUTIL_API TRefCounted {
public:
  /// Copies the other object's count value (not its references); no atomic exchange. Throws
  /// nothing.
  TRefCounted(const TRefCounted& other) noexcept;
  /// Copies the other object's count value; returns this object. Throws nothing.
  TRefCounted& operator=(const TRefCounted& other) noexcept;

  /// Adds one reference (atomic increment). Throws nothing.
  virtual void AddRef() noexcept;
  /// Drops one reference (atomic decrement); the call that reaches 0 calls Unreachable().
  /// Throws what Unreachable() throws, which the library's own never do.
  virtual void RemoveRef();
  /// Called once when the count drops to 0: deletes the object. Subclasses may override it.
  /// Throws what the object's destructor throws, which the library's own never do.
  virtual void Unreachable();
  /// The current count; another thread may change it at any moment. Throws nothing.
  virtual long QueryReferenceCount() const noexcept;

  /// Raises TInvalidRequest "TReference null"; dereferencing a null reference calls it.
  /// Throws TInvalidRequest always; never returns.
  [[noreturn]] static void ThrowNullReference();

protected:
  /// A new object with count 0. Throws nothing.
  TRefCounted() noexcept : fReferenceCount(0) {}
  /// Does nothing of its own; objects are deleted through Unreachable(). Throws nothing.
  virtual ~TRefCounted();

private:
  std::atomic<std::int32_t> fReferenceCount;
};

/// A smart pointer that holds one reference to a TRefCounted object, or is null.
///
/// Copies add a reference, destruction drops one. Dereferencing a null reference throws
/// TInvalidRequest "TReference null"; test IsNull() first where null is a normal state.
template <class T> class TReference {
public:
  /// Holds `object` (adding a reference), or is null. Throws nothing.
  TReference(T* object = nullptr) noexcept : fObject(object) {
    if (fObject != nullptr) {
      fObject->AddRef();
    }
  }
  /// Holds the other's object, adding a reference. Throws nothing.
  TReference(const TReference& other) noexcept : TReference(other.fObject) {}
  /// Takes over the other's reference; the other becomes null. Throws nothing.
  TReference(TReference&& other) noexcept : fObject(other.fObject) { other.fObject = nullptr; }
  /// Drops the reference held, if any. Throws what the object's RemoveRef() throws.
  ~TReference() { Release(); }

  /// Holds the other's object. Safe when both hold the same object. Throws what the old
  /// object's RemoveRef() throws.
  TReference& operator=(const TReference& other) {
    if (this != &other) {
      *this = other.fObject;
    }
    return *this;
  }
  /// Takes over the other's reference and drops the one held before. Throws what the old
  /// object's RemoveRef() throws.
  TReference& operator=(TReference&& other) {
    if (this != &other) {
      Release();
      fObject = other.fObject;
      other.fObject = nullptr;
    }
    return *this;
  }
  /// Holds `object` instead of the current one. The new reference is added before the old
  /// one is dropped, so assigning the object already held never deletes it. Throws what the
  /// old object's RemoveRef() throws.
  TReference& operator=(T* object) {
    if (object != nullptr) {
      object->AddRef();
    }
    T* old = fObject;
    fObject = object;
    if (old != nullptr) {
      old->RemoveRef();
    }
    return *this;
  }

  /// The object. Throws TInvalidRequest "TReference null" when the reference is null.
  T* operator->() const {
    if (fObject == nullptr) {
      TRefCounted::ThrowNullReference();
    }
    return fObject;
  }
  /// The object. Throws TInvalidRequest "TReference null" when the reference is null.
  T& operator*() const { return *operator->(); }

  /// Whether no object is held. Throws nothing.
  int IsNull() const noexcept { return fObject == nullptr; }
  /// The object held, or null; the reference keeps its count. Throws nothing.
  T* QueryPointer() const noexcept { return fObject; }
  /// Whether an object is held. Throws nothing.
  explicit operator bool() const noexcept { return fObject != nullptr; }

private:
  void Release() {
    T* old = fObject;
    fObject = nullptr;
    if (old != nullptr) {
      old->RemoveRef();
    }
  }

  T* fObject;
};

#endif // TAVUTIL_TREFCNT_H
