// utility/message_binary.cpp: the binary form of TMessage.
// Licensed under the Apache License, Version 2.0.
//
// Operating-system independent. Reading trusts no count it reads: the argument array grows
// with the arguments that arrive, and a field is replaced only once it has arrived whole.
#include <tavutil/binstream.h>
#include <tavutil/message.h>

#include <cstdint>
#include <ios>
#include <utility>
#include <vector>

namespace {

/// The largest count that is not a negative 32-bit integer.
constexpr std::uint32_t kMaxArgumentCount = 0x7FFFFFFFu;

/// Reads a 32-bit integer into `field` when all four bytes arrive; else leaves it alone.
template <class T> bool ReadWhole(TiBinaryStream& stream, T& field) {
  T value = 0;
  stream >> value;
  if (stream.fail()) {
    return false;
  }
  field = value;
  return true;
}

/// Reads a string into `field` when it arrives whole; else leaves it alone. With
/// `emptyIsNone`, an empty string becomes one without buffer: "no store", "no debugging file".
bool ReadWhole(TiBinaryStream& stream, TString& field, bool emptyIsNone) {
  TString value;
  stream >> value;
  if (stream.fail()) {
    return false;
  }
  field = emptyIsNone && value.length() == 0 ? TString() : value;
  return true;
}

} // namespace

ToBinaryStream& TMessage::WriteToBinaryStream(ToBinaryStream& s) const {
  if (s.fail()) {
    return s;
  }
  s << fStore << static_cast<int>(fSetId) << static_cast<int>(fMessageId) << OwnedText()
    << static_cast<unsigned int>(fArgs.Size());
  for (std::uint32_t i = 0; i < fArgs.Size(); ++i) {
    fArgs.Data()[i].WriteToBinaryStream(s);
  }
  // The debugging location stays with the writer.
  return s << TString() << 0;
}

TiBinaryStream& TMessage::ReadFromBinaryStream(TiBinaryStream& s) {
  fText = OwnedText(); // kept as it is until a text is read whole
  fBorrowedText = nullptr;
  fRendered = TString();
  fArgs.Clear();
  std::uint32_t count = 0;
  if (s.fail() || !ReadWhole(s, fStore, true) || !ReadWhole(s, fSetId) ||
      !ReadWhole(s, fMessageId) || !ReadWhole(s, fText, false) || !ReadWhole(s, count)) {
    return s;
  }
  if (count > kMaxArgumentCount) {
    s.clear(s.rdstate() | std::ios_base::failbit);
    return s;
  }

  // The arguments collect as they arrive, never reserved from the count, so a count larger
  // than the data costs no more than the data. Whatever ends them (the data, an unknown tag,
  // memory), the message keeps those read whole.
  std::vector<TagVar> arrived;
  const auto keep = [this, &arrived] {
    Arguments kept;
    kept.Reserve(static_cast<std::uint32_t>(arrived.size()));
    for (TagVar& argument : arrived) {
      kept.Emplace(std::move(argument));
    }
    fArgs = std::move(kept);
  };
  try {
    while (arrived.size() < count && !s.fail()) {
      TagVar argument;
      argument.ReadFromBinaryStream(s);
      if (!s.fail()) {
        arrived.push_back(std::move(argument));
      }
    }
  } catch (...) {
    keep();
    throw;
  }
  keep();
  if (arrived.size() == count && ReadWhole(s, fFile, true)) {
    fFileName = fFile;
    ReadWhole(s, fLine);
  }
  return s;
}
