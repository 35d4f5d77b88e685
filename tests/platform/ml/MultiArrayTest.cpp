#include "platform/ml/MultiArray.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <vector>

using platform::ml::ElementType;
using platform::ml::MultiArray;
using platform::ml::MultiArrayError;
using platform::system::Float16;

TEST(MultiArrayTest, NewArraysAreZeroedContiguousAndAligned) {
    for (ElementType type : {ElementType::float16, ElementType::float32, ElementType::float64,
                             ElementType::int32, ElementType::int8}) {
        MultiArray array({2, 3, 4}, type);
        EXPECT_EQ(array.count(), 24);
        EXPECT_EQ(array.strides(), (std::vector<int64_t>{12, 4, 1}));
        EXPECT_TRUE(array.isContiguous());
        EXPECT_EQ(reinterpret_cast<uintptr_t>(array.rawData()) % 64, 0u);
        for (int64_t i = 0; i < array.count(); ++i)
            EXPECT_EQ(array.value(i), 0.0);
    }
}

TEST(MultiArrayTest, Float16IsRealHalfStorage) {
    MultiArray array({1, 4}, ElementType::float16);
    array.fill(-10000.0);
    const uint16_t* bits = array.data<uint16_t>();
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(bits[i], platform::system::kFloat16MinusTenThousandBits);
    array.setValue(2, 0.1);
    EXPECT_EQ(array.data<Float16>()[2], Float16(0.1f));
    EXPECT_FLOAT_EQ(static_cast<float>(array.value(2)), Float16::toFloat(Float16::fromFloat(0.1f)));
}

TEST(MultiArrayTest, CopiesShareElements) {
    MultiArray a({3}, ElementType::int32);
    MultiArray b = a;
    b.setValue(1, 42);
    EXPECT_EQ(a.value(1), 42);
    EXPECT_TRUE(a.sharesStorageWith(b));
    EXPECT_EQ(a.storageIdentifier(), b.storageIdentifier());
    MultiArray c = a.copy();
    c.setValue(1, 7);
    EXPECT_EQ(a.value(1), 42);
    EXPECT_NE(c.storageIdentifier(), a.storageIdentifier());
}

TEST(MultiArrayTest, StridedLayoutAddressesThroughStrides) {
    // A [2, 3] array whose rows are 5 elements apart.
    MultiArray array({2, 3}, ElementType::float32, {5, 1});
    EXPECT_FALSE(array.isContiguous());
    for (int64_t i = 0; i < 6; ++i)
        array.setValue(i, static_cast<double>(i + 1));
    const float* raw = array.data<float>();
    EXPECT_EQ(raw[0], 1.0f);
    EXPECT_EQ(raw[2], 3.0f);
    EXPECT_EQ(raw[5], 4.0f); // row 1 starts at element 5
    EXPECT_EQ(raw[3], 0.0f); // the gap stays untouched
    EXPECT_EQ(array.valueAt({1, 2}), 6.0);
    EXPECT_EQ(array.toFloatVector(), (std::vector<float>{1, 2, 3, 4, 5, 6}));
    MultiArray dense = array.copy();
    EXPECT_TRUE(dense.isContiguous());
    EXPECT_EQ(dense.toFloatVector(), array.toFloatVector());
}

TEST(MultiArrayTest, IntegerElementsSaturateInsteadOfWrapping) {
    MultiArray array({3}, ElementType::int8);
    array.setValue(0, 300);
    array.setValue(1, -300);
    array.setValue(2, -5.7);
    EXPECT_EQ(array.value(0), 127);
    EXPECT_EQ(array.value(1), -128);
    EXPECT_EQ(array.value(2), -5);
}

TEST(MultiArrayTest, MisuseIsReportedNotUndefined) {
    MultiArray array({2, 2}, ElementType::float32);
    EXPECT_THROW(array.data<int32_t>(), MultiArrayError);
    EXPECT_THROW(array.value(4), MultiArrayError);
    EXPECT_THROW(array.valueAt({2, 0}), MultiArrayError);
    EXPECT_THROW(array.valueAt({0}), MultiArrayError);
    EXPECT_THROW(MultiArray({-1}, ElementType::float32), MultiArrayError);
    EXPECT_THROW(MultiArray({2}, ElementType::float32, {1, 1}), MultiArrayError);
    MultiArray empty;
    EXPECT_FALSE(empty.isValid());
    EXPECT_THROW(empty.value(0), MultiArrayError);
}

TEST(MultiArrayTest, MutableAccessAdvancesTheVersion) {
    MultiArray array({4}, ElementType::float16);
    const MultiArray& reader = array;
    uint64_t before = array.version();
    (void)reader.data<uint16_t>();
    (void)reader.value(0);
    EXPECT_EQ(array.version(), before);
    array.setValue(0, 1.0);
    EXPECT_GT(array.version(), before);
    before = array.version();
    array.fill(2.0);
    EXPECT_GT(array.version(), before);
}

TEST(MultiArrayTest, ConvertedChangesTheElementType) {
    MultiArray array({3}, ElementType::float32);
    array.setValue(0, 1.5);
    array.setValue(1, -2.25);
    array.setValue(2, 65504.0);
    MultiArray half = array.converted(ElementType::float16);
    EXPECT_EQ(half.dataType(), ElementType::float16);
    EXPECT_EQ(half.toFloatVector(), (std::vector<float>{1.5f, -2.25f, 65504.0f}));
}
