// utility/sharedmemory.cpp: ipcSharedMemory and its platform object osSharedMemory.
// Licensed under the Apache License, Version 2.0.
//
// Operating-system independent: the section itself is the platform's (platform/platform.h).
// Every failure ends in a state; an object in a non-zero state holds no mapping and no handle.
#include <tavutil/sharedmemory.h>

#include "platform/platform.h"

#include <cstdint>
#include <cstring>
#include <new>

namespace {

/// The states of an ipcSharedMemory, as rdstate() gives them.
enum SectionState : std::int32_t {
  kMapped = 0,       ///< the section is mapped and usable
  kCreateFailed = 1, ///< the name is in use, or the section could not be made or mapped;
                     ///< also either constructor when memory runs out
  kNoName = 2,       ///< the name is null or empty
  kOpenFailed = 3,   ///< no section of that name exists, or it could not be mapped
};

} // namespace

/// The platform side of an ipcSharedMemory: the section's handle, its name and its mapping.
class osSharedMemory {
public:
  explicit osSharedMemory(int ownerFlag) noexcept : fOwnerFlag(ownerFlag) {}
  /// Unmaps and closes the section when one is held.
  virtual ~osSharedMemory() { tavutil::platform::CloseSection(fHandle); }
  osSharedMemory(const osSharedMemory&) = delete;
  osSharedMemory& operator=(const osSharedMemory&) = delete;

  /// Creates and maps a new section of `size` bytes; gives the owner's new state.
  std::int32_t Create(const char* name, long size) noexcept {
    const std::int32_t named = CopyName(name);
    if (named != kMapped) {
      return named;
    }
    if (size <= 0 || size > INT32_MAX) {
      return kCreateFailed;
    }
    int error = 0;
    const tavutil::platform::SectionResult result = tavutil::platform::CreateSection(
        fName.get(), static_cast<std::size_t>(size), fHandle, error);
    return Attach(result, kCreateFailed);
  }

  /// Opens and maps the section of that name; gives the owner's new state.
  std::int32_t Open(const char* name) noexcept {
    const std::int32_t named = CopyName(name);
    if (named != kMapped) {
      return named;
    }
    int error = 0;
    const tavutil::platform::SectionResult result =
        tavutil::platform::OpenSection(fName.get(), fHandle, error);
    return Attach(result, kOpenFailed);
  }

  char* Name() const noexcept { return fName.get(); }
  void* Address() const noexcept { return fAddress; }
  int OwnerFlag() const noexcept { return fOwnerFlag; }

private:
  /// Keeps a copy of the name: kNoName for a null or empty name, kCreateFailed when out of
  /// memory, else kMapped (nothing failed yet).
  std::int32_t CopyName(const char* name) noexcept {
    if (name == nullptr || *name == '\0') {
      return kNoName;
    }
    const std::size_t length = std::strlen(name);
    fName.reset(new (std::nothrow) char[length + 1]);
    if (fName == nullptr) {
      return kCreateFailed;
    }
    std::memcpy(fName.get(), name, length + 1);
    return kMapped;
  }

  /// Takes the mapping after a successful create or open; `failure` otherwise.
  std::int32_t Attach(tavutil::platform::SectionResult result, std::int32_t failure) noexcept {
    if (result != tavutil::platform::SectionResult::ok) {
      return failure;
    }
    fAddress = tavutil::platform::SectionAddress(*fHandle);
    return kMapped;
  }

  tavutil::platform::SectionHandle* fHandle = nullptr;
  std::unique_ptr<char[]> fName;
  int fOwnerFlag;
  void* fAddress = nullptr;
};

ipcSharedMemory::ipcSharedMemory(const char* name, long size) noexcept
    : fPlatform(new (std::nothrow) osSharedMemory(1)), fState(kCreateFailed), fSize(size) {
  if (fPlatform != nullptr) {
    fState = fPlatform->Create(name, size);
  }
}

ipcSharedMemory::ipcSharedMemory(const char* name) noexcept
    : fPlatform(new (std::nothrow) osSharedMemory(0)),
      fState(kCreateFailed), // fixed: out of memory reads as a failed creation here too
      fSize(0) {
  if (fPlatform != nullptr) {
    fState = fPlatform->Open(name);
  }
}

ipcSharedMemory::~ipcSharedMemory() = default;

char* ipcSharedMemory::Name() const noexcept {
  return fPlatform != nullptr ? fPlatform->Name() : nullptr;
}

void* ipcSharedMemory::Pointer() const noexcept {
  return fPlatform != nullptr ? fPlatform->Address() : nullptr;
}

int ipcSharedMemory::Owner() const noexcept {
  return fPlatform != nullptr ? fPlatform->OwnerFlag() : 0;
}
