// Where the tables' blocks come from.
//
// A small block comes from operator new. A large one (a table of a hundred
// thousand entries is megabytes) is mapped straight from the kernel at a
// huge-page boundary and marked for transparent huge pages: filling a fresh
// table then takes one page fault per 2 MiB instead of one per 4 KiB (each
// costs microseconds), and a probe at a random slot misses the TLB far less
// often. The mapping is rounded to whole small pages only, so a block just
// over a huge-page multiple wastes nothing: the part that does not fill a
// huge page stays on small pages. Where huge pages are not offered, or on
// systems without these calls, a large block behaves like any other.
#pragma once

#include <cstddef>

namespace tovra::table_memory {

// Throws std::bad_alloc when there is no memory.
void* allocate(std::size_t bytes);

// `bytes` must be what the block was allocated with.
void release(void* block, std::size_t bytes) noexcept;

// The bytes of every large block mapped so far, released ones included. A
// test that totals what an operation allocates adds this to what it sees of
// operator new, which these blocks never pass through.
std::size_t mapped_so_far() noexcept;

// Blocks of at least this many bytes are mapped on their own.
inline constexpr std::size_t large_block = std::size_t{2} << 20;

}  // namespace tovra::table_memory
