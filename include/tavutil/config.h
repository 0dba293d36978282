// tavutil/config.h: the export macro and the few types every family shares.
// Licensed under the Apache License, Version 2.0.
//
// Every public class of the library is marked TAVUTIL_API; the library is built with hidden
// visibility, so whatever is not marked stays internal.
#ifndef TAVUTIL_CONFIG_H
#define TAVUTIL_CONFIG_H

#if defined(TAVUTIL_STATIC)
#define TAVUTIL_API
#elif defined(_WIN32)
#if defined(TAVUTIL_BUILDING)
#define TAVUTIL_API __declspec(dllexport)
#else
#define TAVUTIL_API __declspec(dllimport)
#endif
#else
#define TAVUTIL_API __attribute__((visibility("default")))
#endif

/// Marks a private member of an exported class that must stay out of the shared library's
/// symbol table, such as one taking an internal type. A DLL exports every member of an
/// exported class, so on Windows the mark does nothing.
#if defined(_WIN32) || defined(TAVUTIL_STATIC)
#define TAVUTIL_LOCAL
#else
#define TAVUTIL_LOCAL __attribute__((visibility("hidden")))
#endif

/// One UTF-16 code unit: the library's wide character on every platform. The name is part of
/// the published interface, reserved spelling included. TAVUTIL_WTEXT("text") is a string
/// literal of that type.
#if defined(_WIN32)
typedef wchar_t _Wchar_t; // NOLINT(bugprone-reserved-identifier)
#define TAVUTIL_WTEXT(text) L##text
#else
typedef char16_t _Wchar_t; // NOLINT(bugprone-reserved-identifier)
#define TAVUTIL_WTEXT(text) u##text
#endif

#endif // TAVUTIL_CONFIG_H
