#include "platform/system/SaturatingCast.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <limits>

using platform::system::saturatingCast;

TEST(SaturatingCast, ClampsTruncatesAndZeroesNaN) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    constexpr int64_t maxI64 = std::numeric_limits<int64_t>::max();
    constexpr int64_t minI64 = std::numeric_limits<int64_t>::min();

    EXPECT_EQ(saturatingCast<int64_t>(nan), 0);
    EXPECT_EQ(saturatingCast<int64_t>(inf), maxI64);
    EXPECT_EQ(saturatingCast<int64_t>(-inf), minI64);
    EXPECT_EQ(saturatingCast<int64_t>(9.3e18), maxI64);
    EXPECT_EQ(saturatingCast<int64_t>(9223372036854775808.0), maxI64); // 2^63 rounds past the limit
    EXPECT_EQ(saturatingCast<int64_t>(-9223372036854775808.0), minI64);
    EXPECT_EQ(saturatingCast<int64_t>(25.7), 25);
    EXPECT_EQ(saturatingCast<int64_t>(-25.7), -25);

    EXPECT_EQ(saturatingCast<int32_t>(3e9f), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(saturatingCast<int32_t>(-3e9f), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(saturatingCast<uint8_t>(300.0), 255);
    EXPECT_EQ(saturatingCast<uint8_t>(-1.0), 0);
    EXPECT_EQ(saturatingCast<uint64_t>(1.8446744073709552e19),
              std::numeric_limits<uint64_t>::max());
    EXPECT_EQ(saturatingCast<int64_t>(0.257 * 100), 25); // a download fraction turned into units
}
