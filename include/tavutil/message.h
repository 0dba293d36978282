// tavutil/message.h: TMessage, the library's unit of text, and TMessage::StoreID.
// Licensed under the Apache License, Version 2.0.
//
// A message is a literal format text, or a reference into a named message store with a
// default text, plus typed TagVar arguments. Trace entries and exceptions carry messages.
#ifndef TAVUTIL_MESSAGE_H
#define TAVUTIL_MESSAGE_H

#include <cstdarg>
#include <cstdint>
#include <memory>
#include <tavutil/config.h>
#include <tavutil/tagvar.h>
#include <tavutil/tstring.h>

/// Marks a constructor that must be called explicitly; its value is not used.
enum TExplicitInit { explicitInit };

/// A parameterised message: a literal text, or (store, set id, message id) with a default
/// text, and any number of TagVar arguments that the message owns.
///
///   TMessage literal("Value %d of %s", TagVar(3), TagVar("disk"));
///   TMessage stored(TMessage::StoreID(TString("App"), explicitInit), 1, 7, "Disk %s full",
///                   TagVar("C"));
///   TMessage listed("%s", &name, &TMessage::fsEndOfArgs);   // a variadic list of pointers
///
/// The list forms end at the first null pointer or the first pointer to a nil or
/// end-of-arguments value. Indexing beyond the arguments throws TInvalidParameter
/// "Out of Range".
class TAVUTIL_API TMessage {
public:
  /// The name of a message store: a TString with exact, byte-for-byte equality.
  class TAVUTIL_API StoreID : public TString {
  public:
    /// The empty name.
    StoreID() noexcept = default;
    StoreID(const TString& name, TExplicitInit) noexcept : TString(name) {}
    /// Exact equality, as TString::IsEqual.
    int IsEqual(const StoreID& other) const noexcept { return TString::IsEqual(other); }
  };

  /// The end-of-arguments marker that closes variadic argument lists (by its address).
  static TagVar fsEndOfArgs;

  /// A literal message with an empty text and no arguments.
  TMessage();
  /// A literal message without arguments.
  TMessage(const char* text);
  /// A literal message with one to seven arguments, copied in order.
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
  /// A literal message whose arguments are a variadic list of `const TagVar*`.
  TMessage(const char* text, const TagVar* first, ...);
  /// A literal message whose arguments are an array of `const TagVar*`.
  TMessage(const char* text, const TagVar** list);

  /// A stored message: the store's text for (setId, messageId), or `defaultText`.
  TMessage(const StoreID& store, long setId, long messageId, const char* defaultText);
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
  TMessage(const StoreID& store, long setId, long messageId, const char* defaultText,
           const TagVar* first, ...);
  TMessage(const StoreID& store, long setId, long messageId, const char* defaultText,
           const TagVar** list);

  /// Copies everything but the rendered text, which starts empty.
  TMessage(const TMessage& other);
  /// As the copy constructor; assigning a message to itself does nothing.
  TMessage& operator=(const TMessage& other);
  ~TMessage();

  /// Releases the arguments.
  void SetArgs();
  /// Replaces the arguments. The rendered text is kept as it is.
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

  /// The argument at zero-based `index`. Throws TInvalidParameter "Out of Range" when `index`
  /// is not below QueryNumberArgs(); the message is unchanged.
  TagVar& operator[](unsigned index);
  const TagVar& operator[](unsigned index) const;
  unsigned QueryNumberArgs() const noexcept { return fNumberArgs; }

  const StoreID& QueryStoreID() const noexcept { return fStore; }
  long QuerySetID() const noexcept { return fSetId; }
  long QueryMessageID() const noexcept { return fMessageId; }
  /// True for stored messages (a non-empty store name).
  int UserDisplayable() const noexcept { return fStore.length() != 0; }
  /// Records the source file and line where the message was made.
  void SetDebugging(const char* file, unsigned long line);
  /// The debugging file, or null when none was set.
  const char* QueryFile() const noexcept { return fFile; }
  /// The debugging line; 0 when none was set.
  unsigned long QueryLine() const noexcept { return fLine; }

  /// The rendered text (formatting comes from another branch; this one gives the text).
  const TString& QueryMessage() const;

private:
  void Adopt(std::unique_ptr<TagVar[]> arguments, unsigned count) noexcept;
  void CopyArguments(const TagVar* const* pointers, unsigned count);
  void CopyList(const TagVar* first, std::va_list* rest);
  void CopyList(const TagVar* const* list);
  void CheckIndex(unsigned index) const;

  StoreID fStore;
  std::int32_t fSetId;
  std::int32_t fMessageId;
  TString fText;
  mutable TString fRendered;
  std::uint32_t fNumberArgs;
  std::uint32_t fAllocatedArgs;
  std::unique_ptr<TagVar[]> fArgs;
  TString fFile;
  std::uint32_t fLine;
};

#endif // TAVUTIL_MESSAGE_H
