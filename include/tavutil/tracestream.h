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
  /// Deletes the stream when the state owns it. Takes no lock (see SetStream).
  ~TTraceStreamBase() override;

  /// Writes "<prefix> [<file part>:<line>] <text>" and a flushed line end, under fsMutex.
  /// The file part is what follows the last '\' or '/' of the message's debugging file,
  /// "????.???" when it has none. Throws nothing: with no stream nothing is written, and a
  /// stream in a failed state keeps its state and writes nothing (the line is lost).
  void Write(unsigned long level, const TTrace::Category& category,
             const TMessage& message) override;

protected:
  /// A state without stream; it writes nothing until one is set.
  TTraceStreamBase();
  /// A state writing to the caller's `stream`, which must outlive it (or be replaced first).
  explicit TTraceStreamBase(std::ostream& stream);
  /// A state that owns `stream` (from new) and deletes it; null writes nothing.
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
  /// process.
  explicit TTraceStreamBase(const char* fileName);

  /// Deletes the current stream when owned, then writes to the caller's `stream`, not owned.
  /// Passing the stream the state already owns changes nothing. Takes no lock: the caller
  /// makes sure no other thread traces through this state meanwhile.
  void SetStream(std::ostream& stream);
  /// Deletes the current stream when owned (and not `stream` itself), then owns `stream`;
  /// null leaves the state writing nothing. Takes no lock, as the other SetStream.
  void SetStream(std::ostream* stream);

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
/// Copies share the state; the last one destroys it (and an owned stream with it). The
/// constructors throw std::bad_alloc when the state cannot be made.
class TAVUTIL_API TTraceStream : public TTrace {
public:
  /// A state without stream: it traces nothing until SetStream.
  TTraceStream();
  /// A state writing to the file `fileName` (see TTraceStreamBase(const char*)).
  explicit TTraceStream(const char* fileName);
  /// A state writing to the caller's `stream`, which must outlive the state.
  explicit TTraceStream(std::ostream& stream);
  /// A state that owns `stream` (from new); null writes nothing. When the state cannot be
  /// made (std::bad_alloc), `stream` is deleted before the exception leaves.
  explicit TTraceStream(std::ostream* stream);
  TTraceStream(const TTraceStream& other) = default;
  TTraceStream& operator=(const TTraceStream& other) = default;
  ~TTraceStream() override;

  /// Forwards to the state's SetStream(std::ostream&). Nothing when the handle is empty or
  /// holds a state of another kind.
  void SetStream(std::ostream& stream);
  /// Forwards to the state's SetStream(std::ostream*). Nothing when the handle is empty or
  /// holds a state of another kind; `stream` then stays the caller's.
  void SetStream(std::ostream* stream);

private:
  /// A state that owns `stream`, which is deleted when the state cannot be made.
  static TTraceStreamBase* NewOwningState(std::ostream* stream);
  /// The held state, or null when the handle is empty or holds another kind of state.
  TTraceStreamBase* StreamState() const noexcept;
};

#endif // TAVUTIL_TRACESTREAM_H
