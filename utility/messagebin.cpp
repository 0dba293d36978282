// utility/messagebin.cpp: the binary form of TMessage.
// Licensed under the Apache License, Version 2.0.
//
// Operating-system independent. The form is built from the binary streams' integer and
// string forms and the TagVar form. Reading trusts nothing it reads: every field is stored only
// once it has arrived whole, and the argument array grows with the arguments that arrive
// rather than with the count announced before them.
#include <tavutil/binstream.h>
#include <tavutil/message.h>

#include <algorithm>
#include <cstdint>
#include <ios>
#include <memory>

namespace {

/// The argument array starts with room for this many arguments (or the count, if fewer) and
/// doubles, up to the count, when the arguments that arrived fill it.
constexpr std::uint32_t kFirstArgumentRoom = 16;
/// The largest count that is not a negative 32-bit integer.
constexpr std::uint32_t kMaxArgumentCount = 0x7FFFFFFFu;

bool Good(const VBinaryStreamBase& s) {
  return s.fail() == 0;
}

/// Reads a 32-bit integer into `field` when all four bytes arrive; else leaves it alone.
template <class T> bool ReadField(TiBinaryStream& s, T& field) {
  T value = 0;
  s >> value;
  if (!Good(s)) {
    return false;
  }
  field = value;
  return true;
}

/// Reads a string into `field` when it arrives whole (the string reader leaves its target
/// alone otherwise). With `emptyIsNone`, an empty string becomes one without buffer: a
/// message's "no store" and "no debugging file".
bool ReadField(TiBinaryStream& s, TString& field, bool emptyIsNone) {
  TString value;
  s >> value;
  if (!Good(s)) {
    return false;
  }
  field = emptyIsNone && value.length() == 0 ? TString() : value;
  return true;
}

} // namespace

ToBinaryStream& TMessage::WriteToBinaryStream(ToBinaryStream& s) const {
  if (!Good(s)) {
    return s;
  }
  s << fStore << static_cast<int>(fSetId) << static_cast<int>(fMessageId) << fText
    << static_cast<unsigned int>(fNumberArgs);
  for (std::uint32_t i = 0; i < fNumberArgs; ++i) {
    fArgs[i].WriteToBinaryStream(s);
  }
  // The debugging location stays with the writer.
  return s << TString() << 0;
}

TiBinaryStream& TMessage::ReadFromBinaryStream(TiBinaryStream& s) {
  fRendered = TString();
  Adopt(nullptr, 0);
  std::uint32_t count = 0;
  if (!Good(s) || !ReadField(s, fStore, true) || !ReadField(s, fSetId) ||
      !ReadField(s, fMessageId) || !ReadField(s, fText, false) || !ReadField(s, count)) {
    return s;
  }
  if (count > kMaxArgumentCount) {
    s.clear(s.rdstate() | std::ios_base::failbit);
    return s;
  }

  // The array grows with the arguments that arrive, so a forged count costs no more than the
  // data. An argument cut short is dropped; one that throws (an unknown tag, memory) leaves
  // the message with the arguments read before it. Slots past the arguments are nil.
  std::unique_ptr<TagVar[]> arguments;
  std::uint32_t room = 0;
  std::uint32_t read = 0;
  const auto keep = [&] {
    if (read < room) {
      arguments[read] = TagVar();
    }
    Adopt(std::move(arguments), read);
    fAllocatedArgs = room;
  };
  try {
    while (read < count && Good(s)) {
      if (read == room) {
        // room <= count < 2^31, so doubling cannot overflow.
        const std::uint32_t larger = std::min(count, std::max(kFirstArgumentRoom, room * 2));
        std::unique_ptr<TagVar[]> grown(new TagVar[larger]);
        for (std::uint32_t i = 0; i < read; ++i) {
          grown[i] = arguments[i];
        }
        arguments = std::move(grown);
        room = larger;
      }
      arguments[read].ReadFromBinaryStream(s);
      if (Good(s)) {
        ++read;
      }
    }
  } catch (...) {
    keep();
    throw;
  }
  keep();
  if (read == count && ReadField(s, fFile, true)) {
    ReadField(s, fLine);
  }
  return s;
}
