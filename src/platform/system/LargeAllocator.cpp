#include "platform/system/LargeAllocator.h"

#include <cstdint>
#include <cstdlib>
#include <sys/mman.h>

namespace platform::system {
namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

std::size_t mappedSize(std::size_t bytes) {
    // Whole huge pages: a partial one at the end would be mapped with small pages.
    return (bytes + kHugePage - 1) & ~(kHugePage - 1);
}

} // namespace

void* allocateLarge(std::size_t bytes) {
    if (bytes < kLargeBlockBytes) {
        // malloc's blocks are aligned for any fundamental type (16 bytes here).
        if (void* block = std::malloc(bytes == 0 ? 1 : bytes)) return block;
        throw std::bad_alloc();
    }
    if (bytes > static_cast<std::size_t>(-1) - 2 * kHugePage) throw std::bad_alloc();
    const std::size_t size = mappedSize(bytes);
    // Map one huge page more than needed and trim, so that the block starts
    // on a huge-page boundary.
    void* mapped = ::mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) throw std::bad_alloc();
    const auto start = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t aligned = (start + kHugePage - 1) & ~(kHugePage - 1);
    if (aligned > start) ::munmap(mapped, aligned - start);
    const std::uintptr_t end = start + size + kHugePage;
    if (end > aligned + size)
        ::munmap(reinterpret_cast<void*>(aligned + size), end - aligned - size);
    void* block = reinterpret_cast<void*>(aligned);
#ifdef MADV_HUGEPAGE
    ::madvise(block, size, MADV_HUGEPAGE); // advice only: without huge pages nothing changes
#endif
    return block;
}

void releaseLarge(void* block, std::size_t bytes) noexcept {
    if (!block) return;
    if (bytes < kLargeBlockBytes)
        std::free(block);
    else
        ::munmap(block, mappedSize(bytes));
}

} // namespace platform::system
