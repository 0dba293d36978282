// examples/relay.h: what the relay example's sender and receiver share: the catalogue's
// store name, the trace category, and the frames that carry messages between them.
// Licensed under the Apache License, Version 2.0.
//
// A frame is the length of a message's binary form (4 bytes, network order), then that form
// (TMessage::WriteToBinaryStream, network order). The length lets the receiver skip a
// message it cannot read and go on with the next one.
#ifndef RELAY_H
#define RELAY_H

#include <tavutil/tavutil.h>

#include <cstdint>
#include <istream>
#include <ostream>
#include <sstream>
#include <string>

/// The name under which both programs know the catalogue.
inline const char* const kRelayStore = "Relay";
/// The example's trace category, of component 8 ("Protocol").
inline const TTrace::Category kRelayCategory(8, "Relay");
/// The longest frame the receiver accepts.
constexpr std::uint32_t kMaxFrame = 1U << 20;

/// The binary form of `message`, in network order.
inline std::string BinaryForm(const TMessage& message) {
  std::ostringstream bytes;
  ToBinaryStream binary(bytes, 1);
  message.WriteToBinaryStream(binary);
  return bytes.str();
}

/// Writes one frame holding `payload` and flushes it, so that the receiver sees it at once.
inline void WriteFrame(std::ostream& out, const std::string& payload) {
  ToBinaryStream binary(out, 1);
  binary << static_cast<std::uint32_t>(payload.size());
  out.write(payload.data(), static_cast<std::streamsize>(payload.size()));
  out.flush();
}

/// What reading a frame gave.
enum class FrameRead { frame, end, broken };

/// Reads the next frame's payload. `end` at the end of the input between frames; `broken`,
/// with `error` saying why, when the input ends inside a frame or a length is beyond
/// kMaxFrame (the frames after it cannot be found).
inline FrameRead ReadFrame(std::istream& in, std::string& payload, std::string& error) {
  if (in.peek() == std::char_traits<char>::eof()) {
    return FrameRead::end;
  }
  TiBinaryStream binary(in, 1);
  std::uint32_t length = 0;
  binary >> length;
  if (!binary) {
    error = "the input ends inside a frame's length";
    return FrameRead::broken;
  }
  if (length > kMaxFrame) {
    error = "a frame of " + std::to_string(length) + " bytes is longer than the limit";
    return FrameRead::broken;
  }
  payload.resize(length);
  if (!in.read(payload.data(), static_cast<std::streamsize>(length))) {
    error = "the input ends inside a frame";
    return FrameRead::broken;
  }
  return FrameRead::frame;
}

#endif
