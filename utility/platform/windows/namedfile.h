// utility/platform/windows/namedfile.h: opening files given by name, for the Windows backend.
// Licensed under the Apache License, Version 2.0.
//
// Internal to the Windows platform layer: the trace files, the shared trace file, the library
// loader and tavrc all open names through this. Never installed.
#ifndef TAVUTIL_PLATFORM_WINDOWS_NAMEDFILE_H
#define TAVUTIL_PLATFORM_WINDOWS_NAMEDFILE_H

#include "platform/platform.h"
#include "platform/windows/win32.h"

namespace tavutil::platform::windows {

/// How a file given by name is opened.
enum class FileAccess {
  read,     ///< for reading; the file must exist; shared for reading, writing and deleting
  truncate, ///< for writing from its start; made when missing, emptied once known to be a file;
            ///< shared for reading, writing and deleting
  append,   ///< for appending only; made when missing, kept; shared for reading and writing
};

/// Opens `path` by the rules of files given by name (platform.h), as Windows has them: the
/// open never waits (CreateFileA does not wait for a pipe's server); a symbolic link or other
/// reparse point at the last component is opened as itself and refused (`isLink`: making one
/// needs a privilege, and the rule by owners has no counterpart the system checks); and only a
/// disk file that is not a directory is taken (`notRegular` for a pipe, a device such as NUL
/// or a directory). On `opened`, `handle` is open; on `failed`, `error` holds the system's
/// error code. Throws nothing.
NamedFileResult OpenNamedFile(const char* path, FileAccess access, HANDLE& handle,
                              int& error) noexcept;

} // namespace tavutil::platform::windows

#endif // TAVUTIL_PLATFORM_WINDOWS_NAMEDFILE_H
