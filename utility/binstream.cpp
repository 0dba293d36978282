// utility/binstream.cpp: binary streams and the binary form of TString.
// Licensed under the Apache License, Version 2.0.
//
// Operating-system independent. Every number is one unformatted read or write of the
// underlying stream, or a copy straight into or out of the areas of the library's own stream
// buffers when they have room; network forms go through TNetworkValue, so byte reversal is
// the same shift code on every host.
#include <tavutil/binstream.h>
#include <tavutil/tstring.h>

#include "internal/stream_areas.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <istream>
#include <new>
#include <ostream>
#include <streambuf>
#include <vector>

namespace {

/// A TString's text is read straight into its buffer up to this length; a longer one is read
/// in pieces of this size into a buffer that grows only with the bytes that arrived.
constexpr std::uint32_t kStringPiece = 64 * 1024;

/// The state bits clear() accepts.
constexpr int kStateBits = std::ios_base::eofbit | std::ios_base::failbit | std::ios_base::badbit;

std::ios_base::fmtflags ToFmtFlags(long bits) noexcept {
  return static_cast<std::ios_base::fmtflags>(static_cast<std::int32_t>(bits & 0xFFFFFFFFL));
}

long FromFmtFlags(std::ios_base::fmtflags bits) noexcept {
  return static_cast<long>(bits);
}

using tavutil::detail::StreamAreas;

/// The stream's buffer when a number's bytes may be copied straight into its put area: the
/// stream is good, untied and without unitbuf, so ostream::write would do nothing but copy
/// them there, and the buffer is one of the library's. Else null.
TMemStreamBuf* DirectOutput(std::ostream& out) noexcept {
  if (out.rdstate() != std::ios_base::goodbit || out.tie() != nullptr ||
      (out.flags() & std::ios_base::unitbuf) != 0) {
    return nullptr;
  }
  return StreamAreas::Of(out.rdbuf());
}

/// The same for taking bytes out of the get area, as istream::read would on a good, untied
/// stream (its count, gcount(), is not kept).
TMemStreamBuf* DirectInput(std::istream& in) noexcept {
  if (in.rdstate() != std::ios_base::goodbit || in.tie() != nullptr) {
    return nullptr;
  }
  return StreamAreas::Of(in.rdbuf());
}

/// One unformatted write of `count` bytes: straight into the put area when it has room,
/// else ostream::write.
void PutBytes(std::ostream& out, const void* bytes, std::size_t count) {
  TMemStreamBuf* buffer = DirectOutput(out);
  if (buffer != nullptr && StreamAreas::PutRoom(*buffer) >= count) {
    std::memcpy(StreamAreas::PutNext(*buffer), bytes, count);
    StreamAreas::Put(*buffer, count);
    return;
  }
  out.write(static_cast<const char*>(bytes), static_cast<std::streamsize>(count));
}

/// istream::read of `count` bytes. Gives whether the stream was good before, that is whether
/// the bytes that arrived (all of them, or the first ones of a short read) are in `data`.
bool ReadBytesThrough(std::istream& in, void* data, std::size_t count) {
  const bool good = in.good();
  in.read(static_cast<char*>(data), static_cast<std::streamsize>(count));
  return good;
}

/// One unformatted read of `count` bytes: straight out of the get area when it holds them,
/// else ReadBytesThrough; gives what that gives.
bool GetBytes(std::istream& in, void* data, std::size_t count) {
  TMemStreamBuf* buffer = DirectInput(in);
  if (buffer != nullptr && StreamAreas::GetAvailable(*buffer) >= count) {
    std::memcpy(data, StreamAreas::GetNext(*buffer), count);
    StreamAreas::Take(*buffer, count);
    return true;
  }
  return ReadBytesThrough(in, data, count);
}

/// How a number of type T travels: as `Host` (its width on the wire) in host order, as its
/// network form otherwise. Only a long double differs in width: 8 bytes, or 10.
template <class Host, class T, bool kNetwork> struct Form {
  static constexpr std::size_t kWidth = kNetwork ? TNetworkValue<T>::kWidth : sizeof(Host);

  static void Encode(char* out, T value) noexcept {
    if constexpr (kNetwork) {
      const TNetworkValue<T> wire(value);
      std::memcpy(out, wire.QueryBytes(), kWidth);
    } else {
      const auto host = static_cast<Host>(value);
      std::memcpy(out, &host, kWidth);
    }
  }
  static T Decode(const char* in) noexcept {
    if constexpr (kNetwork) {
      TNetworkValue<T> wire;
      std::memcpy(wire.QueryBytes(), in, kWidth);
      return wire;
    } else {
      Host host;
      std::memcpy(&host, in, kWidth);
      return static_cast<T>(host);
    }
  }

  /// Writes `value`: straight into the put area when it has room, else one ostream::write.
  static void Write(std::ostream& out, T value) {
    TMemStreamBuf* buffer = DirectOutput(out);
    if (buffer != nullptr && StreamAreas::PutRoom(*buffer) >= kWidth) {
      Encode(StreamAreas::PutNext(*buffer), value);
      StreamAreas::Put(*buffer, kWidth);
      return;
    }
    WriteThrough(out, value);
  }
  /// One ostream::write of the form; out of line, so that Write needs no stack frame.
  [[gnu::noinline]] static void WriteThrough(std::ostream& out, T value) {
    char bytes[kWidth];
    Encode(bytes, value);
    out.write(bytes, kWidth);
  }

  /// Reads `value`: from the get area when it holds the form, else one istream::read. A
  /// short read stores the network form's bytes that arrived with zeros for the rest, or in
  /// host order the bytes that arrived over the old value's; a stream that was not good
  /// leaves `value` alone.
  static void Read(std::istream& in, T& value) {
    TMemStreamBuf* buffer = DirectInput(in);
    if (buffer != nullptr && StreamAreas::GetAvailable(*buffer) >= kWidth) {
      value = Decode(StreamAreas::GetNext(*buffer));
      StreamAreas::Take(*buffer, kWidth);
      return;
    }
    ReadThrough(in, value);
  }
  /// One istream::read of the form, by the short-read rule; out of line, as WriteThrough.
  [[gnu::noinline]] static void ReadThrough(std::istream& in, T& value) {
    if constexpr (kNetwork) {
      TNetworkValue<T> wire;
      if (ReadBytesThrough(in, wire.QueryBytes(), kWidth)) {
        value = wire;
      }
    } else {
      auto host = static_cast<Host>(value);
      if (ReadBytesThrough(in, &host, kWidth)) {
        value = static_cast<T>(host);
      }
    }
  }

  /// Writes `count` values as `count` Write calls would: runs that fit the put area are
  /// converted straight into it; the value at a full area (or any value on another stream)
  /// goes through Write, which lets the buffer move on. Once the stream is not good, one
  /// more Write stands for all the rest: it changes the state as they all would.
  static void WriteArray(std::ostream& out, const T* values, std::size_t count) {
    while (count > 0) {
      if (!out.good()) {
        Write(out, *values);
        return;
      }
      std::size_t run = 0;
      if (TMemStreamBuf* buffer = DirectOutput(out)) {
        run = std::min(count, StreamAreas::PutRoom(*buffer) / kWidth);
        char* next = StreamAreas::PutNext(*buffer);
        for (std::size_t i = 0; i < run; ++i) {
          Encode(next + i * kWidth, values[i]);
        }
        StreamAreas::Put(*buffer, run * kWidth);
      }
      if (run == 0) {
        Write(out, *values);
        run = 1;
      }
      values += run;
      count -= run;
    }
  }

  /// Reads `count` values as `count` Read calls would, runs held by the get area straight
  /// out of it. Once the stream is not good, one more Read stands for all the rest.
  static void ReadArray(std::istream& in, T* values, std::size_t count) {
    while (count > 0) {
      if (!in.good()) {
        Read(in, *values);
        return;
      }
      std::size_t run = 0;
      if (TMemStreamBuf* buffer = DirectInput(in)) {
        run = std::min(count, StreamAreas::GetAvailable(*buffer) / kWidth);
        const char* next = StreamAreas::GetNext(*buffer);
        for (std::size_t i = 0; i < run; ++i) {
          values[i] = Decode(next + i * kWidth);
        }
        StreamAreas::Take(*buffer, run * kWidth);
      }
      if (run == 0) {
        Read(in, *values);
        run = 1;
      }
      values += run;
      count -= run;
    }
  }
};

/// Writes `value` in the stream's order, as `Host` in host order.
template <class Host, class T> void WriteNumber(std::ostream& out, bool network, T value) {
  if (network) {
    Form<Host, T, true>::Write(out, value);
  } else {
    Form<Host, T, false>::Write(out, value);
  }
}

template <class Host, class T> void ReadNumber(std::istream& in, bool network, T& value) {
  if (network) {
    Form<Host, T, true>::Read(in, value);
  } else {
    Form<Host, T, false>::Read(in, value);
  }
}

template <class Host, class T>
void WriteNumbers(std::ostream& out, bool network, const T* values, std::size_t count) {
  if (network) {
    Form<Host, T, true>::WriteArray(out, values, count);
  } else {
    Form<Host, T, false>::WriteArray(out, values, count);
  }
}

template <class Host, class T>
void ReadNumbers(std::istream& in, bool network, T* values, std::size_t count) {
  if (network) {
    Form<Host, T, true>::ReadArray(in, values, count);
  } else {
    Form<Host, T, false>::ReadArray(in, values, count);
  }
}

bool Failed(const std::ios& stream) noexcept {
  return (stream.rdstate() & (std::ios_base::failbit | std::ios_base::badbit)) != 0;
}

/// Reads `length` text bytes into `text`. Gives false, leaving `text` alone, when fewer
/// arrived (the stream is then failed).
bool ReadText(TiBinaryStream& in, std::uint32_t length, TString& text) {
  if (length <= kStringPiece) {
    TString piece(nullptr, length);
    if (length != 0 &&
        static_cast<std::uint32_t>(
            in.read(static_cast<char*>(piece), static_cast<int>(length)).gcount()) != length) {
      return false;
    }
    text = piece;
    return true;
  }
  // A length from the wire is not trusted with one allocation: grow with what arrives.
  std::vector<char> bytes;
  std::uint32_t done = 0;
  while (done < length) {
    const std::uint32_t want = std::min(length - done, kStringPiece);
    bytes.resize(std::size_t{done} + want);
    if (static_cast<std::uint32_t>(in.read(bytes.data() + done, static_cast<int>(want)).gcount()) !=
        want) {
      return false;
    }
    done += want;
  }
  text = TString(bytes.data(), length);
  return true;
}

} // namespace

// ------------------------------------------------------------ VBinaryStreamBase ----

long VBinaryStreamBase::flags() const noexcept {
  return FromFmtFlags(fIos->flags());
}

long VBinaryStreamBase::flags(long value) noexcept {
  return FromFmtFlags(fIos->flags(ToFmtFlags(value)));
}

long VBinaryStreamBase::setf(long bits) noexcept {
  return FromFmtFlags(fIos->setf(ToFmtFlags(bits)));
}

long VBinaryStreamBase::setf(long bits, long mask) noexcept {
  return FromFmtFlags(fIos->setf(ToFmtFlags(bits), ToFmtFlags(mask)));
}

long VBinaryStreamBase::unsetf(long bits) noexcept {
  const long old = flags();
  fIos->unsetf(ToFmtFlags(bits));
  return old;
}

int VBinaryStreamBase::width() const noexcept {
  return static_cast<int>(fIos->width());
}

int VBinaryStreamBase::width(int value) noexcept {
  return static_cast<int>(fIos->width(value));
}

char VBinaryStreamBase::fill() const noexcept {
  return fIos->fill();
}

char VBinaryStreamBase::fill(char value) noexcept {
  return fIos->fill(value);
}

int VBinaryStreamBase::precision() const noexcept {
  return static_cast<int>(fIos->precision());
}

int VBinaryStreamBase::precision(int value) noexcept {
  return static_cast<int>(fIos->precision(value));
}

std::ostream* VBinaryStreamBase::tie() const noexcept {
  return fIos->tie();
}

std::ostream* VBinaryStreamBase::tie(std::ostream* stream) noexcept {
  return fIos->tie(stream);
}

int VBinaryStreamBase::rdstate() const noexcept {
  return static_cast<int>(fIos->rdstate());
}

int VBinaryStreamBase::good() const noexcept {
  return fIos->good() ? 1 : 0;
}

int VBinaryStreamBase::eof() const noexcept {
  return fIos->eof() ? 1 : 0;
}

int VBinaryStreamBase::fail() const noexcept {
  return Failed(*fIos) ? 1 : 0;
}

int VBinaryStreamBase::bad() const noexcept {
  return fIos->bad() ? 1 : 0;
}

VBinaryStreamBase::operator void*() const noexcept {
  // Any non-null pointer will do; this object's address is at hand.
  return Failed(*fIos) ? nullptr : const_cast<VBinaryStreamBase*>(this);
}

void VBinaryStreamBase::clear(int state) {
  fIos->clear(static_cast<std::ios_base::iostate>(state & kStateBits));
}

// ------------------------------------------------------------- TiBinaryStream ----

bool TiBinaryStream::ReadBytes(void* data, std::size_t count) {
  return GetBytes(*fIn, data, count);
}

TiBinaryStream& TiBinaryStream::operator>>(short& value) {
  ReadNumber<short>(*fIn, IsNetworkOrder(), value);
  return *this;
}

TiBinaryStream& TiBinaryStream::operator>>(unsigned short& value) {
  ReadNumber<unsigned short>(*fIn, IsNetworkOrder(), value);
  return *this;
}

TiBinaryStream& TiBinaryStream::operator>>(int& value) {
  ReadNumber<std::int32_t>(*fIn, IsNetworkOrder(), value);
  return *this;
}

TiBinaryStream& TiBinaryStream::operator>>(unsigned int& value) {
  ReadNumber<std::uint32_t>(*fIn, IsNetworkOrder(), value);
  return *this;
}

TiBinaryStream& TiBinaryStream::operator>>(long& value) {
  ReadNumber<std::int32_t>(*fIn, IsNetworkOrder(), value);
  return *this;
}

TiBinaryStream& TiBinaryStream::operator>>(unsigned long& value) {
  ReadNumber<std::uint32_t>(*fIn, IsNetworkOrder(), value);
  return *this;
}

TiBinaryStream& TiBinaryStream::operator>>(float& value) {
  ReadNumber<float>(*fIn, IsNetworkOrder(), value);
  return *this;
}

TiBinaryStream& TiBinaryStream::operator>>(double& value) {
  ReadNumber<double>(*fIn, IsNetworkOrder(), value);
  return *this;
}

TiBinaryStream& TiBinaryStream::operator>>(long double& value) {
  ReadNumber<double>(*fIn, IsNetworkOrder(), value);
  return *this;
}

TiBinaryStream& TiBinaryStream::ReadArray(short* values, std::size_t count) {
  ReadNumbers<short>(*fIn, IsNetworkOrder(), values, count);
  return *this;
}

TiBinaryStream& TiBinaryStream::ReadArray(unsigned short* values, std::size_t count) {
  ReadNumbers<unsigned short>(*fIn, IsNetworkOrder(), values, count);
  return *this;
}

TiBinaryStream& TiBinaryStream::ReadArray(int* values, std::size_t count) {
  ReadNumbers<std::int32_t>(*fIn, IsNetworkOrder(), values, count);
  return *this;
}

TiBinaryStream& TiBinaryStream::ReadArray(unsigned int* values, std::size_t count) {
  ReadNumbers<std::uint32_t>(*fIn, IsNetworkOrder(), values, count);
  return *this;
}

TiBinaryStream& TiBinaryStream::ReadArray(long* values, std::size_t count) {
  ReadNumbers<std::int32_t>(*fIn, IsNetworkOrder(), values, count);
  return *this;
}

TiBinaryStream& TiBinaryStream::ReadArray(unsigned long* values, std::size_t count) {
  ReadNumbers<std::uint32_t>(*fIn, IsNetworkOrder(), values, count);
  return *this;
}

TiBinaryStream& TiBinaryStream::ReadArray(float* values, std::size_t count) {
  ReadNumbers<float>(*fIn, IsNetworkOrder(), values, count);
  return *this;
}

TiBinaryStream& TiBinaryStream::ReadArray(double* values, std::size_t count) {
  ReadNumbers<double>(*fIn, IsNetworkOrder(), values, count);
  return *this;
}

TiBinaryStream& TiBinaryStream::ReadArray(long double* values, std::size_t count) {
  ReadNumbers<double>(*fIn, IsNetworkOrder(), values, count);
  return *this;
}

TiBinaryStream& TiBinaryStream::operator>>(char& character) {
  *fIn >> character;
  return *this;
}

TiBinaryStream& TiBinaryStream::operator>>(signed char& character) {
  *fIn >> character;
  return *this;
}

TiBinaryStream& TiBinaryStream::operator>>(unsigned char& character) {
  *fIn >> character;
  return *this;
}

TiBinaryStream& TiBinaryStream::operator>>(char* word) {
  *fIn >> word;
  return *this;
}

TiBinaryStream& TiBinaryStream::operator>>(signed char* word) {
  *fIn >> word;
  return *this;
}

TiBinaryStream& TiBinaryStream::operator>>(unsigned char* word) {
  *fIn >> word;
  return *this;
}

TiBinaryStream& TiBinaryStream::operator>>(std::streambuf* buffer) {
  *fIn >> buffer;
  return *this;
}

TiBinaryStream& TiBinaryStream::operator>>(std::ios_base& (*manipulator)(std::ios_base&)) {
  manipulator(*fIn);
  return *this;
}

TiBinaryStream& TiBinaryStream::operator>>(std::ios& (*manipulator)(std::ios&)) {
  manipulator(*fIn);
  return *this;
}

TiBinaryStream& TiBinaryStream::operator>>(std::istream& (*manipulator)(std::istream&)) {
  manipulator(*fIn);
  return *this;
}

TiBinaryStream& TiBinaryStream::read(char* data, int count) {
  fIn->read(data, count);
  return *this;
}

TiBinaryStream& TiBinaryStream::read(signed char* data, int count) {
  return read(reinterpret_cast<char*>(data), count);
}

TiBinaryStream& TiBinaryStream::read(unsigned char* data, int count) {
  return read(reinterpret_cast<char*>(data), count);
}

TiBinaryStream& TiBinaryStream::get(char* data, int count, char delimiter) {
  fIn->get(data, count, delimiter);
  return *this;
}

TiBinaryStream& TiBinaryStream::get(signed char* data, int count, char delimiter) {
  return get(reinterpret_cast<char*>(data), count, delimiter);
}

TiBinaryStream& TiBinaryStream::get(unsigned char* data, int count, char delimiter) {
  return get(reinterpret_cast<char*>(data), count, delimiter);
}

TiBinaryStream& TiBinaryStream::getline(char* data, int count, char delimiter) {
  fIn->getline(data, count, delimiter);
  return *this;
}

TiBinaryStream& TiBinaryStream::getline(signed char* data, int count, char delimiter) {
  return getline(reinterpret_cast<char*>(data), count, delimiter);
}

TiBinaryStream& TiBinaryStream::getline(unsigned char* data, int count, char delimiter) {
  return getline(reinterpret_cast<char*>(data), count, delimiter);
}

TiBinaryStream& TiBinaryStream::get(std::streambuf& buffer, char delimiter) {
  fIn->get(buffer, delimiter);
  return *this;
}

TiBinaryStream& TiBinaryStream::get(char& character) {
  fIn->get(character);
  return *this;
}

TiBinaryStream& TiBinaryStream::get(signed char& character) {
  return get(reinterpret_cast<char&>(character));
}

TiBinaryStream& TiBinaryStream::get(unsigned char& character) {
  return get(reinterpret_cast<char&>(character));
}

int TiBinaryStream::get() {
  return fIn->get();
}

int TiBinaryStream::peek() {
  return fIn->peek();
}

TiBinaryStream& TiBinaryStream::ignore(int count, int delimiter) {
  fIn->ignore(count, delimiter);
  return *this;
}

int TiBinaryStream::gcount() const noexcept {
  return static_cast<int>(fIn->gcount());
}

TiBinaryStream& TiBinaryStream::putback(char character) {
  fIn->putback(character);
  return *this;
}

int TiBinaryStream::sync() {
  return fIn->sync();
}

int TiBinaryStream::ipfx(int need) {
  // A positive need is taken to mean "the caller reads raw bytes": no white space skipped.
  const std::istream::sentry prefix(*fIn, need != 0);
  return static_cast<bool>(prefix) ? 1 : 0;
}

TiBinaryStream& TiBinaryStream::seekg(long position) {
  fIn->seekg(static_cast<std::streampos>(position));
  return *this;
}

TiBinaryStream& TiBinaryStream::seekg(long offset, std::ios_base::seekdir direction) {
  fIn->seekg(offset, direction);
  return *this;
}

long TiBinaryStream::tellg() {
  return static_cast<long>(static_cast<std::streamoff>(fIn->tellg()));
}

// ------------------------------------------------------------- ToBinaryStream ----

void ToBinaryStream::WriteBytes(const void* data, std::size_t count) {
  PutBytes(*fOut, data, count);
}

ToBinaryStream& ToBinaryStream::operator<<(short value) {
  WriteNumber<short>(*fOut, IsNetworkOrder(), value);
  return *this;
}

ToBinaryStream& ToBinaryStream::operator<<(unsigned short value) {
  WriteNumber<unsigned short>(*fOut, IsNetworkOrder(), value);
  return *this;
}

ToBinaryStream& ToBinaryStream::operator<<(int value) {
  WriteNumber<std::int32_t>(*fOut, IsNetworkOrder(), value);
  return *this;
}

ToBinaryStream& ToBinaryStream::operator<<(unsigned int value) {
  WriteNumber<std::uint32_t>(*fOut, IsNetworkOrder(), value);
  return *this;
}

ToBinaryStream& ToBinaryStream::operator<<(long value) {
  WriteNumber<std::int32_t>(*fOut, IsNetworkOrder(), value);
  return *this;
}

ToBinaryStream& ToBinaryStream::operator<<(unsigned long value) {
  WriteNumber<std::uint32_t>(*fOut, IsNetworkOrder(), value);
  return *this;
}

ToBinaryStream& ToBinaryStream::operator<<(float value) {
  WriteNumber<float>(*fOut, IsNetworkOrder(), value);
  return *this;
}

ToBinaryStream& ToBinaryStream::operator<<(double value) {
  WriteNumber<double>(*fOut, IsNetworkOrder(), value);
  return *this;
}

ToBinaryStream& ToBinaryStream::operator<<(long double value) {
  WriteNumber<double>(*fOut, IsNetworkOrder(), value);
  return *this;
}

ToBinaryStream& ToBinaryStream::WriteArray(const short* values, std::size_t count) {
  WriteNumbers<short>(*fOut, IsNetworkOrder(), values, count);
  return *this;
}

ToBinaryStream& ToBinaryStream::WriteArray(const unsigned short* values, std::size_t count) {
  WriteNumbers<unsigned short>(*fOut, IsNetworkOrder(), values, count);
  return *this;
}

ToBinaryStream& ToBinaryStream::WriteArray(const int* values, std::size_t count) {
  WriteNumbers<std::int32_t>(*fOut, IsNetworkOrder(), values, count);
  return *this;
}

ToBinaryStream& ToBinaryStream::WriteArray(const unsigned int* values, std::size_t count) {
  WriteNumbers<std::uint32_t>(*fOut, IsNetworkOrder(), values, count);
  return *this;
}

ToBinaryStream& ToBinaryStream::WriteArray(const long* values, std::size_t count) {
  WriteNumbers<std::int32_t>(*fOut, IsNetworkOrder(), values, count);
  return *this;
}

ToBinaryStream& ToBinaryStream::WriteArray(const unsigned long* values, std::size_t count) {
  WriteNumbers<std::uint32_t>(*fOut, IsNetworkOrder(), values, count);
  return *this;
}

ToBinaryStream& ToBinaryStream::WriteArray(const float* values, std::size_t count) {
  WriteNumbers<float>(*fOut, IsNetworkOrder(), values, count);
  return *this;
}

ToBinaryStream& ToBinaryStream::WriteArray(const double* values, std::size_t count) {
  WriteNumbers<double>(*fOut, IsNetworkOrder(), values, count);
  return *this;
}

ToBinaryStream& ToBinaryStream::WriteArray(const long double* values, std::size_t count) {
  WriteNumbers<double>(*fOut, IsNetworkOrder(), values, count);
  return *this;
}

ToBinaryStream& ToBinaryStream::operator<<(char character) {
  *fOut << character;
  return *this;
}

ToBinaryStream& ToBinaryStream::operator<<(signed char character) {
  *fOut << character;
  return *this;
}

ToBinaryStream& ToBinaryStream::operator<<(unsigned char character) {
  *fOut << character;
  return *this;
}

ToBinaryStream& ToBinaryStream::operator<<(const char* text) {
  *fOut << text;
  return *this;
}

ToBinaryStream& ToBinaryStream::operator<<(const signed char* text) {
  *fOut << text;
  return *this;
}

ToBinaryStream& ToBinaryStream::operator<<(const unsigned char* text) {
  *fOut << text;
  return *this;
}

ToBinaryStream& ToBinaryStream::operator<<(const void* pointer) {
  *fOut << pointer;
  return *this;
}

ToBinaryStream& ToBinaryStream::operator<<(std::streambuf* buffer) {
  *fOut << buffer;
  return *this;
}

ToBinaryStream& ToBinaryStream::operator<<(std::ios_base& (*manipulator)(std::ios_base&)) {
  manipulator(*fOut);
  return *this;
}

ToBinaryStream& ToBinaryStream::operator<<(std::ios& (*manipulator)(std::ios&)) {
  manipulator(*fOut);
  return *this;
}

ToBinaryStream& ToBinaryStream::operator<<(std::ostream& (*manipulator)(std::ostream&)) {
  manipulator(*fOut);
  return *this;
}

ToBinaryStream& ToBinaryStream::write(const char* data, int count) {
  fOut->write(data, count);
  return *this;
}

ToBinaryStream& ToBinaryStream::write(const signed char* data, int count) {
  return write(reinterpret_cast<const char*>(data), count);
}

ToBinaryStream& ToBinaryStream::write(const unsigned char* data, int count) {
  return write(reinterpret_cast<const char*>(data), count);
}

ToBinaryStream& ToBinaryStream::put(char character) {
  fOut->put(character);
  return *this;
}

ToBinaryStream& ToBinaryStream::flush() {
  fOut->flush();
  return *this;
}

int ToBinaryStream::opfx() {
  if (!fOut->good()) {
    fOut->setstate(std::ios_base::failbit);
    return 0;
  }
  if (fOut->tie() != nullptr) {
    fOut->tie()->flush();
  }
  return 1;
}

void ToBinaryStream::osfx() {
  if ((fOut->flags() & std::ios_base::unitbuf) != 0) {
    fOut->flush();
  }
}

ToBinaryStream& ToBinaryStream::seekp(long position) {
  fOut->seekp(static_cast<std::streampos>(position));
  return *this;
}

ToBinaryStream& ToBinaryStream::seekp(long offset, std::ios_base::seekdir direction) {
  fOut->seekp(offset, direction);
  return *this;
}

long ToBinaryStream::tellp() {
  return static_cast<long>(static_cast<std::streamoff>(fOut->tellp()));
}

// ------------------------------------------------------------------ TString ----

ToBinaryStream& operator<<(ToBinaryStream& stream, const TString& string) {
  if (stream.fail()) {
    return stream;
  }
  const std::uint32_t length = string.length();
  stream << length << std::uint32_t{0};
  // One write, unless the text is too long for the int count.
  const char* text = string;
  for (std::uint32_t done = 0; done < length && !stream.fail();) {
    const std::uint32_t piece = std::min<std::uint32_t>(length - done, INT32_MAX);
    stream.write(text + done, static_cast<int>(piece));
    done += piece;
  }
  return stream;
}

TiBinaryStream& operator>>(TiBinaryStream& stream, TString& string) {
  if (stream.fail()) {
    return stream;
  }
  std::uint32_t length = 0;
  stream >> length;
  if (stream.fail()) {
    return stream;
  }
  std::uint32_t reserved = 0;
  stream >> reserved;
  if (stream.fail()) {
    return stream;
  }
  try {
    ReadText(stream, length, string);
  } catch (const std::bad_alloc&) {
    stream.clear(stream.rdstate() | std::ios_base::badbit);
  }
  return stream;
}
