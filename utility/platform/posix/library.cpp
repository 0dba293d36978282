// utility/platform/posix/library.cpp: dynamic libraries and file lookup for POSIX systems.
// Licensed under the Apache License, Version 2.0.
#include "platform/platform.h"
#include "platform/posix/namedfile.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tavutil::platform {

namespace {

/// The text of the last dynamic-loader failure, or a fixed text when it gives none.
std::string LoaderReason() {
  const char* text = ::dlerror();
  return text != nullptr ? std::string(text) : std::string("unknown dynamic-loader failure");
}

/// The file part of `name`: what follows its last `/` or `\\`.
const char* FilePart(const char* name) noexcept {
  const char* file = name;
  for (const char* p = name; *p != '\0'; ++p) {
    if (*p == '/' || *p == '\\') {
      file = p + 1;
    }
  }
  return file;
}

} // namespace

PathKind QueryPathKind(const char* path) noexcept {
  struct stat status {};
  if (path == nullptr || ::stat(path, &status) != 0) {
    return PathKind::missing;
  }
  if (S_ISREG(status.st_mode)) {
    return PathKind::file;
  }
  return S_ISDIR(status.st_mode) ? PathKind::directory : PathKind::other;
}

bool ExecutablePath(std::string& path) {
  char buffer[PATH_MAX + 1];
  const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length <= 0 || static_cast<std::size_t>(length) >= sizeof buffer - 1) {
    return false; // unreadable, or possibly cut short
  }
  path.assign(buffer, static_cast<std::size_t>(length));
  return true;
}

bool FindOnPath(const char* directories, const char* name, const char* extension,
                std::string& found) {
  if (directories == nullptr || name == nullptr || *name == '\0') {
    return false;
  }
  std::string file(name);
  if (extension != nullptr && std::strchr(FilePart(name), '.') == nullptr) {
    file += extension;
  }
  std::string candidate;
  const char* element = directories;
  while (*element != '\0') {
    const char* end = std::strchr(element, ';');
    const std::size_t length =
        end != nullptr ? static_cast<std::size_t>(end - element) : std::strlen(element);
    if (length > 0) {
      candidate.assign(element, length);
      if (candidate.back() != '/' && candidate.back() != '\\') {
        candidate += '/';
      }
      candidate += file;
      for (char& c : candidate) {
        if (c == '\\') {
          c = '/';
        }
      }
      if (QueryPathKind(candidate.c_str()) == PathKind::file) {
        found = candidate;
        return true;
      }
    }
    if (end == nullptr) {
      break;
    }
    element = end + 1;
  }
  return false;
}

const char* LibrarySuffix() noexcept {
  return ".so";
}

void* OpenLibrary(const char* file, std::string& reason, int& error) {
  if (file == nullptr || *file == '\0') {
    reason = "no library name given";
    error = EINVAL;
    return nullptr;
  }
  // A path is a file given by name: the loader would wait for ever on a FIFO's writer. What
  // cannot be opened at all is left to the loader, whose reason says why.
  if (std::strchr(file, '/') != nullptr) {
    int descriptor = -1;
    const NamedFileResult result =
        posix::OpenNamedFile(file, posix::FileAccess::read, false, descriptor, error);
    if (result == NamedFileResult::opened) {
      ::close(descriptor);
    } else if (result == NamedFileResult::notRegular || result == NamedFileResult::isLink) {
      reason = std::string(file) + (result == NamedFileResult::isLink
                                        ? ": a symbolic link that is not followed"
                                        : ": not a regular file");
      return nullptr;
    }
  }
  errno = 0;
  // RTLD_NOW: a library whose dependencies or symbols are missing fails here, not at first call.
  void* handle = ::dlopen(file, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    error = errno;
    reason = LoaderReason();
  }
  return handle;
}

void* FindSymbol(void* library, const char* name, std::string& reason) {
  if (library == nullptr || name == nullptr) {
    reason = "no library or symbol name given";
    return nullptr;
  }
  ::dlerror(); // clear any earlier failure, so a null symbol is told from a failed lookup
  void* symbol = ::dlsym(library, name);
  if (symbol == nullptr) {
    reason = LoaderReason();
  }
  return symbol;
}

bool LibraryPath(void* library, std::string& path) {
  link_map* map = nullptr;
  if (library == nullptr || ::dlinfo(library, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr ||
      map->l_name == nullptr) {
    return false;
  }
  if (map->l_name[0] == '\0') { // the main program
    return ExecutablePath(path);
  }
  path = map->l_name;
  return true;
}

} // namespace tavutil::platform
