// examples/relay_receiver.cpp: the receiving side of the relay example. It reads the
// messages that examples/relay_sender.cpp sends and renders each one in its own language,
// from its own catalogue of the "Relay" store.
// Licensed under the Apache License, Version 2.0.
//
//   relay_receiver <input> <language> <trace specification>
//
// <language> is English, German or C (the senders' default texts). A message that cannot be
// read is reported and skipped; the end of the input ends the program.
#include "relay.h"

#include <fstream>
#include <iostream>
#include <sstream>

namespace {

/// Reads `message` from a frame's payload; gives what is wrong with it, or "" when nothing is.
std::string Decode(const std::string& payload, TMessage& message) {
  std::istringstream bytes(payload);
  TiBinaryStream binary(bytes, 1);
  try {
    message.ReadFromBinaryStream(binary);
  } catch (const TException& e) { // an argument of an unknown type, say
    return e.text(0);
  }
  if (!binary) {
    return "it is cut short";
  }
  if (bytes.peek() != std::char_traits<char>::eof()) {
    return "bytes follow its end";
  }
  return "";
}

} // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: relay_receiver <input> <language> <trace specification>\n";
    return 2;
  }
  try {
    // The trace file is opened first, so that a sender writing to a named pipe joins it.
    const TTrace trace(argv[3]);
    TSearchNLSPath::SetLang(argv[2]);
    // <this program's directory>/<language>/relaymsgs.so (.dll), or the default texts.
    const TMessageStorePM store(TMessage::StoreID(TString(kRelayStore), explicitInit), "relaymsgs");
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
      std::cerr << "relay_receiver: cannot open " << argv[1] << '\n';
      return 1;
    }
    unsigned number = 0;
    unsigned malformed = 0;
    std::string payload;
    std::string error;
    FrameRead read;
    while ((read = ReadFrame(in, payload, error)) == FrameRead::frame) {
      ++number;
      TMessage message;
      const std::string problem = Decode(payload, message);
      if (!problem.empty()) {
        ++malformed;
        std::cerr << "relay_receiver: message " << number << " is malformed (" << problem
                  << "): skipped\n";
        TAVUTIL_TRACE(0x4, kRelayCategory, "message %u is malformed (%s)", number, problem.c_str());
        continue;
      }
      std::cout << '[' << number << "] " << message.QueryMessage() << '\n';
      TAVUTIL_TRACE(0x10, kRelayCategory, "received message %u: %s", number,
                    message.QueryMessage());
    }
    if (read == FrameRead::broken) {
      std::cerr << "relay_receiver: " << error << ": stopped\n";
      return 1;
    }
    std::cout << "end of input: " << number << " messages, " << malformed << " malformed\n";
  } catch (const TException& e) { // a malformed trace specification
    std::cerr << "relay_receiver: " << TTraceException::FormatException(e);
    return 1;
  }
  return 0;
}
