// tavutil/tracestream.h: TTraceStreamBase and TTraceStream, trace states that write lines to
// a standard output stream or to a file they open by name.
// Licensed under the Apache License, Version 2.0.
//
// The state is one more TTrace::Base: it takes the entries its masks and categories accept
// and writes each as one line, "<prefix> [<file>:<line>] <text>", flushed at its end.
#ifndef TAVUTIL_TRACESTREAM_H
#define TAVUTIL_TRACESTREAM_H

#include <iosfwd>
#include <memory>
#include <tavutil/config.h>
#include <tavutil/trace.h>

class TTraceStream;

/// A trace state that writes each accepted entry as one line to an output stream.
///
/// The stream is the caller's (borrowed), handed over (owned and deleted by the state), a
/// file the state opens by name (owned), or none (the state writes nothing). States are made
/// through TTraceStream, which holds them.
class TAVUTIL_API TTraceStreamBase : public TTrace::Base {
public:
  /// Deletes the stream when the state owns it. Takes no lock (see SetStream). Throws
  /// nothing.
  ~TTraceStreamBase() override;

  /// Writes "<prefix> [<file part>:<line>] <text>" and a flushed line end, under fsMutex.
  /// The file part is what follows the last '\' or '/' of the message's debugging file,
  /// "????.???" when it has none. With no stream nothing is written, and a stream in a failed
  /// state keeps its state and writes nothing (the line is lost). Throws nothing.
  void Write(unsigned long level, const TTrace::Category& category,
             const TMessage& message) override;

protected:
  /// A state without stream; it writes nothing until one is set. Throws std::bad_alloc when
  /// memory runs out.
  TTraceStreamBase();
  /// A state writing to the caller's `stream`, which must outlive it (or be replaced first).
  /// Throws std::bad_alloc when memory runs out.
  explicit TTraceStreamBase(std::ostream& stream);
  /// A state that owns `stream` (from new) and deletes it; null writes nothing. Throws
  /// std::bad_alloc when memory runs out, before it takes `stream`.
  explicit TTraceStreamBase(std::ostream* stream);
  /// A state writing to the file `fileName`, truncated. Missing directories on its path
  /// ('\' and '/' both separate them) are made first, outermost first; a name longer than
  /// the system accepts makes none. When they cannot be made (or the name is null) the state
  /// has no stream; when the file cannot be opened, or is not a regular file (a FIFO, device or
  /// directory, opened without waiting and refused), the stream is in a failed state. The
  /// file one of the process's standard streams has open is taken whatever its type
  /// ("/dev/stderr"). Either way it writes nothing, and nothing is reported, except for a
  /// symbolic link as the last component that belongs neither to the process's effective user
  /// nor to the owner of its directory (a link another user planted in a shared directory):
  /// it is not followed, and the refusal is traced (level 4, Trace category). A write past the
  /// process's file-size limit fails the stream like any failed write; it never ends the
  /// process. Throws std::bad_alloc when memory runs out.
  explicit TTraceStreamBase(const char* fileName);

  /// Deletes the current stream when owned, then writes to the caller's `stream`, not owned.
  /// Passing the stream the state already owns changes nothing. Takes no lock: the caller
  /// makes sure no other thread traces through this state meanwhile. Throws nothing.
  void SetStream(std::ostream& stream) noexcept;
  /// Deletes the current stream when owned (and not `stream` itself), then owns `stream`;
  /// null leaves the state writing nothing. Takes no lock, as the other SetStream. Throws
  /// nothing.
  void SetStream(std::ostream* stream) noexcept;

private:
  friend class TTraceStream;

  std::unique_ptr<std::ostream> fOwned; ///< the stream when the state owns it, else null
  std::ostream* fStream;                ///< where lines go; null writes nothing
};

/// A trace handle on a new stream trace state.
///
///   TTraceStream trace("logs\\run.trc");   // makes logs/ when missing
///   trace.SetLevel(0x4 | 0x400);            // errors and exceptions
///   TTraceStream console(std::cerr);        // lines to a stream the caller keeps
///
/// Copies share the state; the last one destroys it (and an owned stream with it).
class TAVUTIL_API TTraceStream : public TTrace {
public:
  /// A state without stream: it traces nothing until SetStream. Throws std::bad_alloc when
  /// the state cannot be made.
  TTraceStream();
  /// A state writing to the file `fileName` (see TTraceStreamBase(const char*)). Throws
  /// std::bad_alloc when the state cannot be made.
  explicit TTraceStream(const char* fileName);
  /// A state writing to the caller's `stream`, which must outlive the state. Throws
  /// std::bad_alloc when the state cannot be made.
  explicit TTraceStream(std::ostream& stream);
  /// A state that owns `stream` (from new); null writes nothing. Throws std::bad_alloc when
  /// the state cannot be made, after deleting `stream`.
  explicit TTraceStream(std::ostream* stream);
  /// Another handle on the same state. Throws nothing.
  ///@{
  TTraceStream(const TTraceStream& other) = default;
  TTraceStream& operator=(const TTraceStream& other) = default;
  ///@}
  /// Releases the state; the last handle destroys it. Throws nothing.
  ~TTraceStream() override;

  /// Forwards to the state's SetStream(std::ostream&). Nothing when the handle is empty or
  /// holds a state of another kind. Throws nothing.
  void SetStream(std::ostream& stream) noexcept;
  /// Forwards to the state's SetStream(std::ostream*). Nothing when the handle is empty or
  /// holds a state of another kind; `stream` then stays the caller's. Throws nothing.
  void SetStream(std::ostream* stream) noexcept;

private:
  /// A state that owns `stream`, which is deleted when the state cannot be made.
  static TTraceStreamBase* NewOwningState(std::ostream* stream);
  /// The held state, or null when the handle is empty or holds another kind of state.
  TTraceStreamBase* StreamState() const noexcept;
};

#endif // TAVUTIL_TRACESTREAM_H
