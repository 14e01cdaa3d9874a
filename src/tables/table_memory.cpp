#include "tables/table_memory.hpp"

#include <atomic>
#include <cstdint>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#define TOVRA_MAPS_LARGE_BLOCKS 1
#else
#define TOVRA_MAPS_LARGE_BLOCKS 0
#endif

namespace tovra::table_memory {

namespace {
std::atomic<std::size_t> mapped_total{0};
}

std::size_t mapped_so_far() noexcept { return mapped_total.load(std::memory_order_relaxed); }

#if TOVRA_MAPS_LARGE_BLOCKS
namespace {

constexpr std::size_t huge_page = std::size_t{2} << 20;

std::size_t small_page() noexcept {
    static const std::size_t size = [] {
        const long reported = sysconf(_SC_PAGESIZE);
        return reported > 0 ? static_cast<std::size_t>(reported) : std::size_t{4096};
    }();
    return size;
}

std::size_t whole_pages(std::size_t bytes) noexcept {
    const std::size_t page = small_page();
    return (bytes + page - 1) / page * page;
}

}  // namespace

void* allocate(std::size_t bytes) {
    if (bytes < large_block) return ::operator new(bytes);
    const std::size_t length = whole_pages(bytes);
    // Over-map by a huge page less one small page, then cut the ends off, so
    // that what is left starts at a huge-page boundary.
    const std::size_t slack = huge_page - small_page();
    if (length > SIZE_MAX - slack) throw std::bad_alloc();
    void* mapped = mmap(nullptr, length + slack, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) throw std::bad_alloc();
    mapped_total.fetch_add(length, std::memory_order_relaxed);
    const auto start = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t aligned = (start + huge_page - 1) & ~std::uintptr_t{huge_page - 1};
    if (aligned != start) munmap(mapped, aligned - start);
    const std::size_t tail = (start + length + slack) - (aligned + length);
    if (tail != 0) munmap(reinterpret_cast<void*>(aligned + length), tail);
#ifdef MADV_HUGEPAGE
    // Advice only: a kernel that declines still gives working memory.
    madvise(reinterpret_cast<void*>(aligned), length, MADV_HUGEPAGE);
#endif
    return reinterpret_cast<void*>(aligned);
}

void release(void* block, std::size_t bytes) noexcept {
    if (bytes < large_block) {
        ::operator delete(block);
        return;
    }
    munmap(block, whole_pages(bytes));
}

#else

void* allocate(std::size_t bytes) { return ::operator new(bytes); }

void release(void* block, std::size_t) noexcept { ::operator delete(block); }

#endif

}  // namespace tovra::table_memory
