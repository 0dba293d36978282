// tavutil/message.h: TMessage, the library's unit of text, and the message store registry.
// Licensed under the Apache License, Version 2.0.
//
// A message is a literal format text, or a reference into a named message store with a
// default text, plus typed TagVar arguments. Trace entries and exceptions carry messages.
// Stores (TMessageStore) register by name in the one TMessageArchive, where rendering finds them.
#ifndef TAVUTIL_MESSAGE_H
#define TAVUTIL_MESSAGE_H

#include <cassert>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <tavutil/config.h>
#include <tavutil/mutexsem.h>
#include <tavutil/sets.h>
#include <tavutil/tagvar.h>
#include <tavutil/tstring.h>
#include <type_traits>
#include <utility>

namespace tavutil::detail {
class MessageText;
class TextBuffer;
class TraceSource;
} // namespace tavutil::detail
class TiBinaryStream;
class ToBinaryStream;

/// Marks a constructor that must be called explicitly; its value is not used.
enum TExplicitInit { explicitInit };

/// A parameterised message: a literal text, or (store, set id, message id) with a default
/// text, and any number of TagVar arguments that the message owns.
///
///   TMessage literal("Value %d of %s", 3, "disk");           // arguments made in place
///   TMessage stored(TMessage::StoreID(TString("App"), explicitInit), 1, 7, "Disk %s full",
///                   TagVar("C"));
///   TMessage listed("%s", &name, &TMessage::fsEndOfArgs);   // a variadic list of pointers
///
/// The list forms end at the first null pointer or the first pointer to a nil or
/// end-of-arguments value. Indexing beyond the arguments throws TInvalidParameter
/// "Out of Range". The constructors, copies and SetArgs copy every argument: they throw
/// std::bad_alloc when memory runs out, and TInvalidRequest "unknown type" for an argument
/// whose tag is unknown (TagVar's copy); SetArgs and assignment then leave the message as it
/// was. Up to four arguments live in the message itself; more take one heap array.
///
/// The text is a printf-style format rendered on demand by QueryMessage and cached in the
/// message. Rendering never fails on a bad format or a wrong argument: a conversion whose
/// argument is missing or of the wrong type renders as zero and is traced (level 8,
/// category Message). One message object is rendered by one thread at a time.
class TAVUTIL_API TMessage {
  /// Whether a first constructor argument is a literal message's text: it converts to
  /// `const char*` and is no TString (a store name converts too, and takes the stored forms).
  template <class Text>
  struct IsLiteralText
      : std::bool_constant<
            std::is_convertible_v<Text, const char*> &&
            !std::is_base_of_v<TString, std::remove_cv_t<std::remove_reference_t<Text>>>> {};
  /// Whether values make the arguments of the forwarding constructors: one or more, each a
  /// value TagVar has a constructor of.
  template <class... Values>
  struct AreArguments : std::bool_constant<sizeof...(Values) != 0 &&
                                           (std::is_constructible_v<TagVar, Values> && ...)> {};

public:
  /// The name of a message store: a TString with exact, byte-for-byte equality.
  class TAVUTIL_API StoreID : public TString {
  public:
    /// The empty name. Throws nothing.
    StoreID() noexcept = default;
    /// The name `name`, sharing its buffer; the second argument only marks the call as
    /// explicit. Throws nothing.
    StoreID(const TString& name, TExplicitInit /*init*/) noexcept : TString(name) {}
    /// Exact equality, as TString::IsEqual. Throws nothing.
    int IsEqual(const StoreID& other) const noexcept { return TString::IsEqual(other); }
  };

  /// An owning holder of a raw byte buffer: the argument block that ValidateArgs builds.
  ///
  /// The buffer has a fixed room; Append writes bytes after those already pushed and refuses
  /// (writing nothing) what does not fit.
  class TAVUTIL_API CharP {
  public:
    /// No buffer. Throws nothing.
    CharP() noexcept;
    CharP(const CharP&) = delete;
    CharP& operator=(const CharP&) = delete;
    /// Releases the buffer. Throws nothing.
    ~CharP();

    /// Releases the previous buffer and makes one of `room` zero bytes (none for 0).
    /// Throws std::bad_alloc when it cannot be had; the holder is then empty.
    void Reset(std::size_t room);
    /// Appends `size` bytes when they fit in the room; returns false, writing nothing, when
    /// not. Throws nothing.
    bool Append(const void* data, std::size_t size) noexcept;
    /// The buffer, or null when there is none. Throws nothing.
    const char* QueryBuffer() const noexcept { return fBuffer.get(); }
    /// The same as QueryBuffer(). Throws nothing.
    operator const char*() const noexcept { return fBuffer.get(); }
    /// The room in bytes. Throws nothing.
    std::size_t QuerySize() const noexcept { return fRoom; }
    /// The bytes pushed so far. Throws nothing.
    std::size_t QueryLength() const noexcept { return fUsed; }

  private:
    std::unique_ptr<char[]> fBuffer;
    std::size_t fRoom;
    std::size_t fUsed;
  };

  /// The end-of-arguments marker that closes variadic argument lists (by its address).
  static TagVar fsEndOfArgs;

  /// A literal message with an empty text and no arguments. Throws std::bad_alloc when the
  /// text cannot be allocated.
  TMessage();
  /// A literal message without arguments. Throws std::bad_alloc when the text cannot be
  /// copied.
  TMessage(const char* text);
  ///@{
  /// A literal message with one to seven arguments, copied in order. Throws std::bad_alloc
  /// when memory runs out, TInvalidRequest "unknown type" when an argument's tag is unknown.
  TMessage(const char* text, const TagVar& a1);
  TMessage(const char* text, const TagVar& a1, const TagVar& a2);
  TMessage(const char* text, const TagVar& a1, const TagVar& a2, const TagVar& a3);
  TMessage(const char* text, const TagVar& a1, const TagVar& a2, const TagVar& a3,
           const TagVar& a4);
  TMessage(const char* text, const TagVar& a1, const TagVar& a2, const TagVar& a3, const TagVar& a4,
           const TagVar& a5);
  TMessage(const char* text, const TagVar& a1, const TagVar& a2, const TagVar& a3, const TagVar& a4,
           const TagVar& a5, const TagVar& a6);
  TMessage(const char* text, const TagVar& a1, const TagVar& a2, const TagVar& a3, const TagVar& a4,
           const TagVar& a5, const TagVar& a6, const TagVar& a7);
  ///@}
  /// A literal message whose arguments are made in place, in order, from one or more values
  /// of which TagVar has a constructor (numbers, texts, TString, dates, TagVar values...): no
  /// temporary TagVar is made and copied. A TagVar argument is moved in when it is an
  /// rvalue, copied otherwise. `text` is anything that converts to `const char*` but a
  /// TString, which takes the forms above. Throws std::bad_alloc when memory runs out,
  /// TInvalidRequest "unknown type" when a copied TagVar's tag is unknown.
  template <class Text, class... Values,
            std::enable_if_t<IsLiteralText<Text>::value && AreArguments<Values...>::value, int> = 0>
  TMessage(Text&& text, Values&&... values) : TMessage(static_cast<const char*>(text)) {
    EmplaceArguments(std::forward<Values>(values)...);
  }
  /// A literal message whose arguments are a variadic list of `const TagVar*`, ending as the
  /// class comment says. Throws as the forms above.
  TMessage(const char* text, const TagVar* first, ...);
  /// A literal message whose arguments are an array of `const TagVar*`, ending as the class
  /// comment says. Throws as the forms above.
  TMessage(const char* text, const TagVar** list);

  /// A stored message: the store's text for (setId, messageId), or `defaultText`. Throws
  /// std::bad_alloc when the name or the text cannot be copied.
  TMessage(const StoreID& store, long setId, long messageId, const char* defaultText);
  ///@{
  /// A stored message with one to seven arguments, copied in order. Throws std::bad_alloc
  /// when memory runs out, TInvalidRequest "unknown type" when an argument's tag is unknown.
  TMessage(const StoreID& store, long setId, long messageId, const char* defaultText,
           const TagVar& a1);
  TMessage(const StoreID& store, long setId, long messageId, const char* defaultText,
           const TagVar& a1, const TagVar& a2);
  TMessage(const StoreID& store, long setId, long messageId, const char* defaultText,
           const TagVar& a1, const TagVar& a2, const TagVar& a3);
  TMessage(const StoreID& store, long setId, long messageId, const char* defaultText,
           const TagVar& a1, const TagVar& a2, const TagVar& a3, const TagVar& a4);
  TMessage(const StoreID& store, long setId, long messageId, const char* defaultText,
           const TagVar& a1, const TagVar& a2, const TagVar& a3, const TagVar& a4,
           const TagVar& a5);
  TMessage(const StoreID& store, long setId, long messageId, const char* defaultText,
           const TagVar& a1, const TagVar& a2, const TagVar& a3, const TagVar& a4, const TagVar& a5,
           const TagVar& a6);
  TMessage(const StoreID& store, long setId, long messageId, const char* defaultText,
           const TagVar& a1, const TagVar& a2, const TagVar& a3, const TagVar& a4, const TagVar& a5,
           const TagVar& a6, const TagVar& a7);
  ///@}
  /// A stored message whose arguments are made in place from values, as for a literal one.
  /// Throws as the literal form does.
  template <class... Values, std::enable_if_t<AreArguments<Values...>::value, int> = 0>
  TMessage(const StoreID& store, long setId, long messageId, const char* defaultText,
           Values&&... values)
      : TMessage(store, setId, messageId, defaultText) {
    EmplaceArguments(std::forward<Values>(values)...);
  }
  /// A stored message whose arguments are a variadic list of `const TagVar*`. Throws as the
  /// literal forms do.
  TMessage(const StoreID& store, long setId, long messageId, const char* defaultText,
           const TagVar* first, ...);
  /// A stored message whose arguments are an array of `const TagVar*`. Throws as the literal
  /// forms do.
  TMessage(const StoreID& store, long setId, long messageId, const char* defaultText,
           const TagVar** list);

  /// Copies everything but the rendered text, which starts empty. Throws std::bad_alloc when
  /// memory runs out, TInvalidRequest "unknown type" when an argument's tag is unknown.
  TMessage(const TMessage& other);
  /// Takes everything from the other, the rendered text included. The other is left a
  /// literal message without arguments whose text has no buffer. Throws nothing.
  TMessage(TMessage&& other) noexcept;
  /// As the copy constructor; assigning a message to itself does nothing. Throws as the copy
  /// constructor does; the message is then as it was.
  TMessage& operator=(const TMessage& other);
  /// As the move constructor, releasing this message's arguments first; moving a message to
  /// itself does nothing. Throws nothing.
  TMessage& operator=(TMessage&& other) noexcept;
  /// Releases the arguments and the strings. Throws nothing.
  ~TMessage();

  /// Releases the arguments. Throws nothing.
  void SetArgs() noexcept;
  ///@{
  /// Replaces the arguments by copies, in order (a list ends as the class comment says). The
  /// rendered text is kept as it is. Throws std::bad_alloc when memory runs out,
  /// TInvalidRequest "unknown type" when an argument's tag is unknown; the arguments are then
  /// as they were.
  void SetArgs(const TagVar& a1);
  void SetArgs(const TagVar& a1, const TagVar& a2);
  void SetArgs(const TagVar& a1, const TagVar& a2, const TagVar& a3);
  void SetArgs(const TagVar& a1, const TagVar& a2, const TagVar& a3, const TagVar& a4);
  void SetArgs(const TagVar& a1, const TagVar& a2, const TagVar& a3, const TagVar& a4,
               const TagVar& a5);
  void SetArgs(const TagVar& a1, const TagVar& a2, const TagVar& a3, const TagVar& a4,
               const TagVar& a5, const TagVar& a6);
  void SetArgs(const TagVar& a1, const TagVar& a2, const TagVar& a3, const TagVar& a4,
               const TagVar& a5, const TagVar& a6, const TagVar& a7);
  void SetArgs(const TagVar* first, ...);
  void SetArgs(const TagVar** list);
  ///@}

  ///@{
  /// The argument at zero-based `index`. Throws TInvalidParameter "Out of Range" when `index`
  /// is not below QueryNumberArgs() (the message is unchanged), std::bad_alloc when the trace
  /// entry of that failure cannot be made.
  TagVar& operator[](unsigned index);
  const TagVar& operator[](unsigned index) const;
  ///@}
  ///@{
  /// The same for an `int` index (a negative one is out of range). Without these, `m[0]` is
  /// ambiguous where `ptrdiff_t` is `int`: the built-in subscript of the text conversion
  /// matches as well as the unsigned index. Throws as the unsigned forms do.
  TagVar& operator[](int index) { return (*this)[static_cast<unsigned>(index)]; }
  const TagVar& operator[](int index) const { return (*this)[static_cast<unsigned>(index)]; }
  ///@}
  /// The number of arguments. Throws nothing.
  unsigned QueryNumberArgs() const noexcept { return fArgs.Size(); }

  /// The store's name; empty for a literal message. Throws nothing.
  const StoreID& QueryStoreID() const noexcept { return fStore; }
  /// The set id; 0 for a literal message. Throws nothing.
  long QuerySetID() const noexcept { return fSetId; }
  /// The message id; 0 for a literal message. Throws nothing.
  long QueryMessageID() const noexcept { return fMessageId; }
  /// True for stored messages (a non-empty store name). Throws nothing.
  int UserDisplayable() const noexcept { return fStore.length() != 0; }
  /// Records the source file and line where the message was made; the message keeps a copy
  /// of `file` (a trace macro's literal is kept by pointer instead, as it lives for good).
  /// Throws std::bad_alloc when the file name cannot be copied; the message is then unchanged.
  void SetDebugging(const char* file, unsigned long line);
  /// The debugging file, or null when none was set. Throws nothing.
  const char* QueryFile() const noexcept { return fFileName; }
  /// The debugging line; 0 when none was set. Throws nothing.
  unsigned long QueryLine() const noexcept { return fLine; }

  /// Checks every conversion of `format` against the argument it takes and fills `rewritten`
  /// (the format made sequential: positions, `*n$` numbers and numeric length modifiers
  /// dropped, `%n` written `%?`; `length(format) + 1` bytes, NUL-padded) and `block` (the
  /// values in format order: 4 bytes per integer, width or precision, 8 per double, a pointer
  /// per `%p` and `%s`, packed; room for 16 bytes per argument, a value that does not fit is
  /// left out). Returns the size estimate, a 32-bit sum. A missing or mismatched argument
  /// gives zero and a trace entry. The `%s` pointers in `block` point into this message's
  /// arguments and live as long as they do. Throws std::bad_alloc when memory runs out,
  /// std::length_error when the format is 4 GiB long.
  unsigned long ValidateArgs(const TString& format, TString& rewritten, CharP& block) const;
  /// The rendered text, made on the first call and cached: the store's text (or the default
  /// text, or the literal text) formatted with the arguments; a text without arguments as it
  /// is. A Unicode text with arguments is converted to UTF-8 first and renders narrow.
  /// Never fails on a format or an argument. Throws std::bad_alloc when memory runs out,
  /// std::length_error when the text is 4 GiB long, and what the store's GetMsg throws.
  const TString& QueryMessage() const;
  /// The text of QueryMessage(); null when that string has no buffer. Throws what
  /// QueryMessage() throws.
  operator const char*() const;
  /// A copy of QueryMessage(). Throws what QueryMessage() throws.
  operator TString() const;
  /// QueryMessage() as a wideString value when it is Unicode, else as a string value. Throws
  /// what QueryMessage() throws.
  operator TagVar() const;

  // Binary form, in the binary stream's byte order: store name, set id, message id, text,
  // the number of arguments and each argument's TagVar form, then an empty debugging file
  // and line 0 (the location is not carried, nor the rendered text).

  /// Writes the binary form; nothing on a stream whose failbit or badbit is set. Returns
  /// `s`. Throws TInvalidRequest "unknown type" (error id 3) when an argument's tag is
  /// unknown, after what comes before it has been written; std::bad_alloc when a borrowed
  /// text cannot be copied.
  ToBinaryStream& WriteToBinaryStream(ToBinaryStream& s) const;
  /// Replaces the message by the one read; returns `s`. The rendered text and the arguments
  /// are released first; every other field keeps its value until it is read whole. So a
  /// stream that is failed or bad, or fails part way, leaves the fields read whole, the
  /// arguments read whole (fewer than announced: one cut short is dropped) and the old values
  /// of the fields after them. A negative count reads no argument and sets failbit. The
  /// argument array grows with the arguments that arrive, so a count larger than the data
  /// costs no more than the data. An empty store name or debugging file reads as a string
  /// without buffer. Throws TInvalidRequest "unknown type" (error id 3) when an argument's
  /// tag is unknown, and std::bad_alloc when memory runs out, keeping the arguments before it.
  TiBinaryStream& ReadFromBinaryStream(TiBinaryStream& s);

private:
  friend class tavutil::detail::MessageText;
  friend class tavutil::detail::TraceSource;

  /// Marks the constructor of a trace point's message, which borrows its text.
  enum class Borrowed { text };
  /// A literal message whose text is `text` itself, not a copy: a trace point's format, which
  /// outlives the entry. Every copy of the message owns a copy of the text.
  template <class... Values>
  TMessage(Borrowed /*tag*/, const char* text, Values&&... values)
      : fSetId(0), fMessageId(0), fBorrowedText(text), fFileName(nullptr), fLine(0) {
    if constexpr (sizeof...(Values) != 0) {
      EmplaceArguments(std::forward<Values>(values)...);
    }
  }

  /// The arguments: up to kInline in the message itself, more in one heap array of exactly
  /// their number. Reserve makes the room, Emplace makes each argument in it; one that throws
  /// leaves those before it to the destructor.
  class TAVUTIL_API Arguments {
  public:
    static constexpr std::uint32_t kInline = 4;

    Arguments() noexcept {}
    Arguments(const Arguments&) = delete;
    Arguments& operator=(const Arguments&) = delete;
    /// Takes the other's arguments; the other is left without any.
    Arguments(Arguments&& other) noexcept;
    /// Releases these arguments and takes the other's (nothing when it is this one).
    Arguments& operator=(Arguments&& other) noexcept;
    ~Arguments() { Clear(); }

    /// Releases the arguments and makes room for `count`. Throws std::bad_alloc when more
    /// than kInline cannot be had; the holder is then empty.
    void Reserve(std::uint32_t count);
    /// Makes the next argument from `value` in the room Reserve made.
    template <class Value> void Emplace(Value&& value) {
      assert(fSize < fRoom && "an argument beyond the room reserved");
      new (fData + fSize) TagVar(std::forward<Value>(value));
      ++fSize;
    }
    /// Releases the arguments and their room.
    void Clear() noexcept;

    TagVar* Data() const noexcept { return fData; }
    std::uint32_t Size() const noexcept { return fSize; }
    std::uint32_t Room() const noexcept { return fRoom; }

  private:
    TagVar* fData = nullptr; ///< fSlots, a heap array, or null without arguments
    std::uint32_t fSize = 0;
    std::uint32_t fRoom = 0;
    union {
      TagVar fSlots[kInline]; ///< made and released one by one, never as a whole
    };
  };

  /// Replaces the arguments by ones made from `values`, which are taken in place.
  template <class... Values> void EmplaceArguments(Values&&... values) {
    fArgs.Reserve(sizeof...(Values));
    (fArgs.Emplace(std::forward<Values>(values)), ...);
  }
  /// SetDebugging for a file of static storage duration: the pointer is kept, not copied.
  void SetStaticDebugging(const char* file, unsigned long line) noexcept;
  void CopyArguments(const TagVar* const* pointers, unsigned count);
  void CopyList(const TagVar* first, std::va_list* rest);
  void CopyList(const TagVar* const* list);
  void CheckIndex(unsigned index) const;
  /// The text as it is kept: fText, or a copy of a borrowed text.
  TString OwnedText() const;
  /// Renders the text as QueryMessage does, but for the cache: into `out`, or, when the text
  /// is a TString that needs no formatting, into `asIs` (then returns true, `out` untouched).
  TAVUTIL_LOCAL bool RenderInto(tavutil::detail::TextBuffer& out, TString& asIs) const;

  StoreID fStore;
  std::int32_t fSetId;
  std::int32_t fMessageId;
  TString fText;                       ///< without buffer when the text is borrowed
  const char* fBorrowedText = nullptr; ///< a trace point's format, or null
  mutable TString fRendered;
  Arguments fArgs;       ///< the number of arguments, their room and the arguments
  TString fFile;         ///< the copy SetDebugging makes
  const char* fFileName; ///< the debugging file: fFile's text, or a literal's
  std::uint32_t fLine;
};

/// A catalogue of message texts, found by its name (exact, case-sensitive) in the archive.
///
/// Constructing a store registers it in the library's TMessageArchive; destroying it takes
/// it out. Derive from it and give GetMsg:
///
///   class TAppStore : public TMessageStore {
///   public:
///     TAppStore() : TMessageStore(TMessage::StoreID(TString("App"), explicitInit)) {}
///     TString* GetMsg(long setId, long messageId) override;   // new TString, or null
///   };
///
/// Threads: lookups of a name run under the archive's lock and touch no store but the one of
/// that name, so stores of other names may come and go on any thread at any time. The one
/// rule for a derived class: a store is registered from the start of its base constructor to
/// the end of its base destructor, so it must not be constructed or destroyed while another
/// thread may look up ITS name (render a stored message of that name, or call Find or GetMsg
/// with it): such a lookup could reach GetMsg before the derived part is built or after it is
/// gone. Construct a store before the threads that render its messages can, and destroy it
/// after they are done.
class TAVUTIL_API TMessageStore {
public:
  /// Leaves the archive. Throws nothing.
  virtual ~TMessageStore();
  /// A new text that the caller owns and deletes, or null when the store has no such message.
  /// May be called from any thread, concurrently; it may trace and render other messages.
  /// Throws what the derived store throws (the library's TMessageStorePM throws none).
  virtual TString* GetMsg(long setId, long messageId) = 0;
  /// Whether the store caches its texts: false here. Throws nothing.
  virtual int IsCached() const;

  /// The store's name. Throws nothing.
  const TMessage::StoreID& QueryStoreID() const noexcept { return fStore; }
  /// The store's name: the key of the archive's set. Throws nothing.
  const TMessage::StoreID& Key() const noexcept { return fStore; }

  /// The registered store of that name, or null (also without an archive). The pointer is
  /// valid as long as that store lives. Throws nothing.
  static TMessageStore* Find(const TMessage::StoreID& store) noexcept;
  /// The text of (setId, messageId) from the store of that name, which the caller deletes;
  /// null without an archive, without such a store, or when the store has no such text.
  /// Throws what that store's GetMsg throws.
  static TString* GetMsg(const TMessage::StoreID& store, long setId, long messageId);

protected:
  /// Copies the name and registers the store. Throws TInvalidRequest "Duplicate Message
  /// Store" when a store of exactly that name is registered; the new object is then not
  /// constructed. Without an archive the store stays unregistered. Throws std::bad_alloc when
  /// the name or the registry's element cannot be allocated; nothing is registered then.
  explicit TMessageStore(const TMessage::StoreID& store);
  TMessageStore(const TMessageStore&) = delete;
  TMessageStore& operator=(const TMessageStore&) = delete;

private:
  TMessage::StoreID fStore;
};

/// The registry of message stores: one per process, built when the library loads.
///
/// It holds the stores by pointer (never owning them) in a set searched by exact name, under
/// its own lock. The lock is never held while tracing or while a store's GetMsg runs, so the
/// trace mutex may be held when the archive lock is taken, and a store may trace.
class TAVUTIL_API TMessageArchive {
public:
  /// Becomes the registry. Throws TInvalidRequest "Solitary Object" when one already exists;
  /// that one stays the registry.
  TMessageArchive();
  TMessageArchive(const TMessageArchive&) = delete;
  TMessageArchive& operator=(const TMessageArchive&) = delete;
  /// Stops being the registry and releases its elements (not the stores). Throws nothing.
  virtual ~TMessageArchive();

  /// The named store's GetMsg(setId, messageId), called outside the archive lock; null when
  /// no store of that name is registered. Throws what that store's GetMsg throws.
  virtual TString* GetMsg(const TMessage::StoreID& store, long setId, long messageId);

private:
  friend class TMessageStore;
  using StoreSet = TKeySetOf<TElemPointer<TMessageStore>, TMessage::StoreID>;

  /// Registers `store` unless one of its name is there; false for a duplicate.
  bool Add(TMessageStore& store);
  /// Takes out the element that designates `store`, if any.
  void Remove(const TMessageStore& store) noexcept;
  /// The registered store of that name, or null.
  TMessageStore* Lookup(const TMessage::StoreID& store) noexcept;

  StoreSet fStores;
  TMutexSemaphore fLock;
};

#endif // TAVUTIL_MESSAGE_H
