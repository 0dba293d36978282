// tavutil/tracescope.h: TTraceExit, the function-exit trace scope, and two trace shells.
// Licensed under the Apache License, Version 2.0.
//
// Completes the trace facility: a TTraceExit writes a function's exit entry (level 0x2000)
// when its scope ends. TTrace::SaveState, the scope that saves a state's settings, is in
// tavutil/trace.h. TTraceObjects and TCrtMsg are placeholders whose filling does nothing.
#ifndef TAVUTIL_TRACESCOPE_H
#define TAVUTIL_TRACESCOPE_H

#include <memory>
#include <tavutil/config.h>
#include <tavutil/message.h>
#include <tavutil/tagvar.h>
#include <tavutil/trace.h>
#include <vector>

/// Writes one trace entry, a function's exit with its return code and arguments, at level
/// 0x2000 when the scope ends.
///
///   long Copy(const char* from) {
///     TTraceExit exit(kCopyCategory, new TMessage("Copy(%2$s) gives %1$d", TagVar(0L),
///                                                 TagVar(from)));
///     long rc = ...;
///     exit.SetRC(TagVar(rc));   // argument 0
///     return rc;
///   }                           // "Copy(a.txt) gives 3", if some state takes it
///
/// The entry goes through TTrace::WriteEntry, so every state's level, component and category
/// decide as for any entry; with level 0x2000 or the component off in the global masks the
/// scope ends after two tests. A TTraceExit cannot be copied or assigned: it owns its message.
class TAVUTIL_API TTraceExit {
public:
  /// Copies the category and takes ownership of `exitMessage` (from `new`). A null message is
  /// replaced by an empty literal one, so the scope stays usable and writes an empty entry.
  /// Throws std::bad_alloc when that replacement cannot be made.
  TTraceExit(const TTrace::Category& category, TMessage* exitMessage);
  TTraceExit(const TTraceExit&) = delete;
  TTraceExit& operator=(const TTraceExit&) = delete;
  /// Writes the exit entry when the global masks select level 0x2000 and the category's
  /// component, then deletes the message; a failure to write loses the entry. Throws nothing.
  ~TTraceExit();

  /// Stores `returnCode` as argument 0 of the message. Throws TInvalidParameter "Out of
  /// Range" when the message has no arguments, TInvalidRequest "unknown type" when the return
  /// code's tag is unknown, std::bad_alloc when the copy cannot be made.
  void SetRC(const TagVar& returnCode);
  /// Releases the message's arguments. Throws nothing.
  void SetArgs() noexcept;
  ///@{
  /// Replaces the message's arguments, as TMessage::SetArgs of the same shape does. Throws
  /// std::bad_alloc when the copies cannot be made, TInvalidRequest "unknown type" when an
  /// argument's tag is unknown; the arguments are then unchanged.
  void SetArgs(const TagVar& a1);
  void SetArgs(const TagVar& a1, const TagVar& a2);
  void SetArgs(const TagVar& a1, const TagVar& a2, const TagVar& a3);
  void SetArgs(const TagVar& a1, const TagVar& a2, const TagVar& a3, const TagVar& a4);
  void SetArgs(const TagVar& a1, const TagVar& a2, const TagVar& a3, const TagVar& a4,
               const TagVar& a5);
  void SetArgs(const TagVar& a1, const TagVar& a2, const TagVar& a3, const TagVar& a4,
               const TagVar& a5, const TagVar& a6);
  ///@}
  /// A variadic list of `const TagVar*`, ending at the first null pointer or the first pointer
  /// to a nil or end-of-arguments value (TMessage::fsEndOfArgs). Throws as the forms above.
  void SetArgs(const TagVar* first, ...);
  /// An array of `const TagVar*` ending as the variadic list does. Throws as the forms above.
  void SetArgs(const TagVar** list);
  /// The message's argument `i` (0-based). Throws TInvalidParameter "Out of Range" when `i` is
  /// not below the number of arguments, std::bad_alloc when the trace entry of that failure
  /// cannot be made.
  TagVar& operator[](unsigned int i);
  /// Records the source file and line that the exit entry shows. Throws std::bad_alloc when
  /// the file name cannot be copied.
  void SetDebugging(const char* file, unsigned long line);

private:
  TTrace::Category fCategory;
  std::unique_ptr<TMessage> fMessage;
};

/// A table of trace handles. In this library nothing fills it: Add makes no entry, so every
/// index gives an empty handle. Copies share the handles' states, as copies of handles do.
class TAVUTIL_API TTraceObjects {
public:
  /// An empty table of capacity 0. Throws nothing.
  TTraceObjects() noexcept : fCapacity(0) {}
  /// An empty table of that capacity. Throws nothing.
  explicit TTraceObjects(unsigned int capacity) noexcept : fCapacity(capacity) {}

  /// A handle sharing the state of entry `i`; an empty handle when `i` is not below the count.
  /// Throws nothing.
  TTrace operator[](unsigned int i) const noexcept;
  /// Empties entry `i` (releasing its state) when `i` is below the count; the count stays.
  /// Throws what the released state's RemoveRef() throws (none of the library's states
  /// does).
  void Remove(unsigned int i);
  /// Makes no entry and returns the largest unsigned value (-1). Throws nothing.
  unsigned int Add(const char* name, int kind, char* text) noexcept;
  /// The capacity given at construction. Throws nothing.
  unsigned int QueryCapacity() const noexcept { return fCapacity; }
  /// The number of entries (always 0 in this library). Throws nothing.
  unsigned int QueryCount() const noexcept { return static_cast<unsigned int>(fHandles.size()); }

private:
  unsigned int fCapacity;
  std::vector<TTrace> fHandles;
};

/// A text sink for the runtime library's messages, named after the "CRTmsg" category. In this
/// library it does nothing with its text.
class TAVUTIL_API TCrtMsg {
public:
  ///@{
  /// A sink bound to nothing, whatever the name or handle given. Throws nothing.
  TCrtMsg() noexcept : fHandle(-1) {}
  explicit TCrtMsg(const char* /*name*/) noexcept : fHandle(-1) {}
  explicit TCrtMsg(int /*handle*/) noexcept : fHandle(-1) {}
  ///@}
  /// Does nothing. Throws nothing.
  void Write(const char* /*text*/) noexcept {}
  /// Always -1: the sink is bound to nothing. Throws nothing.
  int QueryHandle() const noexcept { return fHandle; }

private:
  int fHandle;
};

#endif // TAVUTIL_TRACESCOPE_H
