// examples/relay_sender.cpp: the sending side of the relay example. It builds messages with
// arguments, stored ones of the "Relay" catalogue and a literal one, and sends them in their
// binary form to examples/relay_receiver.cpp, which renders them in its own language.
// Licensed under the Apache License, Version 2.0.
//
//   relay_sender [--malformed] <output> <trace specification>
//
// <output> is a named pipe (FIFO) or a file that the receiver reads. --malformed also sends,
// after the second message, a frame holding a message cut short.
#include "relay.h"
#include "relaymsgs.h"

#include <cstring>
#include <fstream>
#include <iostream>

int main(int argc, char** argv) {
  const bool malformed = argc > 1 && std::strcmp(argv[1], "--malformed") == 0;
  const int first = malformed ? 2 : 1;
  if (argc - first != 2) {
    std::cerr << "usage: relay_sender [--malformed] <output> <trace specification>\n";
    return 2;
  }
  // Opening a named pipe waits for the receiver, whose trace file is open by then: this
  // process's trace lines join that file rather than starting it afresh.
  std::ofstream out(argv[first], std::ios::binary);
  if (!out) {
    std::cerr << "relay_sender: cannot open " << argv[first] << '\n';
    return 1;
  }
  try {
    const TTrace trace(argv[first + 1]);
    // The default texts are what this process shows: it has no catalogue of its own.
    const TMessage::StoreID relay(TString(kRelayStore), explicitInit);
    const TMessage messages[] = {
        TMessage(relay, 1, RELAY_JOB_STARTED, "job %s started on %s", TagVar("nightly"),
                 TagVar("host-7")),
        TMessage(relay, 1, RELAY_FILES_COPIED, "%2$s: %1$d files copied (%3$.1f MB)", TagVar(1200),
                 TagVar("nightly"), TagVar(38.5)),
        TMessage("A literal text travels as it is: checksum %08X", TagVar(0xC0FFEEU)),
        TMessage(relay, 1, RELAY_DISK_FULL, "disk %s %u%% full", TagVar("/var"), TagVar(97U)),
        TMessage(relay, 1, RELAY_JOB_DONE, "job %s done", TagVar("nightly"))};
    unsigned number = 0;
    for (const TMessage& message : messages) {
      const std::string form = BinaryForm(message);
      WriteFrame(out, form);
      ++number; // not inside the trace point, whose arguments run only while it traces
      TAVUTIL_TRACE(0x10, kRelayCategory, "sent message %u: %s", number, message.QueryMessage());
      if (malformed && number == 2) {
        WriteFrame(out, form.substr(0, form.size() / 2));
        ++number;
        TAVUTIL_TRACE(0x8, kRelayCategory, "sent message %u cut short", number);
      }
    }
  } catch (const TException& e) { // a malformed trace specification
    std::cerr << "relay_sender: " << TTraceException::FormatException(e);
    return 1;
  }
  return out ? 0 : 1;
}
