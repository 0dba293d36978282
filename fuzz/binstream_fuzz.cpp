// fuzz/binstream_fuzz.cpp: reads binary forms of arbitrary bytes through a memory stream.
// Licensed under the Apache License, Version 2.0.
//
// The first byte chooses the memory stream's block size; the rest is written to the stream
// in pieces and read back as a program: each byte read picks the next form (a number of
// some type in the current order, an array of numbers, a network wrapper, a TString, a word,
// an order switch or an absolute seek), which is then read from the bytes that follow.
// Reading must neither crash nor trip a sanitizer whatever the bytes, allocate no more than
// arrived for a string, and a string read must write out again as a form of its own length.
#include <tavutil/binstream.h>
#include <tavutil/memstream.h>
#include <tavutil/tstring.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>

namespace {

void Check(bool condition) {
  if (!condition) {
    std::abort();
  }
}

template <class T> void ReadOne(TiBinaryStream& in) {
  T value{};
  in >> value;
}

/// Reads an array of as many values as the next byte says (the count byte read by value).
template <class T> void ReadMany(TiBinaryStream& in) {
  unsigned char count = 0;
  in >> count;
  T values[255] = {};
  in.ReadArray(values, count);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  TMemStream memory(1 + data[0] % 32);
  const char* bytes = reinterpret_cast<const char*>(data) + 1;
  std::size_t rest = size - 1;
  for (std::size_t piece = 1; rest > 0; piece = piece * 2 + 1) {
    const std::size_t n = piece < rest ? piece : rest;
    memory.write(bytes, static_cast<std::streamsize>(n));
    bytes += n;
    rest -= n;
  }
  Check(memory.good());

  TBinaryStream in(memory);
  for (int steps = 0; steps < 4096 && in.good(); ++steps) {
    const int op = in.get();
    if (op == EOF) {
      break;
    }
    switch (op % 18) {
    case 0:
      ReadOne<short>(in);
      break;
    case 1:
      ReadOne<unsigned short>(in);
      break;
    case 2:
      ReadOne<int>(in);
      break;
    case 3:
      ReadOne<unsigned long>(in);
      break;
    case 4:
      ReadOne<long>(in);
      break;
    case 5:
      ReadOne<float>(in);
      break;
    case 6:
      ReadOne<double>(in);
      break;
    case 7:
      ReadOne<long double>(in);
      break;
    case 8:
      ReadOne<TNetworkLongDouble>(in);
      break;
    case 9:
      ReadOne<TNetworkShort>(in);
      break;
    case 10: {
      // A string read back writes out as the same form.
      TString text("before");
      in >> text;
      if (in.good()) {
        std::ostringstream again;
        ToBinaryStream out(again, in.IsNetworkOrder());
        out << text;
        Check(again.str().size() == 8 + std::size_t{text.length()});
        std::istringstream header(again.str());
        TiBinaryStream check(header, in.IsNetworkOrder());
        unsigned int length = 0;
        check >> length;
        Check(length == text.length());
      }
      break;
    }
    case 11: {
      TString text("before");
      TString sharer = text;
      in >> text;
      Check(sharer.length() == 6); // a read never reaches a string that shared the target
      break;
    }
    case 12:
      in.NetworkOrder();
      break;
    case 13:
      in.HostOrder();
      break;
    case 14: {
      unsigned char offset = 0;
      in >> offset;
      in.seekg(offset);
      break;
    }
    case 15: {
      char word[8] = {};
      in.width(sizeof word);
      in >> word;
      break;
    }
    case 16:
      ReadMany<int>(in);
      break;
    default:
      ReadMany<long double>(in);
      break;
    }
  }
  return 0;
}
