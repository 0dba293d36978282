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
  std::uint32_t Data1;   ///< the first 8 hex digits
  std::uint16_t Data2;   ///< the next 4
  std::uint16_t Data3;   ///< the next 4
  std::uint8_t Data4[8]; ///< the last 16, two to a byte
};
typedef GUID IID;
typedef GUID CLSID;
typedef const IID& REFIID;

/// A signed 64-bit offset (IStream::Seek), whole or as two 32-bit halves.
union LARGE_INTEGER {
  /// The two halves.
  struct {
    DWORD LowPart;
    std::int32_t HighPart;
  } u;
  std::int64_t QuadPart; ///< the whole value
};

/// An unsigned 64-bit size or position, whole or as two 32-bit halves.
union ULARGE_INTEGER {
  /// The two halves.
  struct {
    DWORD LowPart;
    DWORD HighPart;
  } u;
  std::uint64_t QuadPart; ///< the whole value
};

/// A time in 100-nanosecond steps since 1601-01-01 UTC, as two 32-bit halves.
struct FILETIME {
  DWORD dwLowDateTime;  ///< the low half
  DWORD dwHighDateTime; ///< the high half
};

/// What IStream::Stat describes.
struct STATSTG {
  LPOLESTR pwcsName;       ///< the stream's name, or null
  DWORD type;              ///< the kind of storage object
  ULARGE_INTEGER cbSize;   ///< the size in bytes
  FILETIME mtime;          ///< last modification
  FILETIME ctime;          ///< creation
  FILETIME atime;          ///< last access
  DWORD grfMode;           ///< the access mode it was opened with
  DWORD grfLocksSupported; ///< the region locks it supports
  CLSID clsid;             ///< the class of a storage object
  DWORD grfStateBits;      ///< a storage object's state bits
  DWORD reserved;          ///< unused
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

/// A result is a failure when its top bit is set; S_FALSE is a success. Throws nothing.
constexpr bool FAILED(HRESULT result) noexcept {
  return result < 0;
}
/// A result is a success when its top bit is clear. Throws nothing.
constexpr bool SUCCEEDED(HRESULT result) noexcept {
  return result >= 0;
}

/// The root of every COM interface: identity and reference counting. Objects are destroyed
/// by their last Release, never through this interface.
///
/// No method of a COM interface lets an exception out: each reports failure in its HRESULT.
struct IUnknown {
  /// Stores in `*ppvObject` this object as the interface `riid`, with a reference added, and
  /// gives S_OK; E_NOINTERFACE and null when it has none. Throws nothing.
  virtual HRESULT QueryInterface(REFIID riid, void** ppvObject) = 0;
  /// Adds a reference and gives the new count (for diagnostics only). Throws nothing.
  virtual ULONG AddRef() = 0;
  /// Removes a reference, destroying the object with the last one, and gives the new count
  /// (for diagnostics only). Throws nothing.
  virtual ULONG Release() = 0;

protected:
  /// Interfaces are made, copied and destroyed only as parts of their implementations.
  /// Throws nothing.
  ///@{
  IUnknown() = default;
  IUnknown(const IUnknown&) = default;
  IUnknown& operator=(const IUnknown&) = default;
  ~IUnknown() = default;
  ///@}
};

/// Sequential reading and writing of bytes.
struct ISequentialStream : IUnknown {
  /// Reads up to `cb` bytes; `*pcbRead` gets the count (0 at the end of the stream).
  /// Throws nothing.
  virtual HRESULT Read(void* pv, ULONG cb, ULONG* pcbRead) = 0;
  /// Writes `cb` bytes; `*pcbWritten` gets the count actually written. Throws nothing.
  virtual HRESULT Write(const void* pv, ULONG cb, ULONG* pcbWritten) = 0;

protected:
  /// Made, copied and destroyed only as part of an implementation. Throws nothing.
  ///@{
  ISequentialStream() = default;
  ISequentialStream(const ISequentialStream&) = default;
  ISequentialStream& operator=(const ISequentialStream&) = default;
  ~ISequentialStream() = default;
  ///@}
};

/// A seekable COM stream.
struct IStream : ISequentialStream {
  /// Moves the position by `dlibMove` from `dwOrigin` (a STREAM_SEEK_ value); the new
  /// position goes to `*plibNewPosition` unless that is null. Throws nothing.
  virtual HRESULT Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER* plibNewPosition) = 0;
  /// Makes the stream `libNewSize` bytes long. Throws nothing.
  virtual HRESULT SetSize(ULARGE_INTEGER libNewSize) = 0;
  /// Copies `cb` bytes from the position to `pstm`, giving the counts read and written.
  /// Throws nothing.
  virtual HRESULT CopyTo(IStream* pstm, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
                         ULARGE_INTEGER* pcbWritten) = 0;
  /// Commits a transacted stream's changes. Throws nothing.
  virtual HRESULT Commit(DWORD grfCommitFlags) = 0;
  /// Drops a transacted stream's changes since the last Commit. Throws nothing.
  virtual HRESULT Revert() = 0;
  /// Locks the `cb` bytes at `libOffset` against other users. Throws nothing.
  virtual HRESULT LockRegion(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType) = 0;
  /// Releases a lock LockRegion took. Throws nothing.
  virtual HRESULT UnlockRegion(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType) = 0;
  /// Describes the stream in `*pstatstg`. Throws nothing.
  virtual HRESULT Stat(STATSTG* pstatstg, DWORD grfStatFlag) = 0;
  /// A second stream over the same bytes with a position of its own, in `*ppstm`.
  /// Throws nothing.
  virtual HRESULT Clone(IStream** ppstm) = 0;

protected:
  /// Made, copied and destroyed only as part of an implementation. Throws nothing.
  ///@{
  IStream() = default;
  IStream(const IStream&) = default;
  IStream& operator=(const IStream&) = default;
  ~IStream() = default;
  ///@}
};

#endif // _WIN32

#endif // TAVUTIL_COMSTREAM_H
