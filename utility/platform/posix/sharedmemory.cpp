// utility/platform/posix/sharedmemory.cpp: named shared-memory sections for POSIX systems.
// Licensed under the Apache License, Version 2.0.
//
// A section is a named object of POSIX shared memory (namedobject.h) whose payload is the
// caller's bytes, starting on a page boundary after the object's header. The header tells an
// opener the size, so it needs no size of its own, and the object goes with its last user.
#include "platform/platform.h"
#include "platform/posix/namedobject.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <unistd.h>

namespace tavutil::platform {

/// A section as the library holds it.
struct SectionHandle {
  posix::NamedObject object;
};

namespace {

/// Page size, the alignment of a section's first byte.
std::size_t PageSize() noexcept {
  const long page = ::sysconf(_SC_PAGESIZE);
  return page > 0 ? static_cast<std::size_t>(page) : 4096;
}

/// Acquires the section named `name` in `mode`; the result of AcquireNamedObject.
posix::NamedObjectResult Acquire(const char* name, std::size_t size, posix::NamedObjectMode mode,
                                 SectionHandle*& section, int& error) noexcept {
  section = nullptr;
  error = 0;
  if (name == nullptr || *name == '\0') {
    error = EINVAL;
    return posix::NamedObjectResult::failed;
  }
  std::unique_ptr<SectionHandle> handle(new (std::nothrow) SectionHandle);
  if (handle == nullptr) {
    error = ENOMEM;
    return posix::NamedObjectResult::failed;
  }
  const posix::NamedObjectRequest request{
      posix::IpcKind::section, name, std::strlen(name), mode, size, PageSize(), nullptr, 0};
  const posix::NamedObjectResult result = posix::AcquireNamedObject(request, handle->object, error);
  if (result == posix::NamedObjectResult::created || result == posix::NamedObjectResult::opened) {
    section = handle.release();
  }
  return result;
}

} // namespace

SectionResult CreateSection(const char* name, std::size_t size, SectionHandle*& section,
                            int& error) noexcept {
  if (size == 0) {
    section = nullptr;
    error = EINVAL;
    return SectionResult::failed;
  }
  switch (Acquire(name, size, posix::NamedObjectMode::create, section, error)) {
  case posix::NamedObjectResult::created:
    return SectionResult::ok;
  case posix::NamedObjectResult::exists:
    return SectionResult::exists;
  default:
    return SectionResult::failed;
  }
}

SectionResult OpenSection(const char* name, SectionHandle*& section, int& error) noexcept {
  switch (Acquire(name, 0, posix::NamedObjectMode::open, section, error)) {
  case posix::NamedObjectResult::opened:
    return SectionResult::ok;
  case posix::NamedObjectResult::notFound:
    return SectionResult::notFound;
  default:
    return SectionResult::failed;
  }
}

void* SectionAddress(const SectionHandle& section) noexcept {
  return section.object.payload;
}

int CloseSection(SectionHandle* section) noexcept {
  if (section == nullptr) {
    return 0;
  }
  const std::unique_ptr<SectionHandle> handle(section);
  return posix::ReleaseNamedObject(handle->object);
}

} // namespace tavutil::platform
