// utility/platform/posix/namedfile.h: opening files given by name, and writing under the
// process's file-size limit, for the POSIX backend.
// Licensed under the Apache License, Version 2.0.
//
// Internal to the POSIX platform layer: the trace files, the shared trace file, the library
// loader, the temporary files and tavrc all open and write through these. Never installed.
#ifndef TAVUTIL_PLATFORM_POSIX_NAMEDFILE_H
#define TAVUTIL_PLATFORM_POSIX_NAMEDFILE_H

#include "platform/platform.h"

#include <cstddef>

namespace tavutil::platform::posix {

/// How a file given by name is opened.
enum class FileAccess {
  read,     ///< for reading; the file must exist
  truncate, ///< for writing from its start; made when missing, emptied once known regular
  append,   ///< for appending; made when missing, kept
};

/// Opens `path` by the rules of files given by name (platform.h): without waiting, a symbolic
/// link at its last component followed only when it belongs to the effective user or to the
/// owner of its directory, and only a regular file taken, or, when `standardStreams`, the very
/// file one of the process's standard streams (descriptors 0 to 2) has open. A new file gets
/// 0666 less the umask. On `opened`, `descriptor` is open (close-on-exec, blocking); on
/// `failed`, `error` holds the system's error code. Throws nothing.
NamedFileResult OpenNamedFile(const char* path, FileAccess access, bool standardStreams,
                              int& descriptor, int& error) noexcept;

/// Whether a file-size limit (RLIMIT_FSIZE) is in force now. A writer that asks once, at its
/// open, pays nothing per write when there is none.
bool FileSizeLimited() noexcept;

/// Writes all `size` bytes of `data` at `descriptor`'s offset, resumed after signals and
/// partial writes. When `sizeLimited`, SIGXFSZ is blocked in the calling thread around the
/// write, so a write past the limit fails with EFBIG instead of ending the process (a signal
/// it raised is taken off before the mask is restored; a caller that blocks SIGXFSZ itself
/// keeps its mask and its pending signal). Gives the number of bytes written; fewer than
/// `size` with the system's error code in `error` (else 0). Throws nothing.
std::size_t WriteWithinSizeLimit(int descriptor, const void* data, std::size_t size,
                                 bool sizeLimited, int& error) noexcept;

} // namespace tavutil::platform::posix

#endif // TAVUTIL_PLATFORM_POSIX_NAMEDFILE_H
