// utility/platform/platform.h: the library's one window onto the operating system.
// Licensed under the Apache License, Version 2.0.
//
// The contract. Everything the library needs from the operating system is declared here and
// nowhere else; utility/platform/posix/ implements it for POSIX systems, windows/ for Windows.
// A service a platform lacks answers with a "not supported" result instead of failing to build.
// Every failure is a return value, with the system's error code where one helps; only memory that
// runs out throws (std::bad_alloc), where a function says so.
//
//   Error codes:        kErrorNoMemory, kErrorBadHandle..., ErrorText
//   Identity and time:  ThreadId, ProcessId, LocalTime, CurrentWallTime, BreakDownLocal,
//                       StandardTimeZone, BreakDownUtc
//   Files:              MakeDirectory, QueryPathKind, ExecutablePath, FindOnPath
//   Files given by name: ReadNamedFile, ReplaceWholeFile (the rules every name given is opened by)
//   Output files:       PathFits, OpenOutputFile, WriteOutputFile, CloseOutputFile
//   Temporary files:    OpenTempFile, WriteTempFile, ReadTempFile, SeekTempFile,
//                       TellTempFile, CloseTempFile (unnamed: nothing is left behind)
//   Mutexes:            OpenMutexHandle, LockMutex, UnlockMutex, CloseMutex
//   Shared memory:      CreateSection, OpenSection, SectionAddress, CloseSection
//   Dynamic libraries:  LibrarySuffix, OpenLibrary, FindSymbol, LibraryPath
//   Threads, semaphores: StartThread, NewSemaphore, WaitSemaphore, PostSemaphore,
//                        CloseSemaphore (time-outs on the monotonic clock)
//   Thread-end slots:   NewThreadSlot, SetThreadSlot, DeleteThreadSlot
//   Shared trace file:  OpenSharedFile, AppendSharedFile, CloseSharedFile
//   System log:         OpenSystemLog, WriteSystemLog, CloseSystemLog
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

// ---------------------------------------------------------------- error codes ----

// Error codes cross this interface as the system's own numbers: errno values on POSIX, Win32
// error codes on Windows. The portable code names the few it gives or tests itself through
// these constants, which each backend defines.

/// Memory ran out (ENOMEM; ERROR_NOT_ENOUGH_MEMORY).
extern const int kErrorNoMemory;
/// The object is not there or not open (EBADF; ERROR_INVALID_HANDLE).
extern const int kErrorBadHandle;
/// No such file, object or string (ENOENT; ERROR_FILE_NOT_FOUND, ERROR_RESOURCE_NAME_NOT_FOUND).
extern const int kErrorNotFound;
/// A library holds no string table this library can read (ENOEXEC;
/// ERROR_RESOURCE_TYPE_NOT_FOUND).
extern const int kErrorNoStringTable;
/// A buffer holds no whole character (ERANGE; ERROR_INSUFFICIENT_BUFFER).
extern const int kErrorBufferTooSmall;
/// An argument the call cannot take (EINVAL; ERROR_INVALID_PARAMETER).
extern const int kErrorInvalidArgument;
/// A write past the largest size a file may have (EFBIG; ERROR_FILE_TOO_LARGE).
extern const int kErrorFileTooLarge;

/// The system's text for `error`, one line with no ending newline, copied into `buffer` of
/// `size` bytes (cut to fit, always terminated when `size` > 0). Gives `buffer`.
const char* ErrorText(int error, char* buffer, std::size_t size) noexcept;

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

/// A wall-clock reading: seconds since 1970-01-01 UTC and the milliseconds into that second.
struct WallTime {
  std::int64_t seconds;
  int millisecond;
};
/// The current wall-clock time, without breaking it down (a fast clock read).
WallTime CurrentWallTime() noexcept;
/// Breaks `time` (seconds since 1970-01-01 UTC) down into local calendar fields. Returns
/// false, leaving `fields` unspecified, when the system cannot break that time down.
bool BreakDownLocal(std::int64_t time, std::tm& fields) noexcept;

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
/// read. Throws std::bad_alloc when memory runs out.
bool ExecutablePath(std::string& path);
/// Searches each directory of the `;`-separated list `directories`, in order, for `name`, with
/// `extension` (".so", say) appended when the file part of `name` has no `.`. Both `\` and `/`
/// separate directories. Gives the first candidate that is an existing non-directory file in
/// `found`, or false. Throws std::bad_alloc when memory runs out.
bool FindOnPath(const char* directories, const char* name, const char* extension,
                std::string& found);

// ------------------------------------------------------- files given by name ----

// A file, library or catalogue name the library or its tools are given may have been planted
// by another local user. Every such name is opened by the same rules: the open never waits
// (for the peer of a FIFO, say); only a regular file is used, never a directory, FIFO, device
// or socket; and a symbolic link at its last component is followed only when the link belongs
// to the process's effective user or to the owner of the directory that holds it, so that an
// administrator's link works and a link another user planted in a shared directory does not.
// (Windows refuses every such link: see the backend.) Writes past the process's file-size
// limit fail (kErrorFileTooLarge) instead of ending the process.

/// Result of opening a file given by name.
enum class NamedFileResult {
  opened,       ///< a regular file, or the very file a standard stream of the process has open
  isLink,       ///< a symbolic link the rule above does not follow; nothing was changed
  notRegular,   ///< a directory, FIFO, device or socket; nothing was changed
  foreignOwner, ///< a file of another user where only the process's own is taken
  tooLarge,     ///< more bytes than the caller takes
  missing,      ///< nothing of that name, or a directory on its path is missing
  failed,       ///< the system's error code says why
};

/// Reads the whole of the file `path` into `contents`: `tooLarge` when it holds more than
/// `limit` bytes. The file a standard stream of the process has open (/dev/stdin) is read too,
/// whatever its type. Other results leave `contents` unspecified; `missing` and `failed` come
/// with the system's error code. Throws std::bad_alloc when memory runs out.
NamedFileResult ReadNamedFile(const char* path, std::size_t limit, std::string& contents,
                              int& error);
/// Puts `size` bytes of `data` at `path` whole or not at all: writes them to a new file in the
/// same directory and renames that over `path` once all are written. `path`, when it exists,
/// must be a regular file (`notRegular`; `isLink` for a symbolic link, which is never
/// replaced). On failure only the new file is removed; `path` is as it was.
NamedFileResult ReplaceWholeFile(const char* path, const char* data, std::size_t size,
                                 int& error) noexcept;

// --------------------------------------------------------------- output files ----

/// A file open for writing from its start (a trace file).
struct OutputFile;

/// Whether the system accepts `path` as a name: shorter than its longest path, and no
/// component longer than its longest file name. Takes '/' as the only separator.
bool PathFits(const char* path) noexcept;
/// Creates the file `path`, or empties the one there, for writing, with the default
/// permissions less the umask, by the rules of files given by name: `isLink` and `notRegular`
/// change nothing. The file a standard stream of the process has open (/dev/stderr) is taken
/// whatever its type, and not emptied unless it is a regular file. `failed` with the system's
/// error code otherwise.
NamedFileResult OpenOutputFile(const char* path, OutputFile*& file, int& error) noexcept;
/// Writes all `size` bytes. Gives 0 or the system's error code: a write past the process's
/// file-size limit gives kErrorFileTooLarge (what fits is written) and never ends the process by a
/// signal.
int WriteOutputFile(OutputFile& file, const char* data, std::size_t size) noexcept;
/// Closes the file. Gives 0 or the system's error code (the file is closed either way). Null
/// does nothing.
int CloseOutputFile(OutputFile* file) noexcept;

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
MutexHandle* OpenMutexHandle(const char* name, int& error) noexcept;
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
/// system's library search. A path is opened by the rules of files given by name first: one
/// that leads to something other than a regular file, or through a link the rules do not
/// follow, is refused (": not a regular file", ": a symbolic link that is not followed" after
/// the name in `reason`) before the loader reads it. Every symbol is resolved now, so a missing
/// dependency or an unresolved symbol fails here rather than at first call. Gives an opaque
/// handle (the same one for a library already loaded), or null with the loader's own
/// explanation in `reason` and the system's error code (0 when it gives none) in `error`.
/// Nothing here unloads a library. Throws std::bad_alloc when memory runs out.
void* OpenLibrary(const char* file, std::string& reason, int& error);
/// The address of the symbol `name` exported by `library`, or null with the loader's
/// explanation in `reason`. Throws std::bad_alloc when memory runs out.
void* FindSymbol(void* library, const char* name, std::string& reason);
/// The full path of the loaded library `library`; false, leaving `path` alone, when it is not
/// known. Throws std::bad_alloc when memory runs out.
bool LibraryPath(void* library, std::string& path);

// ------------------------------------------------- shared trace file and system log ----

/// A text file that several processes append to. Every process that has it open through
/// OpenSharedFile is one of its writers and holds a shared advisory lock on it until it closes
/// it, so an opener can tell whether another writer is there.
struct SharedFileHandle;

/// Opens `path` for appending, making the file (0666 less the umask) when it is missing, by the
/// rules of files given by name (`isLink`, `notRegular`). The writers of one file run as one
/// user: a file of another user is `foreignOwner` (on POSIX systems). When no other writer
/// holds the file it is emptied first; otherwise its lines are kept and new ones go after
/// them. Another process's lock on the file delays the open for a bounded time only. `failed`
/// with the system's error code otherwise; `file` is set only for `opened`.
NamedFileResult OpenSharedFile(const char* path, SharedFileHandle*& file, int& error) noexcept;
/// Appends all `size` bytes at the current end of the file (a partial write is continued), or
/// nothing when they would pass the process's file-size limit. Gives 0, or the system's error
/// code when the bytes could not all be written (kErrorFileTooLarge past the limit).
int AppendSharedFile(SharedFileHandle& file, const char* data, std::size_t size) noexcept;
/// Leaves the file's writers and closes it. Null does nothing.
void CloseSharedFile(SharedFileHandle* file) noexcept;

/// A connection to the system log under one identity (syslog on POSIX systems).
struct SystemLogHandle;

/// How urgent a system-log entry is, from most to least.
enum class LogPriority { critical, error, warning, notice, info, debug };

/// Prepares entries under `ident` (a copy is kept) to the system log; `address` names another
/// log socket to use instead (null for the system's own). Connecting is retried at each write,
/// so a log that is not there yet is not an error here. Null only when memory runs out or the
/// platform has no system log.
SystemLogHandle* OpenSystemLog(const char* ident, const char* address) noexcept;
/// Sends one entry of `size` bytes (cut to fit one log record) with the process id. Gives 0, or
/// the system's error code when the log could not be reached; the entry is then lost.
int WriteSystemLog(SystemLogHandle& log, LogPriority priority, const char* text,
                   std::size_t size) noexcept;
/// Closes the connection. Null does nothing.
void CloseSystemLog(SystemLogHandle* log) noexcept;

// ------------------------------------------------------------- string resources ----

/// Reads string resource `id` of the loaded library `library` (a handle from OpenLibrary) into
/// `buffer`, which has room for `capacity` UTF-16 units: at most `capacity` - 1 units, then a
/// zero unit. A text cut there never ends in the first half of a surrogate pair. Gives the
/// number of units stored, or 0 with the system's error code in `error`: kErrorNotFound when the
/// library has no such string (an empty text counts as none), kErrorNoStringTable when it has
/// no string table this library can read, kErrorBufferTooSmall when `capacity` holds no whole
/// character, kErrorInvalidArgument for a null library or buffer.
std::size_t LoadStringResource(void* library, unsigned long id, char16_t* buffer,
                               std::size_t capacity, int& error) noexcept;

// ----------------------------------------------------------- threads and semaphores ----

/// What a new thread runs, given the argument of StartThread.
using ThreadEntry = void (*)(void* argument);
/// Starts a detached thread that runs `entry(argument)` and ends when it returns. The stack has
/// at least `stackSize` bytes (0: the platform's default; a size below the platform's minimum
/// is raised to it). False, with the system's error code in `error`, when no thread could be
/// started; `entry` then never runs.
bool StartThread(ThreadEntry entry, void* argument, std::size_t stackSize, int& error) noexcept;

/// A value of each thread that is handed to a release function when the thread ends.
struct ThreadSlot;
/// A new slot: each thread's non-null value goes to `release` when that thread ends. The value
/// of the thread that ends the process, and the values of threads still running when the slot
/// is deleted, are never released. Null when the platform has no such service (Windows: the
/// callers then do without) or no slot is left.
ThreadSlot* NewThreadSlot(void (*release)(void* value)) noexcept;
/// Sets the calling thread's value; false when the system refuses.
bool SetThreadSlot(ThreadSlot& slot, void* value) noexcept;
/// Deletes the slot; `release` is never called for it again. Null does nothing.
void DeleteThreadSlot(ThreadSlot* slot) noexcept;

/// A binary semaphore of the process: a count of 0 or 1.
struct SemaphoreHandle;

/// Result of WaitSemaphore. `abandoned` is for systems whose waits report that the object's
/// owner died; a POSIX semaphore has no owner and never gives it.
enum class SemaphoreWaitResult { acquired, timedOut, abandoned, failed };
/// Result of PostSemaphore.
enum class SemaphorePostResult { posted, full, failed };

/// A new semaphore with count 1 when `initial`, else 0. Null on failure, with the system's
/// error code in `error`.
SemaphoreHandle* NewSemaphore(bool initial, int& error) noexcept;
/// Waits up to `timeoutMs` milliseconds for the count to be 1 and takes it: 0 only looks, a
/// negative value waits for ever. The time-out is measured on the monotonic clock, so a change
/// of the wall clock neither ends the wait early nor stretches it. On `failed`, `code` is the
/// failing call's return value and `error` the system's error code.
SemaphoreWaitResult WaitSemaphore(SemaphoreHandle& semaphore, long timeoutMs, int& code,
                                  int& error) noexcept;
/// Raises the count from 0 to 1, waking one waiter. `full` when it is 1 already (the maximum),
/// with the system's code for too many posts in `error`; `failed` with the system's error code.
SemaphorePostResult PostSemaphore(SemaphoreHandle& semaphore, int& error) noexcept;
/// Destroys the semaphore, which no thread may be waiting on. Gives 0 or the system's error
/// code (the handle is gone either way). Null does nothing.
int CloseSemaphore(SemaphoreHandle* semaphore) noexcept;

// ------------------------------------------------------------------- temporary files ----

/// An anonymous temporary file open for reading and writing at one shared position. It never
/// has a name that another process could open, and the system reclaims it when it is closed
/// or when the process ends, however it ends.
struct TempFileHandle;

/// Makes a temporary file, owner-only, in the system's temporary directory (TMPDIR when set,
/// else /tmp). Null on failure, with the system's error code in `error`.
TempFileHandle* OpenTempFile(int& error) noexcept;
/// Writes `size` bytes at the position and moves past them. Gives the number written: fewer
/// than `size` only on failure, with the system's error code in `error` (kErrorFileTooLarge
/// past the process's file-size limit, which never ends the process).
std::size_t WriteTempFile(TempFileHandle& file, const void* data, std::size_t size,
                          int& error) noexcept;
/// Reads up to `size` bytes from the position and moves past them. Gives the number read:
/// fewer than `size` at the end of the file, or on failure with `error` set (else 0).
std::size_t ReadTempFile(TempFileHandle& file, void* data, std::size_t size, int& error) noexcept;
/// Moves the position to `offset`, or to the end when `offset` lies beyond it. Gives the
/// position reached, or -1 on failure.
std::int64_t SeekTempFile(TempFileHandle& file, std::uint64_t offset) noexcept;
/// The current position, or -1 on failure.
std::int64_t TellTempFile(TempFileHandle& file) noexcept;
/// Closes the file, which goes with it. Null does nothing.
void CloseTempFile(TempFileHandle* file) noexcept;

} // namespace tavutil::platform

#endif // TAVUTIL_PLATFORM_PLATFORM_H
