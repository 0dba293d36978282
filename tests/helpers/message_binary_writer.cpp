// tests/helpers/message_binary_writer.cpp: writes the binary form of the every-argument message to
// a file, for the message tests to read in another process.
// Licensed under the Apache License, Version 2.0.
//
// Usage: message_binary_writer host|network <file>. Exits 0 when the whole form was written.
#include <tavutil/binstream.h>
#include <tavutil/message.h>

#include "every_argument_message.h"

#include <cstring>
#include <fstream>

int main(int argc, char** argv) {
  if (argc != 3) {
    return 2;
  }
  const int network = std::strcmp(argv[1], "network") == 0 ? 1 : 0;
  // A binary file: no line-end translation on any system.
  std::ofstream file(argv[2], std::ios::binary | std::ios::trunc);
  ToBinaryStream out(file, network);
  EveryArgumentMessage().WriteToBinaryStream(out);
  file.flush();
  return file.good() ? 0 : 1;
}
