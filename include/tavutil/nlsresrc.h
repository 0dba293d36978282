// tavutil/nlsresrc.h: the language search path, and resource libraries found along it.
// Licensed under the Apache License, Version 2.0.
//
// Each language has its own copy of a resource library, in a directory named after the
// language. TSearchNLSPath finds the copy of the current language; TNLSResourceDll loads it.
// The language and the path are process-wide settings, changed through the static members.
#ifndef TAVUTIL_NLSRESRC_H
#define TAVUTIL_NLSRESRC_H

#include <memory>
#include <tavutil/config.h>
#include <tavutil/tdll.h>
#include <tavutil/tstring.h>

/// Finds a file for a base name along the language search path.
///
/// The path is a `;`-separated list of patterns in which `%E` stands for the directory of the
/// running program, `%L` for the language and `%N` for the file name (the base name with the
/// platform's library suffix when it has no `.`); `\` and `/` both separate directories. The
/// default path "%E\%L\%N;%E\%N;" looks in the language's directory beside the program, then
/// beside the program itself:
///
///   TSearchNLSPath::SetLang("German");
///   TSearchNLSPath search("appmsgs");
///   const char* path = search.FindFile();   // <program dir>/German/appmsgs.so, say
///
/// A language with a code-set suffix ("de_DE.1252") is tried first as a directory with a
/// subdirectory ("de_DE\1252"), then as one directory. The language "C" means none: its
/// search falls back to fsDefaultLocale ("English"). The settings may be changed and read on
/// any thread through SetLang, QueryLang and AddNLSpath; the fs members themselves must only
/// be touched while no other thread uses the settings. A member that runs out of memory
/// leaves the settings and the object as they were.
class TAVUTIL_API TSearchNLSPath {
public:
  /// A search for the base name `name`, nothing found yet. Throws std::bad_alloc when memory runs
  /// out.
  explicit TSearchNLSPath(const char* name);
  /// A search for the base name `name` (its buffer shared), nothing found yet. Throws nothing.
  explicit TSearchNLSPath(const TString& name) noexcept;
  /// Copies the name and the found path (each object owns its own copy of the path).
  /// Throws std::bad_alloc when memory runs out.
  ///@{
  TSearchNLSPath(const TSearchNLSPath& other);
  TSearchNLSPath& operator=(const TSearchNLSPath& other);
  ///@}
  /// Throws nothing.
  ~TSearchNLSPath();

  /// The full path of the file: the path found before, or the first found for the current
  /// language, then (when the language is "C") for fsDefaultLocale, then by the system's
  /// library search. The text lives as long as this object. Throws TAccessError
  /// "Unable to find file <name>" (id 1) when nothing is found, and std::bad_alloc when
  /// memory runs out.
  char* FindFile();
  /// The same as FindFile(). Throws TAccessError when nothing is found, and std::bad_alloc
  /// when memory runs out.
  operator char*() { return FindFile(); }
  /// The path found before, or one search along the path for `lang`; null when no candidate
  /// is an existing file (directories do not count). Throws std::bad_alloc when memory runs out.
  char* FindFile(const TString& lang);
  /// The path found before, or the file loaded by the system's library search (which stays
  /// loaded); null when it cannot be loaded. Throws std::bad_alloc when memory runs out.
  char* FindInPath();

  /// Sets the current language; null sets "C". Stores made afterwards use it.
  /// Throws std::bad_alloc when memory runs out.
  static void SetLang(const char* lang);
  /// A copy of the current language. Throws std::bad_alloc when memory runs out.
  static TString QueryLang();
  /// Puts `path` in front of the search path (`path;` then the old path); null does nothing.
  /// Throws std::bad_alloc when memory runs out.
  static void AddNLSpath(const char* path);

  /// The language tried when the current language is "C": "English".
  static const TString fsDefaultLocale;
  /// The language that means none: "C".
  static const TString fsLang_C;
  /// The current language; "C" at load.
  static TString fsLang;
  /// The search path; "%E\%L\%N;%E\%N;" at load.
  static TString fsNLSpath;

private:
  TString fName;
  std::unique_ptr<TString> fFound;
};

/// The resource library of a base name for the current language (see TSearchNLSPath).
class TAVUTIL_API TNLSResourceDll : public TDll {
public:
  /// Finds `name` with TSearchNLSPath::FindFile() and loads it. Throws TAccessError when the
  /// library cannot be found ("Unable to find file <name>") or loaded (TDll's text, or
  /// "Unable to find or open <name>"), all with id 1, and std::bad_alloc when memory runs out.
  explicit TNLSResourceDll(const char* name);
};

#endif // TAVUTIL_NLSRESRC_H
