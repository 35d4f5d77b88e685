#include "tessary_core/MLUtilities.h"

#include "tessary_core/MLMultiArrayCreationError.h"

#include <cmath>
#include <gtest/gtest.h>

using platform::ml::ComputeUnits;
using platform::ml::ElementType;
using platform::ml::MultiArray;
using platform::system::Float16;

TEST(MLUtilitiesTest, InitialValueFillsOnlyWhenItHasTheElementType) {
    MultiArray halves = tessary::makeMultiArray({1, 4}, ElementType::float16, Float16(0.5f));
    EXPECT_EQ(halves.toFloatVector(), (std::vector<float>{0.5f, 0.5f, 0.5f, 0.5f}));
    MultiArray untouched = tessary::makeMultiArray({1, 4}, ElementType::float16, 0.5); // a double
    EXPECT_EQ(untouched.toFloatVector(), (std::vector<float>{0, 0, 0, 0}));
    MultiArray ints = tessary::makeMultiArray({3}, ElementType::int32, int32_t{-7});
    EXPECT_EQ(ints.value(2), -7);
    MultiArray masked =
        tessary::makeMultiArray({1, 3}, ElementType::float16,
                                Float16::fromBits(platform::system::kFloat16MinusTenThousandBits));
    EXPECT_EQ(masked.value(1), -10000.0);
    EXPECT_THROW(tessary::makeMultiArray({}, ElementType::float16, Float16(0.0f)),
                 tessary::MLMultiArrayCreationError);
    try {
        tessary::makeMultiArray({}, ElementType::float16);
    } catch (const tessary::MLMultiArrayCreationError& error) {
        EXPECT_STREQ(error.what(),
                     "Failed to create IOSurface-backed pixel buffer for MLMultiArray");
    }
}

TEST(MLUtilitiesTest, IntArraysHaveOnesBeforeTheCount) {
    MultiArray array = tessary::multiArrayFromInts({5, 6, 7}, 3);
    EXPECT_EQ(array.shape(), (std::vector<int64_t>{1, 1, 3}));
    EXPECT_EQ(array.dataType(), ElementType::int32);
    EXPECT_EQ(array.toFloatVector(), (std::vector<float>{5, 6, 7}));
    EXPECT_EQ(tessary::multiArrayFromInts({9}, 1).shape(), (std::vector<int64_t>{1}));
}

TEST(MLUtilitiesTest, LinearOffsetPairsIndexAndStridePositionByPosition) {
    MultiArray array({2, 10, 100}, ElementType::float32);
    const std::vector<int64_t> index = {0, 0, 7};
    EXPECT_EQ(tessary::linearOffset(array, index, std::vector<int64_t>{100, 10, 1}), 7);
    const std::vector<int64_t> shortIndex = {1, 2};
    EXPECT_EQ(tessary::linearOffset(array, shortIndex, std::vector<int64_t>{100, 10, 1}), 120);
    EXPECT_EQ(tessary::linearOffset(array, shortIndex), 1000 + 200); // the array's own strides
}

TEST(MLUtilitiesTest, FillLastDimensionWritesTheRangeThroughTheStride) {
    MultiArray logits({1, 1, 6}, ElementType::float16);
    Float16 negativeInfinity = Float16::fromBits(platform::system::kFloat16NegativeInfinityBits);
    tessary::fillLastDimension(logits, 3, 3, negativeInfinity);
    EXPECT_EQ(logits.toFloatVector(), (std::vector<float>(6, 0.0f)));
    tessary::fillLastDimension(logits, 1, 3, negativeInfinity);
    EXPECT_EQ(logits.value(0), 0.0);
    EXPECT_EQ(logits.value(1), -INFINITY);
    EXPECT_EQ(logits.value(2), -INFINITY);
    EXPECT_EQ(logits.value(3), 0.0);

    MultiArray strided({1, 1, 3}, ElementType::float16, {6, 6, 2});
    tessary::fillLastDimension(strided, 0, 3, Float16(1.0f));
    EXPECT_EQ(strided.toFloatVector(), (std::vector<float>{1, 1, 1}));
    EXPECT_EQ(strided.data<uint16_t>()[1], 0); // the gap between strided elements stays

    MultiArray wrongShape({2, 1, 6}, ElementType::float16);
    EXPECT_THROW(tessary::fillLastDimension(wrongShape, 0, 1, Float16(1.0f)),
                 std::invalid_argument);
    EXPECT_THROW(tessary::fillLastDimension(logits, 4, 7, Float16(1.0f)), std::invalid_argument);
}

TEST(MLUtilitiesTest, IndexFillWritesEachVectorAndRefusesBadOnes) {
    MultiArray logits({1, 1, 5}, ElementType::float16);
    tessary::fill(logits, {{0, 0, 1}, {0, 0, 4}}, Float16(-2.0f));
    EXPECT_EQ(logits.toFloatVector(), (std::vector<float>{0, -2, 0, 0, -2}));
    // An index out of range or a value of another type writes nothing.
    EXPECT_THROW(tessary::fill(logits, {{0, 0, 0}, {0, 0, 5}}, Float16(3.0f)),
                 platform::ml::MultiArrayError);
    EXPECT_THROW(tessary::fill(logits, {{0, 0, 0}}, 3.0f), platform::ml::MultiArrayError);
    EXPECT_EQ(logits.value(0), 0.0);
}

TEST(MLUtilitiesTest, ComputeUnitNames) {
    EXPECT_EQ(tessary::displayName(ComputeUnits::cpuAndGPU), "GPU");
    EXPECT_EQ(tessary::description(ComputeUnits::cpuAndNeuralEngine), "cpuAndNeuralEngine");
    EXPECT_EQ(tessary::displayName(ComputeUnits::cpuOnly), "CPU");
    EXPECT_EQ(tessary::displayName(ComputeUnits::all), "All");
    EXPECT_EQ(tessary::description(static_cast<ComputeUnits>(9)), "unknown");
    EXPECT_EQ(tessary::displayName(static_cast<ComputeUnits>(9)), "Unknown");
}
