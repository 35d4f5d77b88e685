#pragma once
// Memory for large tables that are filled once and then read, such as the
// vocabularies of tokenizers and parsed documents. A block of a quarter megabyte or
// more is mapped from the kernel on its own, 2 MiB aligned, and marked for
// transparent huge pages: filling it then takes a page fault per 2 MiB
// instead of one per 4 KiB, which is most of the cost of building a table
// of several megabytes in a fresh process. Where the system gives no huge
// pages the block behaves like any other mapping. Smaller blocks come from
// the ordinary heap.

#include <cstddef>
#include <new>

namespace platform::system {

/// Blocks at least this large are mapped on their own.
inline constexpr std::size_t kLargeBlockBytes = std::size_t{256} << 10;

/// A block of `bytes` bytes, aligned to at least 16 bytes; throws
/// std::bad_alloc. Release it with releaseLarge and the same size.
void* allocateLarge(std::size_t bytes);
void releaseLarge(void* block, std::size_t bytes) noexcept;

/// An allocator for containers that may grow large (std::vector<T,
/// LargeAllocator<T>>).
template <class T> class LargeAllocator {
public:
    using value_type = T;

    LargeAllocator() noexcept = default;
    template <class U> LargeAllocator(const LargeAllocator<U>&) noexcept {} // NOLINT

    T* allocate(std::size_t count) {
        if (count > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_array_new_length();
        return static_cast<T*>(allocateLarge(count * sizeof(T)));
    }
    void deallocate(T* block, std::size_t count) noexcept {
        releaseLarge(block, count * sizeof(T));
    }

    template <class U> bool operator==(const LargeAllocator<U>&) const noexcept { return true; }
};

} // namespace platform::system
