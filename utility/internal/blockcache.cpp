// utility/internal/blockcache.cpp: small heap blocks kept per thread for reuse.
// Licensed under the Apache License, Version 2.0.
//
// Each thread's cache is found through a plain thread_local pointer; a thread-end slot of the
// platform frees it when the thread ends. A thread_local object with a destructor would do the
// same, but it would keep the library loaded after its last dlclose while any thread that used
// it lives. Where the platform has no such slot, no block is cached and no thread_local is
// touched at all (a DLL's thread-local storage may be set up lazily, even under the loader's
// lock). Under AddressSanitizer a cached block is poisoned, so a use after it was dropped is
// still reported.
#include "internal/blockcache.h"

#include "platform/platform.h"

#include <atomic>
#include <memory>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#define TAVUTIL_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TAVUTIL_UNDER_ASAN 1
#endif
#endif
#if defined(TAVUTIL_UNDER_ASAN)
#include <sanitizer/asan_interface.h>
#endif

namespace tavutil::detail {
namespace {

constexpr std::uint32_t kClassCount = 3;
constexpr std::size_t kClassSize[kClassCount] = {32, 64, 128};
constexpr std::uint32_t kDepth = 32;

/// The blocks one thread keeps: a stack per size class.
struct BlockCache {
  void* blocks[kClassCount][kDepth];
  std::uint32_t count[kClassCount];
};

// The initial-exec model reaches these without a call into the dynamic loader; a library
// loaded by dlopen takes their few bytes from the room the loader keeps for that.
#if defined(__ELF__)
#define TAVUTIL_FAST_TLS __attribute__((tls_model("initial-exec")))
#else
#define TAVUTIL_FAST_TLS
#endif

// Trivially destructible, so nothing is registered for the thread's end but the slot.
TAVUTIL_FAST_TLS thread_local BlockCache* tCache = nullptr;
TAVUTIL_FAST_TLS thread_local bool tWithoutCache = false; ///< ended, or none: the heap only

/// Whether caches are kept: from the making of the thread-end slot to its deletion (when the
/// process ends or the library unloads). Without a slot (Windows) no thread_local is touched.
std::atomic<bool> gOpen{false};

void Poison(void* block, std::uint32_t sizeClass) noexcept {
#if defined(TAVUTIL_UNDER_ASAN)
  ASAN_POISON_MEMORY_REGION(block, kClassSize[sizeClass - 1]);
#else
  static_cast<void>(block);
  static_cast<void>(sizeClass);
#endif
}

void Unpoison(void* block, std::uint32_t sizeClass) noexcept {
#if defined(TAVUTIL_UNDER_ASAN)
  ASAN_UNPOISON_MEMORY_REGION(block, kClassSize[sizeClass - 1]);
#else
  static_cast<void>(block);
  static_cast<void>(sizeClass);
#endif
}

/// Frees a cache and its blocks; run by the thread that owns it, as it ends.
void FreeCache(void* value) noexcept {
  auto* cache = static_cast<BlockCache*>(value);
  for (std::uint32_t sizeClass = 1; sizeClass <= kClassCount; ++sizeClass) {
    for (std::uint32_t i = 0; i < cache->count[sizeClass - 1]; ++i) {
      Unpoison(cache->blocks[sizeClass - 1][i], sizeClass);
      ::operator delete(cache->blocks[sizeClass - 1][i]);
    }
  }
  delete cache;
  if (tCache == cache) {
    tCache = nullptr;
  }
  tWithoutCache = true;
}

/// The platform's thread-end slot for the caches, made at the first cache; deleted with the
/// library's statics, when the calling thread's cache goes too.
class CacheSlot {
public:
  CacheSlot() noexcept : fSlot(platform::NewThreadSlot(&FreeCache)) {
    gOpen.store(fSlot != nullptr, std::memory_order_relaxed);
  }
  CacheSlot(const CacheSlot&) = delete;
  CacheSlot& operator=(const CacheSlot&) = delete;
  ~CacheSlot() {
    if (fSlot == nullptr) {
      return;
    }
    gOpen.store(false, std::memory_order_relaxed);
    platform::DeleteThreadSlot(fSlot);
    if (tCache != nullptr) {
      FreeCache(tCache);
    }
  }
  platform::ThreadSlot* Get() const noexcept { return fSlot; }

private:
  platform::ThreadSlot* fSlot;
};

/// The calling thread's cache, made now when it has none; null when it can have none.
BlockCache* ThreadCache() noexcept {
  static CacheSlot slot;
  if (!gOpen.load(std::memory_order_relaxed)) {
    return nullptr;
  }
  if (tCache != nullptr || tWithoutCache) {
    return tCache;
  }
  tWithoutCache = true; // unless everything below succeeds
  std::unique_ptr<BlockCache> cache(new (std::nothrow) BlockCache{});
  if (cache == nullptr || !platform::SetThreadSlot(*slot.Get(), cache.get())) {
    return nullptr;
  }
  tWithoutCache = false;
  tCache = cache.release();
  return tCache;
}

} // namespace

void* TakeBlock(std::size_t size, std::uint32_t& sizeClass) {
  sizeClass = 0;
  if (!gOpen.load(std::memory_order_relaxed)) {
    return ::operator new(size);
  }
  while (sizeClass < kClassCount && size > kClassSize[sizeClass]) {
    ++sizeClass;
  }
  if (sizeClass == kClassCount) {
    sizeClass = 0;
    return ::operator new(size);
  }
  ++sizeClass; // 1-based from here
  BlockCache* cache = tCache;
  if (cache != nullptr && cache->count[sizeClass - 1] != 0) {
    void* block = cache->blocks[sizeClass - 1][--cache->count[sizeClass - 1]];
    Unpoison(block, sizeClass);
    return block;
  }
  return ::operator new(kClassSize[sizeClass - 1]);
}

void DropBlock(void* block, std::uint32_t sizeClass) noexcept {
  if (sizeClass != 0 && sizeClass <= kClassCount) {
    BlockCache* cache = ThreadCache();
    if (cache != nullptr && cache->count[sizeClass - 1] < kDepth) {
      Poison(block, sizeClass);
      cache->blocks[sizeClass - 1][cache->count[sizeClass - 1]++] = block;
      return;
    }
  }
  ::operator delete(block);
}

} // namespace tavutil::detail
