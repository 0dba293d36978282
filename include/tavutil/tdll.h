// tavutil/tdll.h: TDll, a loaded dynamic library and the string resources it holds.
// Licensed under the Apache License, Version 2.0.
//
// Language resource libraries hold message texts as numbered UTF-16 string resources; a TDll
// reads them. TNLSResourceDll (tavutil/nlsresrc.h) finds the library of the current language
// first, and TMessageStorePM (tavutil/msgstrpm.h) serves stored messages from it.
#ifndef TAVUTIL_TDLL_H
#define TAVUTIL_TDLL_H

#include <tavutil/config.h>
#include <tavutil/tstring.h>

/// A loaded dynamic library, by the name it was opened with or by its handle.
///
///   TDll messages("/opt/app/German/appmsgs.so");
///   TString text = messages.loadMessage(7);   // Unicode TString, at most 256 characters
///
/// Copies share the library; nothing ever unloads it (its texts may be in use anywhere).
/// Reading a string may run on several threads at once.
class TAVUTIL_API TDll {
public:
  /// Loads `file` (a path, or a name for the system's library search). Throws TAccessError
  /// "Unable to find or open <file>, GetLastError=<code>(x<code in hex>)", error id 1, when it
  /// cannot be loaded; the code is the system's (0 when the loader gives none). Throws
  /// std::bad_alloc when the name cannot be copied.
  explicit TDll(const char* file);
  /// Wraps a library that is already loaded (a handle from the system's loader); open.
  /// Throws nothing.
  explicit TDll(void* handle) noexcept;
  /// Another object on the same library, sharing the name. Throws nothing.
  ///@{
  TDll(const TDll& other) = default;
  TDll& operator=(const TDll& other) = default;
  ///@}
  /// Releases the name; the library stays loaded. Throws nothing.
  ~TDll() = default;

  /// True once the library is loaded. Throws nothing.
  int isOpen() const noexcept { return fOpen; }
  /// The system's handle of the library. Throws nothing.
  void* GetHandle() const noexcept { return fHandle; }

  /// The string resource `id` as a Unicode TString of at most 256 UTF-16 units (a longer text
  /// is cut there, never inside a surrogate pair). Throws TAccessError "Dll not loaded" (id 1)
  /// when the library is not open, and TAccessError "Error getting message" (id 2), after a
  /// trace entry with the system's error code, when it has no such string (an empty text
  /// counts as none). Throws std::bad_alloc when the text's buffer cannot be had.
  TString loadMessage(unsigned long id) const;

private:
  int fOpen;
  void* fHandle;
  TString fFile;
};

#endif // TAVUTIL_TDLL_H
