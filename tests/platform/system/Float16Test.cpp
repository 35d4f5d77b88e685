#include "platform/system/Float16.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

using platform::system::Float16;

TEST(Float16, SpecialBitPatterns) {
    EXPECT_EQ(Float16(-std::numeric_limits<float>::infinity()).bits(), 0xFC00);
    EXPECT_EQ(Float16(-10000.0f).bits(), 0xF0E2);
    EXPECT_EQ(Float16(65504.0f).bits(), 0x7BFF);
    EXPECT_EQ(Float16(65520.0f).bits(), 0x7C00); // rounds past the largest half
    EXPECT_EQ(Float16(-0.0f).bits(), 0x8000);
    EXPECT_TRUE(std::isnan(static_cast<float>(Float16(std::nanf("")))));
    EXPECT_EQ(static_cast<float>(Float16::fromBits(0xFC00)),
              -std::numeric_limits<float>::infinity());
    EXPECT_EQ(static_cast<float>(Float16::fromBits(0xF0E2)), -10000.0f);
}

TEST(Float16, EveryHalfRoundTripsThroughFloat) {
    for (uint32_t h = 0; h < 0x10000; ++h) {
        float f = Float16::toFloat(static_cast<uint16_t>(h));
        if (std::isnan(f)) continue;
        ASSERT_EQ(Float16::fromFloat(f), h) << std::hex << h;
    }
}

TEST(Float16, MidpointsRoundToEven) {
    // Every exactly representable midpoint between neighbouring finite halves
    // (normal and subnormal) goes to the even one; its float neighbours go to
    // the nearer half.
    for (uint32_t h = 0; h < 0x7BFF; ++h) {
        float a = Float16::toFloat(static_cast<uint16_t>(h));
        float b = Float16::toFloat(static_cast<uint16_t>(h + 1));
        double mid = (static_cast<double>(a) + b) / 2;
        float m = static_cast<float>(mid);
        ASSERT_EQ(static_cast<double>(m), mid);
        ASSERT_EQ(Float16::fromFloat(m), (h & 1) ? h + 1 : h) << std::hex << h;
        ASSERT_EQ(Float16::fromFloat(std::nextafter(m, 1e9f)), h + 1) << std::hex << h;
        ASSERT_EQ(Float16::fromFloat(std::nextafter(m, -1e9f)), h) << std::hex << h;
    }
}
