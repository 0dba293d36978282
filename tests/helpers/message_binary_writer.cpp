// tests/helpers/message_binary_writer.cpp: writes the binary form of the every-argument message to
// standard output, for the message tests to read in another process.
// Licensed under the Apache License, Version 2.0.
//
// Usage: message_binary_writer host|network. Exits 0 when the whole form was written.
#include <tavutil/binstream.h>
#include <tavutil/message.h>

#include "every_argument_message.h"

#include <cstring>
#include <iostream>

int main(int argc, char** argv) {
  if (argc != 2) {
    return 2;
  }
  const int network = std::strcmp(argv[1], "network") == 0 ? 1 : 0;
  ToBinaryStream out(std::cout, network);
  EveryArgumentMessage().WriteToBinaryStream(out);
  std::cout.flush();
  return std::cout.good() ? 0 : 1;
}
