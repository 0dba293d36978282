// fuzz/fuzz_input.h: reading fuzz inputs as typed fields, and tagged values made from them.
// Licensed under the Apache License, Version 2.0.
//
// Shared by the fuzz targets; every read past the end of the input gives zero bytes.
#ifndef TAVUTIL_FUZZ_FUZZ_INPUT_H
#define TAVUTIL_FUZZ_FUZZ_INPUT_H

#include <tavutil/tagvar.h>
#include <tavutil/tstring.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

/// Reads the input front to back; past the end every read gives zeros.
class Reader {
public:
  Reader(const std::uint8_t* data, std::size_t size) : fData(data), fSize(size) {}
  void Read(void* out, std::size_t n) {
    std::memset(out, 0, n);
    const std::size_t take = n < fSize - fAt ? n : fSize - fAt;
    if (take != 0) {
      std::memcpy(out, fData + fAt, take);
    }
    fAt += take;
  }
  template <class T> T Get() {
    T value;
    Read(&value, sizeof value);
    return value;
  }
  /// Up to `n` bytes as a string (fewer at the end of the input).
  TString Bytes(std::size_t n) {
    const std::size_t take = n < fSize - fAt ? n : fSize - fAt;
    TString text(fData + fAt, static_cast<unsigned int>(take));
    fAt += take;
    return text;
  }
  bool AtEnd() const { return fAt == fSize; }

private:
  const std::uint8_t* fData;
  std::size_t fSize;
  std::size_t fAt = 0;
};

/// A value of any known tag chosen by `type`, its value bytes read from `in`.
inline TagVar MakeTagVar(Reader& in, std::uint8_t type) {
  switch (type % 12) {
  case 0:
    return TagVar(static_cast<long>(in.Get<std::int32_t>()));
  case 1:
    return TagVar(static_cast<unsigned long>(in.Get<std::uint32_t>()));
  case 2:
    return TagVar(in.Get<double>());
  case 3:
    return TagVar(in.Bytes(in.Get<std::uint8_t>())); // narrow, NULs included
  case 4: {
    TString wide = in.Bytes(in.Get<std::uint8_t>());
    wide.SetUnicode(1);
    return TagVar(wide); // a wideString
  }
  case 5:
    return TagVar(TagVarVoidPtr(reinterpret_cast<void*>(in.Get<std::uintptr_t>())));
  case 6:
    return TagVar();
  case 7:
    return TagVar(TDateTime(static_cast<long>(in.Get<std::int32_t>()), 0));
  case 8:
    return TagVar(TDate());
  case 9:
    return TagVar(TTime());
  case 10:
    return TagVar(static_cast<const char*>(nullptr)); // a string without buffer
  default:
    return TagVar(static_cast<TagVar::Type>(in.Get<std::uint8_t>() % 11)); // zero payload
  }
}

/// A value of any known tag: a type byte, then that type's value bytes.
inline TagVar MakeTagVar(Reader& in) {
  return MakeTagVar(in, in.Get<std::uint8_t>());
}

#endif // TAVUTIL_FUZZ_FUZZ_INPUT_H
