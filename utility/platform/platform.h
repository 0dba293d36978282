// utility/platform/platform.h: the library's one window onto the operating system.
// Licensed under the Apache License, Version 2.0.
//
// The contract. Everything the library needs from the operating system is declared here and
// nowhere else; utility/platform/posix/ implements it for Linux, windows/ later. A service a
// platform lacks answers with a "not supported" result instead of failing to build. Nothing
// here throws: every failure is a return value, with the system's error code where one helps.
//
//   Identity and time:  ThreadId, ProcessId, LocalTime, StandardTimeZone, BreakDownUtc
//   Files:              MakeDirectory, QueryPathKind, ExecutablePath, SearchPath
//   Mutexes:            OpenMutex, LockMutex, UnlockMutex, CloseMutex
//   Shared memory:      CreateSection, OpenSection, SectionAddress, CloseSection
//   Dynamic libraries:  LibrarySuffix, LoadLibrary, FindSymbol, LibraryPath
//   String resources:   LoadStringResource
//
// Internal to the library; never installed.
#ifndef TAVUTIL_PLATFORM_PLATFORM_H
#define TAVUTIL_PLATFORM_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

namespace tavutil::platform {

// ------------------------------------------------------------ identity and time ----

/// The calling thread's system-wide id.
std::uint32_t ThreadId() noexcept;
/// The calling process's id.
std::uint32_t ProcessId() noexcept;

/// A local wall-clock time broken down to milliseconds.
struct LocalTimeValue {
  int year;
  int month; ///< 1 to 12
  int day;   ///< 1 to 31
  int hour;
  int minute;
  int second;
  int millisecond;
};
/// The current local time.
LocalTimeValue LocalTime() noexcept;

/// The machine's standard time zone in seconds west of UTC (daylight saving not applied),
/// read afresh from the zone settings at each call; 0 (UTC) when none is configured.
std::int32_t StandardTimeZone() noexcept;
/// Breaks `time` (seconds since 1970-01-01 UTC) down into UTC calendar fields. Returns false,
/// leaving `fields` unspecified, when the system cannot break that time down.
bool BreakDownUtc(std::int64_t time, std::tm& fields) noexcept;

// ---------------------------------------------------------------------- files ----

/// Result of MakeDirectory.
enum class MakeDirectoryResult { made, exists, failed };
/// Makes one directory (its parent must exist) with the default permissions less the umask.
MakeDirectoryResult MakeDirectory(const char* path) noexcept;

/// What a path names.
enum class PathKind { missing, file, directory, other };
/// What `path` names, following symbolic links; `missing` when it cannot be examined.
PathKind QueryPathKind(const char* path) noexcept;
/// The full path of the running executable. False, leaving `path` alone, when it cannot be
/// read. Throws std::bad_alloc.
bool ExecutablePath(std::string& path);
/// Searches each directory of the `;`-separated list `directories`, in order, for `name`, with
/// `extension` (".so", say) appended when the file part of `name` has no `.`. Both `\` and `/`
/// separate directories. Gives the first candidate that is an existing non-directory file in
/// `found`, or false. Throws std::bad_alloc.
bool SearchPath(const char* directories, const char* name, const char* extension,
                std::string& found);

// -------------------------------------------------------------------- mutexes ----

/// A recursive mutex of the system: unnamed (private to the process) or named (one mutex for
/// every process that opens the name). A holder that ends without releasing it, thread or
/// whole process, leaves it to the next locker, who acquires it.
struct MutexHandle;

/// Result of LockMutex.
enum class MutexLockResult { acquired, timedOut, failed };

/// Makes an unnamed mutex when `name` is null or empty; otherwise opens the mutex of that
/// name, or makes it when none exists. Null on failure, with the system's error code in
/// `error`.
MutexHandle* OpenMutex(const char* name, int& error) noexcept;
/// Waits up to `timeoutMs` milliseconds for the mutex: 0 tries once, a negative value waits
/// for ever. The calling thread may already hold it (each lock then needs its own unlock).
MutexLockResult LockMutex(MutexHandle& mutex, long timeoutMs) noexcept;
/// Releases one hold of the calling thread; does nothing when the thread holds none.
void UnlockMutex(MutexHandle& mutex) noexcept;
/// Releases whatever the calling thread still holds and closes the mutex; a named one goes
/// when its last user closes it. Gives 0, or the system's error code of a failed step (the
/// handle is gone either way). Null does nothing.
int CloseMutex(MutexHandle* mutex) noexcept;

// -------------------------------------------------------------- shared memory ----

/// A named section of memory shared between processes, mapped for reading and writing.
struct SectionHandle;

/// Result of CreateSection and OpenSection.
enum class SectionResult { ok, exists, notFound, failed };

/// Makes a new section of `size` zero bytes under `name` (not empty) and maps it. Gives
/// `exists` when a section of that name is in use (never joins it), `failed` with the
/// system's error code otherwise.
SectionResult CreateSection(const char* name, std::size_t size, SectionHandle*& section,
                            int& error) noexcept;
/// Opens and maps the section of that name; `notFound` when there is none, `failed` with the
/// system's error code when it cannot be mapped.
SectionResult OpenSection(const char* name, SectionHandle*& section, int& error) noexcept;
/// Address of the section's first byte.
void* SectionAddress(const SectionHandle& section) noexcept;
/// Unmaps and closes the section; it goes when the last process that maps it closes it.
/// Gives 0 or the system's error code of a failed step. Null does nothing.
int CloseSection(SectionHandle* section) noexcept;

// ---------------------------------------------------------- dynamic libraries ----

/// The platform's shared-library suffix with its dot: ".so" here, ".dll" on Windows.
const char* LibrarySuffix() noexcept;
/// Loads a dynamic library: a name with a `/` is a path, any other name goes through the
/// system's library search. Every symbol is resolved now, so a missing dependency or an
/// unresolved symbol fails here rather than at first call. Gives an opaque handle (the same one
/// for a library already loaded), or null with the loader's own explanation in `reason` and the
/// system's error code (0 when it gives none) in `error`. Nothing here unloads a library.
/// Throws std::bad_alloc.
void* LoadLibrary(const char* file, std::string& reason, int& error);
/// The address of the symbol `name` exported by `library`, or null with the loader's
/// explanation in `reason`. Throws std::bad_alloc.
void* FindSymbol(void* library, const char* name, std::string& reason);
/// The full path of the loaded library `library`; false, leaving `path` alone, when it is not
/// known. Throws std::bad_alloc.
bool LibraryPath(void* library, std::string& path);

// ------------------------------------------------- shared trace file and system log ----
// (reserved for the shared trace file's locks and the system-log output)

// ------------------------------------------------------------- string resources ----

/// Reads string resource `id` of the loaded library `library` (a handle from LoadLibrary) into
/// `buffer`, which has room for `capacity` UTF-16 units: at most `capacity` - 1 units, then a
/// zero unit. A text cut there never ends in the first half of a surrogate pair. Gives the
/// number of units stored, or 0 with the system's error code in `error`: ENOENT when the
/// library has no such string (an empty text counts as none), ENOEXEC when it has no string
/// table this library can read, ERANGE when `capacity` holds no whole character, EINVAL for a
/// null library or buffer.
std::size_t LoadStringResource(void* library, unsigned long id, char16_t* buffer,
                               std::size_t capacity, int& error) noexcept;

// ----------------------------------------------------------- threads and semaphores ----
// (reserved for threads, binary semaphores and the monotonic clock)

// ------------------------------------------------------------------- temporary files ----
// (reserved for anonymous temporary files)

} // namespace tavutil::platform

#endif // TAVUTIL_PLATFORM_PLATFORM_H
