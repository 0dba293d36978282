// tavutil/tracesharedfile.h: TTraceSharedFileBase and TTraceSharedFile, a trace file that
// several processes append to.
// Licensed under the Apache License, Version 2.0.
//
// Every line carries the process and thread ids and is written whole under the machine-wide
// named mutex "qelvoTraceFile", so processes that trace into one file never mix their lines.
#ifndef TAVUTIL_TRACESHAREDFILE_H
#define TAVUTIL_TRACESHAREDFILE_H

#include <memory>
#include <tavutil/config.h>
#include <tavutil/mutexsem.h>
#include <tavutil/trace.h>
#include <tavutil/tstring.h>

namespace tavutil::platform {
struct SharedFileHandle;
} // namespace tavutil::platform

/// A trace state that appends each accepted entry as one line to a file shared by processes.
///
/// The file starts afresh when no other process has it open as a shared trace file; otherwise
/// the new lines go after the other writers'. Each line is "MM/DD-hh:mm:ss.cc PPPPPPPP:TTTTTTTT L
/// [<file>:<line>] <text>" and is positioned at the end of the file and written under the
/// named mutex "qelvoTraceFile" (taken after the trace mutex). The display-prefix flag is
/// ignored: lines always carry the full prefix. States are made through TTraceSharedFile.
///
/// The writers of one shared trace file run as one user: on POSIX systems a file that another
/// user owns is refused (traced once, nothing written). Another process's lock on the file
/// (any reader may take one) delays the open by a second at most; such an opener appends
/// without starting afresh. Under a file-size limit a line that would pass it is dropped
/// whole, and the process goes on.
class TAVUTIL_API TTraceSharedFileBase : public TTrace::Base {
public:
  /// Closes this process's handles to the named mutex and to the file. Takes no lock. Throws
  /// nothing.
  ~TTraceSharedFileBase() override;

  /// Replaces `prefix` with "MM/DD-hh:mm:ss.cc PPPPPPPP:TTTTTTTT L" (37 characters: local time
  /// to the hundredth, process and thread ids in upper-case hex, the level letter). Throws
  /// std::bad_alloc when memory runs out; `prefix` is then unchanged.
  void FormatPrefix(TString& prefix, unsigned long level) const;

  /// Appends one line under fsMutex and the named mutex. A file that could not be opened
  /// writes nothing, and a line that cannot be written is lost. Throws nothing.
  void Write(unsigned long level, const TTrace::Category& category,
             const TMessage& message) override;

protected:
  /// A state (levels 0xF, every component) on the file `fileName`, opened for appending and
  /// made when missing, without waiting. A symbolic link at its last component is followed
  /// only when it belongs to the process's effective user or to the owner of its directory;
  /// anything but a regular file is refused. A file that cannot be opened or is refused
  /// leaves a state that writes nothing (a refused link, and a file of another user, are
  /// traced at level 4 under the Trace category). Throws std::bad_alloc when memory runs out.
  explicit TTraceSharedFileBase(const char* fileName);

private:
  friend class TTraceSharedFile;
  /// Writes the prefix of FormatPrefix (without a NUL) at `out`; returns its end.
  static char* WritePrefix(char* out, unsigned long level) noexcept;

  TString fFileName;                          ///< the name given
  std::unique_ptr<TMutexSemaphore> fMutex;    ///< the named mutex "qelvoTraceFile"
  tavutil::platform::SharedFileHandle* fFile; ///< the open file, or null
};

/// A trace handle on a new shared trace file state.
///
///   TTraceSharedFile trace("/var/tmp/app.trc");   // every process of the app traces here
///   trace.SetLevel(0x4 | 0x8);
///
/// Copies share the state; the last one destroys it and closes the file.
class TAVUTIL_API TTraceSharedFile : public TTrace {
public:
  /// An empty handle: it traces nothing. Throws nothing.
  TTraceSharedFile() noexcept = default;
  /// A state appending to `fileName` (see TTraceSharedFileBase). Throws std::bad_alloc when
  /// memory runs out.
  explicit TTraceSharedFile(const char* fileName);
  /// Another handle on the same state. Throws nothing.
  ///@{
  TTraceSharedFile(const TTraceSharedFile& other) = default;
  TTraceSharedFile& operator=(const TTraceSharedFile& other) = default;
  ///@}
  /// Releases the state; the last handle destroys it and closes the file. Throws nothing.
  ~TTraceSharedFile() override;
};

#endif // TAVUTIL_TRACESHAREDFILE_H
