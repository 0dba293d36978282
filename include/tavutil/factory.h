// tavutil/factory.h: factories registered by type name and loaded on demand from libraries.
// Licensed under the Apache License, Version 2.0.
//
// A TFactoryType names a type and the provider library that supplies it. A loader keeps the
// registered factories and, on a miss, loads the provider library and calls its entry point
// "FactoryLoaderInitializeDll", which registers the library's factories.
//
// Trust model: a factory type, and a trace specification that names a trace factory, name code
// to load. The library name may be a path ("Type[/opt/x]", "Type[../x]", "x[sub/y](arg)"),
// and a relative path, like a relative entry of the library path, is taken from the working
// directory, as the system's own path search takes it. These strings are configuration of the
// program's owner, never input from others. A library name that is a path to something other
// than a regular file (a FIFO, a directory) is refused before the system's loader reads it.
#ifndef TAVUTIL_FACTORY_H
#define TAVUTIL_FACTORY_H

#include <memory>
#include <tavutil/config.h>
#include <tavutil/sets.h>
#include <tavutil/tstring.h>

class TMutexSemaphore;

/// A type name and the name of the library that provides the type.
///
/// "Stream[tracelib]" names type "Stream" from library "tracelib"; "Stream" alone (or
/// "Stream[tracelib", without the closing bracket) names type and library "Stream". Types are
/// equal when their names are equal without regard to case; the library name takes no part.
class TAVUTIL_API TFactoryType {
public:
  /// Parses `spec`; null gives empty names. Throws std::bad_alloc when memory runs out.
  TFactoryType(const char* spec);
  /// Parses the bytes of `spec` up to its first NUL. Throws std::bad_alloc when memory runs
  /// out.
  TFactoryType(const TString& spec);
  /// Shares both names. Throws nothing.
  TFactoryType(const TFactoryType& other) noexcept;
  /// Shares both names of `other`; assigning a type to itself does nothing. Throws nothing.
  TFactoryType& operator=(const TFactoryType& other) noexcept;
  /// Throws nothing.
  ~TFactoryType();

  /// 1 when the type names are equal without regard to case, else 0. Throws nothing.
  ///@{
  int operator==(const TFactoryType& other) const noexcept;
  int IsEqual(const TFactoryType& other) const noexcept { return *this == other; }
  ///@}
  /// 1 when this type name orders before the other's without regard to case, else 0.
  /// Throws nothing.
  int operator<(const TFactoryType& other) const noexcept;

  /// The type name. Throws nothing.
  const TString& GetName() const noexcept { return fName; }
  /// The name of the library that provides the type. Throws nothing.
  const TString& GetDllName() const noexcept { return fDllName; }

private:
  friend class TFactoryElement;
  void Parse(const char* spec, std::size_t length);

  TString fName;
  TString fDllName;
};

/// One registration of a loader: a private copy of the type and the factory (not owned).
class TAVUTIL_API TFactoryElement {
public:
  /// Copies the names of `type` into buffers of its own. Throws std::bad_alloc when memory
  /// runs out.
  TFactoryElement(const TFactoryType& type, void* factory);
  TFactoryElement(const TFactoryElement&) = delete;
  TFactoryElement& operator=(const TFactoryElement&) = delete;
  /// Leaves the factory alone. Throws nothing.
  ~TFactoryElement();

  /// The registered type, the key a loader finds the registration by. Throws nothing.
  const TFactoryType& Key() const noexcept { return fType; }
  /// The registered factory. Throws nothing.
  void* QueryFactory() const noexcept { return fFactory; }

private:
  TFactoryType fType;
  void* fFactory;
};

/// The registrations of a loader, found by type name without regard to case.
class TAVUTIL_API TFactoryLoaderSet : public TKeySetOf<TFactoryElement, TFactoryType> {};

/// The untyped factory registry: factories by type name, provider libraries loaded on a miss.
///
/// Factories are held as `void*` and never owned; typed loaders (TFactoryLoader<T>) wrap it.
/// Every operation may be called from any thread: the registrations and library loading are
/// guarded by the loader's own recursive lock, held across a whole Find, so the factories a
/// provider library builds while it is loaded (as static objects or from its entry point) are
/// complete before another thread can find them. A factory made by a program is registered
/// from its base constructor to its base destructor: make it before another thread may ask
/// for its type, and destroy it after none can any more. The lock is the library's own: one
/// that cannot be taken (its mutex could not be made) ends the process rather than let a
/// registration race a lookup.
class TAVUTIL_API TFactoryLoaderBase {
public:
  TFactoryLoaderBase(const TFactoryLoaderBase&) = delete;
  TFactoryLoaderBase& operator=(const TFactoryLoaderBase&) = delete;
  /// Releases the registrations (never the factories). Throws nothing.
  virtual ~TFactoryLoaderBase();

  /// The factory registered for `type`; on a miss, loads the type's library (LoadDll) and
  /// looks again. Null when there is still none, after a trace "Unable to find factory type
  /// %s" at level 0x8. Throws std::bad_alloc when memory runs out; a provider's failure to
  /// load is only traced.
  void* Find(const TFactoryType& type);
  /// Registers `factory` for `type`. Throws TInvalidRequest "Already defined" when a factory
  /// of an equal type name is registered, and std::bad_alloc when the registration cannot be
  /// allocated; nothing is changed then.
  void Add(const TFactoryType& type, void* factory);
  /// Takes out the registration of `type`; an unknown type is ignored. Throws nothing.
  void Remove(const TFactoryType& type) noexcept;
  /// Takes out the registration of `type` only when it is `factory`'s, so an object that was
  /// never registered cannot take out another's registration. Throws nothing.
  void Remove(const TFactoryType& type, void* factory) noexcept;
  /// Loads the type's library: first as found along the library path (fsLibpath, with the
  /// platform's library suffix as default extension), then by its name through the system's
  /// library search. Gives 0 whatever happened; failures are traced. Throws std::bad_alloc
  /// when memory runs out.
  int LoadDll(const TFactoryType& type);
  /// Loads the library `file` (the platform's library suffix appended when its last '.' does
  /// not start it) with every symbol resolved now, and calls its "FactoryLoaderInitializeDll".
  /// A name with a '/' is a path, taken from the working directory when relative; a path that
  /// leads to anything but a regular file, or through a symbolic link of another user, is
  /// refused ("not a regular file" in the reason). Gives 0, or 1 after a trace at level 0x8
  /// naming the file, the system's error code and the loader's reason when the library cannot
  /// be loaded or lacks the entry point. Whatever the entry point throws is dropped. A loaded
  /// library is never unloaded. Throws std::bad_alloc when memory runs out.
  ///@{
  int LoadDll(char* file);
  int LoadDll(const char* file);
  ///@}

  /// Puts `path`, a ';'-separated list of directories, in front of the library path; null or
  /// empty changes nothing. A relative directory is taken from the working directory at each
  /// search: give absolute ones unless that is meant. Throws std::bad_alloc when memory runs
  /// out; the path is then unchanged.
  static void AddLibpath(const char* path);
  /// The library path searched before the system's: ';'-separated directories, empty at load.
  /// Changed through AddLibpath (under the trace mutex); read it only while no thread adds.
  static TString fsLibpath;

protected:
  /// An empty registry. Throws std::bad_alloc when memory runs out.
  TFactoryLoaderBase();
  /// Raises the error of a second instance, for typed loaders that allow one. Throws
  /// TInvalidRequest "Singleton Object" always.
  [[noreturn]] void ThrowSingletonException();

private:
  /// The factory registered for `type`, or null; call under the lock.
  void* Lookup(const TFactoryType& type) const;

  std::unique_ptr<TFactoryLoaderSet> fSet;
  std::unique_ptr<TMutexSemaphore> fLock;
};

/// The base of factories of kind T: holds the type the factory makes.
template <class T> class TFactory {
public:
  /// Keeps a copy of `type`, sharing its names. Throws nothing.
  explicit TFactory(const TFactoryType& type) noexcept : fType(type) {}
  TFactory(const TFactory&) = delete;
  TFactory& operator=(const TFactory&) = delete;
  /// Throws nothing.
  virtual ~TFactory() = default;

  /// The type the factory makes. Throws nothing.
  const TFactoryType& GetType() const noexcept { return fType; }

private:
  TFactoryType fType;
};

/// A loader of factories of kind T (classes derived from TFactory<T>, registered as T*).
template <class T> class TFactoryLoader : public TFactoryLoaderBase {
public:
  /// The factory of `type` (see TFactoryLoaderBase::Find), or null. Throws std::bad_alloc
  /// when memory runs out.
  T* Find(const TFactoryType& type) { return static_cast<T*>(TFactoryLoaderBase::Find(type)); }
  /// Registers `factory` for `type`. Throws TInvalidRequest "Already defined" when a factory
  /// of an equal type name is registered, and std::bad_alloc when memory runs out.
  void Add(const TFactoryType& type, T* factory) { TFactoryLoaderBase::Add(type, factory); }
  using TFactoryLoaderBase::Remove;

protected:
  /// An empty registry. Throws std::bad_alloc when memory runs out.
  TFactoryLoader() = default;
};

#endif // TAVUTIL_FACTORY_H
