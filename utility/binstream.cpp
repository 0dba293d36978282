// utility/binstream.cpp: binary streams and the binary form of TString.
// Licensed under the Apache License, Version 2.0.
//
// Operating-system independent. Every number is one unformatted read or write of the
// underlying stream; network forms go through TNetworkValue, so byte reversal is the same
// shift code on every host.
#include <tavutil/binstream.h>
#include <tavutil/tstring.h>

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

/// Reaches the put area of any streambuf, as a streambuf's own code does. (A pointer to a
/// protected member, formed through a derived class, may be applied to any object of the
/// base.)
struct PutArea : std::streambuf {
  static char* Next(std::streambuf& buffer) { return (buffer.*&PutArea::pptr)(); }
  static char* End(std::streambuf& buffer) { return (buffer.*&PutArea::epptr)(); }
  static void Advance(std::streambuf& buffer, int count) { (buffer.*&PutArea::pbump)(count); }
};

/// One unformatted write of a number's few bytes. When the stream is good, has no tied
/// stream and no unitbuf flag, and the put area has room, the bytes go straight into the put
/// area, as `sputc` would put them: ostream::write would do exactly that after checks that
/// cannot fire, and its sentry costs more than the copy. Otherwise it is ostream::write.
void PutBytes(std::ostream& out, const void* bytes, int count) {
  std::streambuf* buffer = out.rdbuf();
  if (out.rdstate() == std::ios_base::goodbit && out.tie() == nullptr &&
      (out.flags() & std::ios_base::unitbuf) == 0) {
    char* next = PutArea::Next(*buffer);
    if (PutArea::End(*buffer) - next >= count) {
      std::memcpy(next, bytes, static_cast<std::size_t>(count));
      PutArea::Advance(*buffer, count);
      return;
    }
  }
  out.write(static_cast<const char*>(bytes), count);
}

/// Writes `value` as its network form, or as `Host` (its width on the wire) in host order.
template <class Host, class T> void WriteNumber(std::ostream& out, bool network, T value) {
  if (network) {
    const TNetworkValue<T> wire(value);
    PutBytes(out, wire.QueryBytes(), TNetworkValue<T>::kWidth);
  } else {
    const auto host = static_cast<Host>(value);
    PutBytes(out, &host, sizeof host);
  }
}

/// Reads `value` from its network form (missing bytes are zero) or as `Host` in host order
/// (missing bytes keep the old value's bytes). A stream that is not good reads nothing, gets
/// failbit, and leaves `value` alone.
template <class Host, class T> void ReadNumber(std::istream& in, bool network, T& value) {
  if (network) {
    const bool good = in.good();
    TNetworkValue<T> wire;
    in.read(reinterpret_cast<char*>(wire.QueryBytes()), TNetworkValue<T>::kWidth);
    if (good) {
      value = wire;
    }
  } else {
    auto host = static_cast<Host>(value);
    in.read(reinterpret_cast<char*>(&host), sizeof host);
    value = static_cast<T>(host);
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

long VBinaryStreamBase::flags() const {
  return FromFmtFlags(fIos->flags());
}

long VBinaryStreamBase::flags(long value) {
  return FromFmtFlags(fIos->flags(ToFmtFlags(value)));
}

long VBinaryStreamBase::setf(long bits) {
  return FromFmtFlags(fIos->setf(ToFmtFlags(bits)));
}

long VBinaryStreamBase::setf(long bits, long mask) {
  return FromFmtFlags(fIos->setf(ToFmtFlags(bits), ToFmtFlags(mask)));
}

long VBinaryStreamBase::unsetf(long bits) {
  const long old = flags();
  fIos->unsetf(ToFmtFlags(bits));
  return old;
}

int VBinaryStreamBase::width() const {
  return static_cast<int>(fIos->width());
}

int VBinaryStreamBase::width(int value) {
  return static_cast<int>(fIos->width(value));
}

char VBinaryStreamBase::fill() const {
  return fIos->fill();
}

char VBinaryStreamBase::fill(char value) {
  return fIos->fill(value);
}

int VBinaryStreamBase::precision() const {
  return static_cast<int>(fIos->precision());
}

int VBinaryStreamBase::precision(int value) {
  return static_cast<int>(fIos->precision(value));
}

std::ostream* VBinaryStreamBase::tie() const {
  return fIos->tie();
}

std::ostream* VBinaryStreamBase::tie(std::ostream* stream) {
  return fIos->tie(stream);
}

int VBinaryStreamBase::rdstate() const {
  return static_cast<int>(fIos->rdstate());
}

int VBinaryStreamBase::good() const {
  return fIos->good() ? 1 : 0;
}

int VBinaryStreamBase::eof() const {
  return fIos->eof() ? 1 : 0;
}

int VBinaryStreamBase::fail() const {
  return Failed(*fIos) ? 1 : 0;
}

int VBinaryStreamBase::bad() const {
  return fIos->bad() ? 1 : 0;
}

VBinaryStreamBase::operator void*() const {
  // Any non-null pointer will do; this object's address is at hand.
  return Failed(*fIos) ? nullptr : const_cast<VBinaryStreamBase*>(this);
}

void VBinaryStreamBase::clear(int state) {
  fIos->clear(static_cast<std::ios_base::iostate>(state & kStateBits));
}

// ------------------------------------------------------------- TiBinaryStream ----

bool TiBinaryStream::ReadBytes(void* data, std::size_t count) {
  const bool good = fIn->good();
  fIn->read(static_cast<char*>(data), static_cast<std::streamsize>(count));
  return good;
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

TiBinaryStream& TiBinaryStream::operator>>(char& c) {
  *fIn >> c;
  return *this;
}

TiBinaryStream& TiBinaryStream::operator>>(signed char& c) {
  *fIn >> c;
  return *this;
}

TiBinaryStream& TiBinaryStream::operator>>(unsigned char& c) {
  *fIn >> c;
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

TiBinaryStream& TiBinaryStream::get(char& c) {
  fIn->get(c);
  return *this;
}

TiBinaryStream& TiBinaryStream::get(signed char& c) {
  return get(reinterpret_cast<char&>(c));
}

TiBinaryStream& TiBinaryStream::get(unsigned char& c) {
  return get(reinterpret_cast<char&>(c));
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

int TiBinaryStream::gcount() const {
  return static_cast<int>(fIn->gcount());
}

TiBinaryStream& TiBinaryStream::putback(char c) {
  fIn->putback(c);
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
  PutBytes(*fOut, data, static_cast<int>(count));
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

ToBinaryStream& ToBinaryStream::operator<<(char c) {
  *fOut << c;
  return *this;
}

ToBinaryStream& ToBinaryStream::operator<<(signed char c) {
  *fOut << c;
  return *this;
}

ToBinaryStream& ToBinaryStream::operator<<(unsigned char c) {
  *fOut << c;
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

ToBinaryStream& ToBinaryStream::put(char c) {
  fOut->put(c);
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

ToBinaryStream& operator<<(ToBinaryStream& stream, const TString& s) {
  if (stream.fail()) {
    return stream;
  }
  const std::uint32_t length = s.length();
  stream << length << std::uint32_t{0};
  // One write, unless the text is too long for the int count.
  const char* text = s;
  for (std::uint32_t done = 0; done < length && !stream.fail();) {
    const std::uint32_t piece = std::min<std::uint32_t>(length - done, INT32_MAX);
    stream.write(text + done, static_cast<int>(piece));
    done += piece;
  }
  return stream;
}

TiBinaryStream& operator>>(TiBinaryStream& stream, TString& s) {
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
    ReadText(stream, length, s);
  } catch (const std::bad_alloc&) {
    stream.clear(stream.rdstate() | std::ios_base::badbit);
  }
  return stream;
}
