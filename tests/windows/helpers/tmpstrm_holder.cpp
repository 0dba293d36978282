// tests/windows/helpers/tmpstrm_holder.cpp: a process that holds a temporary file.
// Licensed under the Apache License, Version 2.0.
//
// Writes 100000 bytes into a TTempStream that moves to its file after the first block, then
// answers "file" (or "memory" when the data stayed in memory) and waits for its input to end.
#include <tavutil/tmpstrm.h>

#include <iostream>
#include <string>

namespace {

/// Moves the stream to its file once it fills a block.
class AfterOneBlock : public TTempStreamTest {
public:
  int UseTempFile(TTempStreamBuf* /*buffer*/) override { return 1; }
};

} // namespace

int main() {
  TTempStream stream(4096, "held", new AfterOneBlock);
  const std::string data(100000, 'x');
  stream.write(data.data(), static_cast<std::streamsize>(data.size()));
  stream.flush();
  const bool inFile = stream.rdbuf()->IsInMemory() == 0 && stream.good();
  std::cout << (inFile ? "file" : "memory") << std::endl;
  std::string line;
  while (std::getline(std::cin, line)) {
  }
  return 0;
}
