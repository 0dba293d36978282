// tavutil/msgstrpm.h: TMessageStorePM, the message store whose texts come from a language
// resource library.
// Licensed under the Apache License, Version 2.0.
//
// A component that owns a catalogue makes one TMessageStorePM; its stored messages then
// render in the current language, or with their default texts.
#ifndef TAVUTIL_MSGSTRPM_H
#define TAVUTIL_MSGSTRPM_H

#include <memory>
#include <tavutil/config.h>
#include <tavutil/message.h>
#include <tavutil/tdll.h>
#include <tavutil/tstring.h>

/// A message store serving the string resources of a language resource library: the text of
/// message (set, id) is string resource `id` (the set plays no part).
///
///   TSearchNLSPath::SetLang("German");
///   TMessageStorePM store(TMessage::StoreID(TString("App"), explicitInit), "appmsgs");
///   TMessage full(store.QueryStoreID(), 1, 7, "Disk %s is full", TagVar("C:"));
///   full.QueryMessage();   // resource 7 of German/appmsgs.so, or the default text
///
/// The library is chosen once, when the store is made: with the language "C", or when no
/// library can be found or loaded (traced, never thrown), the store has none and every
/// message renders its default text. The rules of TMessageStore about threads apply.
class TAVUTIL_API TMessageStorePM : public TMessageStore {
public:
  /// Registers the store and loads the library `dllName` of the current language; failures
  /// to find or load the library are only traced. Throws TInvalidRequest "Duplicate Message
  /// Store" when a store of that name exists, and std::bad_alloc when memory runs out.
  TMessageStorePM(const TMessage::StoreID& store, const char* dllName);
  /// Registers the store, which serves the library `dll` (copied). Throws TInvalidRequest
  /// "Duplicate Message Store" when a store of that name exists, and std::bad_alloc when
  /// memory runs out.
  TMessageStorePM(const TMessage::StoreID& store, const TDll& dll);
  /// Leaves the registry; the library stays loaded. Throws nothing.
  ~TMessageStorePM() override;

  /// A new Unicode TString with the text of string resource `messageId`, which the caller
  /// deletes; null without a library or when it has no such text (traced). Any other
  /// failure, memory running out included, is traced and gives null too. Throws nothing.
  TString* GetMsg(long setId, long messageId) override;

private:
  TString fDllName;
  std::unique_ptr<TDll> fDll;
};

#endif // TAVUTIL_MSGSTRPM_H
