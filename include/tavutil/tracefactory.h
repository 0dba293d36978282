// tavutil/tracefactory.h: trace outputs made by factories, and the one trace factory loader.
// Licensed under the Apache License, Version 2.0.
//
// A trace specification whose output name is not built in ("mytrace[mylib](argument)") asks
// the trace factory loader for the factory of that type, loading its provider library when
// needed, and makes the output with the factory's CreateTrace(argument).
#ifndef TAVUTIL_TRACEFACTORY_H
#define TAVUTIL_TRACEFACTORY_H

#include <atomic>
#include <tavutil/config.h>
#include <tavutil/factory.h>
#include <tavutil/trace.h>

/// The base of trace-output factories: names a type and makes trace handles from an argument.
///
/// A factory registers itself with the trace factory loader when one exists at its
/// construction, and takes itself out when it is destroyed; one built while no loader exists
/// stays unregistered. A provider library builds its factories when the loader loads it:
///
///   class TMyFactory : public TTraceFactory {
///   public:
///     TMyFactory() : TTraceFactory(TFactoryType("mytrace[mylib]")) {}
///     TTrace CreateTrace(const char* argument) override;   // a handle on a new output
///   };
///   extern "C" void FactoryLoaderInitializeDll() { static TMyFactory factory; }
///
/// A factory is findable from the start of its base constructor to the end of its base
/// destructor; see TFactoryLoaderBase for what that asks of factories a program makes itself.
class TAVUTIL_API TTraceFactory : public TFactory<TTraceFactory> {
public:
  /// Copies `type` and registers the factory when a loader exists. Throws TInvalidRequest
  /// "Already defined" when a factory of that type name is registered, and std::bad_alloc
  /// when memory runs out.
  explicit TTraceFactory(const TFactoryType& type);
  /// Takes the factory's registration out of the loader, when there is one. Throws nothing.
  ~TTraceFactory() override;

  /// A handle on a new trace output made from `argument` (never null; possibly empty text).
  /// An empty handle means no output. Throws what the implementation throws, which leaves
  /// TTrace's constructor.
  virtual TTrace CreateTrace(const char* argument) = 0;

  /// The trace factory loader, or null when none exists. Throws nothing.
  static TFactoryLoader<TTraceFactory>* GetLoaderInstance() noexcept;
  /// Makes `loader` (or null) the trace factory loader, whatever was there. Throws nothing.
  static void SetLoaderInstance(TFactoryLoader<TTraceFactory>* loader) noexcept;

protected:
  friend class TTraceFactoryLoader;
  /// The one trace factory loader; null until one is made.
  static std::atomic<TFactoryLoader<TTraceFactory>*> fsOnlyLoaderInstance;
};

/// The trace factory loader: one per process, made on first use by a trace specification
/// (or earlier by the program) and never deleted by the library.
class TAVUTIL_API TTraceFactoryLoader : public TFactoryLoader<TTraceFactory> {
public:
  /// Becomes the trace factory loader. Throws TInvalidRequest "Singleton Object" when one
  /// exists already (that one stays), and std::bad_alloc when memory runs out.
  TTraceFactoryLoader();
  /// Stops being the trace factory loader, then releases the registrations. Throws nothing.
  ~TTraceFactoryLoader() override;

  /// The trace factory loader, or null (the same as TTraceFactory::GetLoaderInstance).
  /// Throws nothing.
  static TFactoryLoader<TTraceFactory>* GetInstance() noexcept {
    return TTraceFactory::GetLoaderInstance();
  }
};

#endif // TAVUTIL_TRACEFACTORY_H
