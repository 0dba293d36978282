// utility/tracefactory.cpp: trace factories and the trace factory loader.
// Licensed under the Apache License, Version 2.0.
//
// Operating-system independent. The loader pointer is an atomic, so factories on any thread
// see a loader made or cleared on another one.
#include <tavutil/tracefactory.h>

std::atomic<TFactoryLoader<TTraceFactory>*> TTraceFactory::fsOnlyLoaderInstance{nullptr};

TTraceFactory::TTraceFactory(const TFactoryType& type) : TFactory<TTraceFactory>(type) {
  if (TFactoryLoader<TTraceFactory>* loader = fsOnlyLoaderInstance.load()) {
    loader->Add(GetType(), this);
  }
}

TTraceFactory::~TTraceFactory() {
  // Only this factory's own registration: one that was never registered (made before the
  // loader, or refused as a duplicate) leaves a namesake's in place.
  if (TFactoryLoader<TTraceFactory>* loader = fsOnlyLoaderInstance.load()) {
    loader->Remove(GetType(), this);
  }
}

TFactoryLoader<TTraceFactory>* TTraceFactory::GetLoaderInstance() noexcept {
  return fsOnlyLoaderInstance.load();
}

void TTraceFactory::SetLoaderInstance(TFactoryLoader<TTraceFactory>* loader) noexcept {
  fsOnlyLoaderInstance.store(loader);
}

TTraceFactoryLoader::TTraceFactoryLoader() {
  TFactoryLoader<TTraceFactory>* expected = nullptr;
  if (!TTraceFactory::fsOnlyLoaderInstance.compare_exchange_strong(expected, this)) {
    ThrowSingletonException();
  }
}

TTraceFactoryLoader::~TTraceFactoryLoader() {
  TFactoryLoader<TTraceFactory>* self = this;
  TTraceFactory::fsOnlyLoaderInstance.compare_exchange_strong(self, nullptr);
}
