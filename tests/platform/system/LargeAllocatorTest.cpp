#include "platform/system/LargeAllocator.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <vector>

using platform::system::LargeAllocator;

namespace {

TEST(LargeAllocator, VectorKeepsItsContentsAcrossTheLargeBlockThreshold) {
    // Growing from heap blocks into mapped ones and back down copies every
    // element; mapped blocks start on a 2 MiB boundary.
    std::vector<std::uint64_t, LargeAllocator<std::uint64_t>> values;
    for (std::uint64_t i = 0; i < 1'000'000; ++i)
        values.push_back(i * 2654435761u);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(values.data()) % (2u << 20), 0u);
    for (std::uint64_t i = 0; i < values.size(); i += 999)
        ASSERT_EQ(values[i], i * 2654435761u);
    values.resize(10);
    values.shrink_to_fit();
    EXPECT_EQ(values[9], std::uint64_t{9} * 2654435761u);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(values.data()) % 16, 0u);
}

TEST(LargeAllocator, EmptyAndOversizedRequests) {
    void* empty = platform::system::allocateLarge(0);
    EXPECT_NE(empty, nullptr);
    platform::system::releaseLarge(empty, 0);
    platform::system::releaseLarge(nullptr, 1u << 30);
    EXPECT_THROW(platform::system::allocateLarge(static_cast<std::size_t>(-1) / 2), std::bad_alloc);
    EXPECT_THROW(LargeAllocator<std::uint64_t>().allocate(static_cast<std::size_t>(-1) / 4),
                 std::bad_array_new_length);
}

} // namespace
