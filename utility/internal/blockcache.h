// utility/internal/blockcache.h: small heap blocks kept per thread for reuse.
// Licensed under the Apache License, Version 2.0.
//
// Internal to the library; never installed. The buffers of short strings are made and dropped
// far more often than any other block (every message text, string argument and rendered
// result is one), so each thread keeps up to 32 freed blocks of each of three sizes (32, 64 and
// 128 bytes) and hands them out again before it asks the heap. A thread's blocks go back to the
// heap when the thread ends; those of the thread that ends the process, or unloads the
// library, go with it. Where the platform cannot say when a thread ends (Windows), every block
// comes from and goes back to the heap.
#ifndef TAVUTIL_INTERNAL_BLOCKCACHE_H
#define TAVUTIL_INTERNAL_BLOCKCACHE_H

#include <cstddef>
#include <cstdint>

namespace tavutil::detail {

/// A block of at least `size` bytes from the calling thread's cache or the heap. `sizeClass`
/// receives what DropBlock needs to know about the block: 1 to 3 for the three cached sizes, 0
/// for a block of exactly `size` bytes. Throws std::bad_alloc.
void* TakeBlock(std::size_t size, std::uint32_t& sizeClass);

/// Gives back a block of TakeBlock with the `sizeClass` it gave: into the calling thread's
/// cache while it has room, else to the heap. Throws nothing.
void DropBlock(void* block, std::uint32_t sizeClass) noexcept;

} // namespace tavutil::detail

#endif // TAVUTIL_INTERNAL_BLOCKCACHE_H
