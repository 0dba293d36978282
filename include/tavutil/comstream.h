// tavutil/comstream.h: the COM stream interface IStream, declared for platforms without COM.
// Licensed under the Apache License, Version 2.0.
//
// On Windows this is the system's own declaration; elsewhere the library declares the
// published interface itself (same methods in the same order, HRESULT results), so that
// the COM streams (tavutil/olestrm.h) and their callers compile unchanged on both.
#ifndef TAVUTIL_COMSTREAM_H
#define TAVUTIL_COMSTREAM_H

#include <tavutil/config.h>

#if defined(_WIN32)
#include <objidl.h>
#else

#include <cstdint>

/// The calling convention of COM methods: __stdcall on 32-bit Windows, the default here. An
/// implementation of IStream declares its methods with it, to build on both.
#define STDMETHODCALLTYPE

typedef std::int32_t HRESULT;
typedef std::uint32_t ULONG;
typedef std::uint32_t DWORD;
typedef _Wchar_t* LPOLESTR;

/// A COM interface or class identifier.
struct GUID {
  std::uint32_t Data1;
  std::uint16_t Data2;
  std::uint16_t Data3;
  std::uint8_t Data4[8];
};
typedef GUID IID;
typedef GUID CLSID;
typedef const IID& REFIID;

union LARGE_INTEGER {
  struct {
    DWORD LowPart;
    std::int32_t HighPart;
  } u;
  std::int64_t QuadPart;
};

union ULARGE_INTEGER {
  struct {
    DWORD LowPart;
    DWORD HighPart;
  } u;
  std::uint64_t QuadPart;
};

struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};

/// What IStream::Stat describes.
struct STATSTG {
  LPOLESTR pwcsName;
  DWORD type;
  ULARGE_INTEGER cbSize;
  FILETIME mtime;
  FILETIME ctime;
  FILETIME atime;
  DWORD grfMode;
  DWORD grfLocksSupported;
  CLSID clsid;
  DWORD grfStateBits;
  DWORD reserved;
};

inline constexpr HRESULT S_OK = 0;
/// Success with less than asked: a Read that reached the end of the stream, say.
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001U);
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002U);
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005U);
inline constexpr HRESULT STG_E_ACCESSDENIED = static_cast<HRESULT>(0x80030005U);
inline constexpr HRESULT STG_E_MEDIUMFULL = static_cast<HRESULT>(0x80030070U);

/// Origins of IStream::Seek.
inline constexpr DWORD STREAM_SEEK_SET = 0;
inline constexpr DWORD STREAM_SEEK_CUR = 1;
inline constexpr DWORD STREAM_SEEK_END = 2;

/// A result is a failure when its top bit is set; S_FALSE is a success.
constexpr bool FAILED(HRESULT result) noexcept {
  return result < 0;
}
constexpr bool SUCCEEDED(HRESULT result) noexcept {
  return result >= 0;
}

/// The root of every COM interface: identity and reference counting. Objects are destroyed
/// by their last Release, never through this interface.
struct IUnknown {
  virtual HRESULT QueryInterface(REFIID riid, void** ppvObject) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

protected:
  IUnknown() = default;
  IUnknown(const IUnknown&) = default;
  IUnknown& operator=(const IUnknown&) = default;
  ~IUnknown() = default;
};

/// Sequential reading and writing of bytes.
struct ISequentialStream : IUnknown {
  /// Reads up to `cb` bytes; `*pcbRead` gets the count (0 at the end of the stream).
  virtual HRESULT Read(void* pv, ULONG cb, ULONG* pcbRead) = 0;
  /// Writes `cb` bytes; `*pcbWritten` gets the count actually written.
  virtual HRESULT Write(const void* pv, ULONG cb, ULONG* pcbWritten) = 0;

protected:
  ISequentialStream() = default;
  ISequentialStream(const ISequentialStream&) = default;
  ISequentialStream& operator=(const ISequentialStream&) = default;
  ~ISequentialStream() = default;
};

/// A seekable COM stream.
struct IStream : ISequentialStream {
  virtual HRESULT Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER* plibNewPosition) = 0;
  virtual HRESULT SetSize(ULARGE_INTEGER libNewSize) = 0;
  virtual HRESULT CopyTo(IStream* pstm, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
                         ULARGE_INTEGER* pcbWritten) = 0;
  virtual HRESULT Commit(DWORD grfCommitFlags) = 0;
  virtual HRESULT Revert() = 0;
  virtual HRESULT LockRegion(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType) = 0;
  virtual HRESULT UnlockRegion(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType) = 0;
  virtual HRESULT Stat(STATSTG* pstatstg, DWORD grfStatFlag) = 0;
  virtual HRESULT Clone(IStream** ppstm) = 0;

protected:
  IStream() = default;
  IStream(const IStream&) = default;
  IStream& operator=(const IStream&) = default;
  ~IStream() = default;
};

#endif // _WIN32

#endif // TAVUTIL_COMSTREAM_H
