// utility/platform/posix/ipclayout.h: names and layout of the library's named objects in POSIX
// shared memory.
// Licensed under the Apache License, Version 2.0.
//
// Internal to the library; never installed. Header-only so that tests can derive the operating
// system's name of a mutex or section and look at the object with shm_open and mmap directly.
#ifndef TAVUTIL_PLATFORM_POSIX_IPCLAYOUT_H
#define TAVUTIL_PLATFORM_POSIX_IPCLAYOUT_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace tavutil::platform::posix {

/// The two kinds of named object; each has its own name prefix, so they never meet.
enum class IpcKind : std::uint32_t { mutex = 1, section = 2 };

/// Longest file name a shm object may have (NAME_MAX on Linux).
inline constexpr std::size_t kIpcNameMax = 255;
/// Room for a shm name: the leading '/', up to kIpcNameMax bytes and the terminating NUL.
inline constexpr std::size_t kIpcNameCapacity = kIpcNameMax + 2;

/// Value of IpcObjectHeader::ready once the creator has finished the object ("tavu").
inline constexpr std::uint32_t kIpcReady = 0x74617675;

/// The start of every named object. The caller's full name follows the header (no
/// terminator), and the payload (a mutex, or the caller's bytes) starts at payloadOffset.
/// Openers use an object only when `ready` is kIpcReady and kind and name match their own,
/// so a hash collision of two long names is a failure, never a silent share.
struct IpcObjectHeader {
  std::atomic<std::uint32_t> ready;
  std::uint32_t kind;
  std::uint64_t nameLength;
  std::uint64_t payloadOffset;
  std::uint64_t payloadSize;
};
static_assert(std::atomic<std::uint32_t>::is_always_lock_free,
              "the ready flag is shared between processes and must be address-free");

/// 64-bit FNV-1a of `length` bytes.
inline std::uint64_t IpcNameHash(const char* text, std::size_t length) noexcept {
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  for (std::size_t i = 0; i < length; ++i) {
    hash ^= static_cast<unsigned char>(text[i]);
    hash *= 0x100000001b3ULL;
  }
  return hash;
}

/// Whether a name byte stands for itself in the escaped form; every other byte becomes %XX.
constexpr bool IpcNameByteIsPlain(unsigned char byte) noexcept {
  return (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
         (byte >= '0' && byte <= '9') || byte == '-' || byte == '_' || byte == '.';
}

/// The directory in which the system keeps POSIX shared-memory objects as files.
inline constexpr char kIpcDirectory[] = "/dev/shm";
/// Room for the file-name prefix of a user's namespace: "tavutil." and up to ten digits.
inline constexpr std::size_t kIpcPrefixCapacity = 24;

/// Writes "tavutil.<user>." into `out`: the start of the file name of every object of that
/// user (the shm name adds a leading '/'). Gives its length.
inline std::size_t MakeIpcNamespacePrefix(std::uint32_t user,
                                          char (&out)[kIpcPrefixCapacity]) noexcept {
  const int length =
      std::snprintf(out, kIpcPrefixCapacity, "tavutil.%lu.", static_cast<unsigned long>(user));
  return length > 0 ? static_cast<std::size_t>(length) : 0;
}

/// Writes the shm name of the object called `name` (`length` bytes, any bytes at all) of the
/// user `user` into `out`. A name whose escaped form fits is "/tavutil.<user>.<m|s>.n.<escaped>",
/// which is injective ('%' itself is escaped, so no two names share a form); a longer one is
/// "/tavutil.<user>.<m|s>.h.<FNV-1a 64 in hex>.<length>", and the full name kept in the object
/// tells two such names apart. The 'n' and 'h' marks keep the two forms apart, and the user
/// id gives each user a namespace of its own.
inline void MakeIpcName(IpcKind kind, std::uint32_t user, const char* name, std::size_t length,
                        char (&out)[kIpcNameCapacity]) noexcept {
  char prefix[kIpcPrefixCapacity];
  const std::size_t prefixLength = MakeIpcNamespacePrefix(user, prefix);
  const char kindMark = kind == IpcKind::mutex ? 'm' : 's';
  std::size_t escapedLength = 0;
  for (std::size_t i = 0; i < length; ++i) {
    escapedLength += IpcNameByteIsPlain(static_cast<unsigned char>(name[i])) ? 1 : 3;
  }
  // The file name is everything after the leading '/': the prefix, "m.n." and the name.
  if (prefixLength + 4 + escapedLength <= kIpcNameMax) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::size_t at = 0;
    out[at++] = '/';
    for (std::size_t i = 0; i < prefixLength; ++i) {
      out[at++] = prefix[i];
    }
    out[at++] = kindMark;
    out[at++] = '.';
    out[at++] = 'n';
    out[at++] = '.';
    for (std::size_t i = 0; i < length; ++i) {
      const auto c = static_cast<unsigned char>(name[i]);
      if (IpcNameByteIsPlain(c)) {
        out[at++] = static_cast<char>(c);
      } else {
        out[at++] = '%';
        out[at++] = kHex[c >> 4];
        out[at++] = kHex[c & 0xF];
      }
    }
    out[at] = '\0';
    return;
  }
  std::snprintf(out, kIpcNameCapacity, "/%s%c.h.%016llx.%zu", prefix, kindMark,
                static_cast<unsigned long long>(IpcNameHash(name, length)), length);
}

} // namespace tavutil::platform::posix

#endif // TAVUTIL_PLATFORM_POSIX_IPCLAYOUT_H
