// utility/platform/windows/win32.h: <windows.h> for the Windows backend, and the helpers its
// files share.
// Licensed under the Apache License, Version 2.0.
//
// Internal; never installed.
#ifndef TAVUTIL_PLATFORM_WINDOWS_WIN32_H
#define TAVUTIL_PLATFORM_WINDOWS_WIN32_H

#include <string>
#include <windows.h>

namespace tavutil::platform::windows {

/// `path` with every `/` turned into `\`, the only separator some Win32 calls accept.
/// Throws std::bad_alloc when memory runs out.
std::string NativeSeparators(std::string path);

/// `path` with every `\` turned into `/`: the form of the paths the library builds itself.
/// Throws std::bad_alloc when memory runs out.
std::string PortableSeparators(std::string path);

/// The full path of `module` (null: the executable) with `/` separators, read with
/// GetModuleFileNameA into a buffer grown until the whole path fits. False, leaving `path` alone,
/// on failure. Throws std::bad_alloc when memory runs out.
bool ModulePath(HMODULE module, std::string& path);

} // namespace tavutil::platform::windows

#endif // TAVUTIL_PLATFORM_WINDOWS_WIN32_H
