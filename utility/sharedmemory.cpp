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

/// The platform side of an ipcSharedMemory: the section's handle, its name and its mapping.
class osSharedMemory {
public:
  osSharedMemory(ipcSharedMemory& owner, int ownerFlag) noexcept
      : fOwner(&owner), fOwnerFlag(ownerFlag) {}
  /// Unmaps and closes the section when one is held.
  virtual ~osSharedMemory() { tavutil::platform::CloseSection(fHandle); }
  osSharedMemory(const osSharedMemory&) = delete;
  osSharedMemory& operator=(const osSharedMemory&) = delete;

  /// Creates and maps a new section of `size` bytes; sets the owner's state.
  void Create(const char* name, long size) noexcept {
    if (!CopyName(name)) {
      return;
    }
    if (size <= 0 || size > INT32_MAX) {
      SetState(1);
      return;
    }
    int error = 0;
    const tavutil::platform::SectionResult result = tavutil::platform::CreateSection(
        fName.get(), static_cast<std::size_t>(size), fHandle, error);
    Attached(result == tavutil::platform::SectionResult::ok, 1);
  }

  /// Opens and maps the section of that name; sets the owner's state.
  void Open(const char* name) noexcept {
    if (!CopyName(name)) {
      return;
    }
    int error = 0;
    const tavutil::platform::SectionResult result =
        tavutil::platform::OpenSection(fName.get(), fHandle, error);
    Attached(result == tavutil::platform::SectionResult::ok, 3);
  }

  char* Name() const noexcept { return fName.get(); }
  void* Address() const noexcept { return fAddress; }
  int OwnerFlag() const noexcept { return fOwnerFlag; }

private:
  void SetState(std::int32_t state) noexcept { fOwner->fState = state; }

  /// Keeps a copy of the name: state 2 for a null or empty name, 1 when out of memory.
  bool CopyName(const char* name) noexcept {
    if (name == nullptr || *name == '\0') {
      SetState(2);
      return false;
    }
    const std::size_t length = std::strlen(name);
    fName.reset(new (std::nothrow) char[length + 1]);
    if (fName == nullptr) {
      SetState(1);
      return false;
    }
    std::memcpy(fName.get(), name, length + 1);
    return true;
  }

  /// Takes the mapping after a successful create or open, otherwise sets `failure`.
  void Attached(bool ok, std::int32_t failure) noexcept {
    if (!ok) {
      SetState(failure);
      return;
    }
    fAddress = tavutil::platform::SectionAddress(*fHandle);
  }

  ipcSharedMemory* fOwner;
  tavutil::platform::SectionHandle* fHandle = nullptr;
  std::unique_ptr<char[]> fName;
  int fOwnerFlag;
  void* fAddress = nullptr;
};

ipcSharedMemory::ipcSharedMemory(const char* name, long size)
    : fPlatform(new (std::nothrow) osSharedMemory(*this, 1)), fState(0), fSize(size) {
  if (fPlatform == nullptr) {
    fState = 1;
    return;
  }
  fPlatform->Create(name, size);
}

ipcSharedMemory::ipcSharedMemory(const char* name)
    : fPlatform(new (std::nothrow) osSharedMemory(*this, 0)), fState(0), fSize(0) {
  if (fPlatform == nullptr) {
    fState = 1;
    return;
  }
  fPlatform->Open(name);
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
