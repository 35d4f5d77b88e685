#include "murmex/records/DecodingInputs.h"

#include "murmex/records/DecodingCache.h"

#include <gtest/gtest.h>

using murmex::DecodingInputs;
using platform::ml::ElementType;
using platform::ml::MultiArray;

namespace {

constexpr int64_t kCacheLength = 224;

DecodingInputs makeInputs(int64_t maskLength = kCacheLength) {
    MultiArray update({1, maskLength}, ElementType::int32);
    update.setValue(0, 1);
    MultiArray padding({1, maskLength}, ElementType::float16);
    padding.fill(-10000);
    padding.setValue(0, 0);
    return DecodingInputs({50258}, MultiArray({1}, ElementType::int32),
                          MultiArray({1}, ElementType::int32),
                          MultiArray({1, 4, 1, maskLength}, ElementType::float16),
                          MultiArray({1, 4, 1, maskLength}, ElementType::float16),
                          MultiArray({maskLength, 8}, ElementType::float16), update, padding,
                          MultiArray({1, 4, 1, maskLength}, ElementType::float16),
                          MultiArray({1, 4, 1, maskLength}, ElementType::float16));
}

// Index of the one 1 of the update mask; -1 unless there is exactly one.
int64_t onlyUpdatePosition(const MultiArray& mask) {
    int64_t found = -1;
    for (int64_t i = 0; i < mask.count(); ++i) {
        if (mask.value(i) == 1) {
            if (found >= 0) return -1;
            found = i;
        } else if (mask.value(i) != 0) {
            return -1;
        }
    }
    return found;
}

// Number of leading open (0) positions; the rest must all be -10000.
int64_t openPrefix(const MultiArray& mask) {
    int64_t open = 0;
    while (open < mask.count() && mask.value(open) == 0)
        ++open;
    for (int64_t i = open; i < mask.count(); ++i) {
        if (mask.value(i) != -10000) return -1;
    }
    return open;
}

} // namespace

TEST(DecodingInputsTest, ResetReturnsToThePostPrefillState) {
    struct Case {
        int prefilled, context;
        int64_t open, update;
    };
    const Case cases[] = {
        {0, 224, 1, 0},
        {3, 224, 4, 3},
        {224, 224, 224, 223}, // P >= M: everything open, write at the last position
    };
    for (const Case& c : cases) {
        DecodingInputs inputs = makeInputs();
        // Dirty the masks as a token loop would.
        inputs.kvCacheUpdateMask.fill(0);
        inputs.kvCacheUpdateMask.setValue(100, 1);
        inputs.decoderKeyPaddingMask.fill(0);
        inputs.reset(c.prefilled, c.context);
        EXPECT_EQ(inputs.cacheLength.value(0), c.prefilled);
        EXPECT_EQ(openPrefix(inputs.decoderKeyPaddingMask), c.open) << c.prefilled;
        EXPECT_EQ(onlyUpdatePosition(inputs.kvCacheUpdateMask), c.update) << c.prefilled;
    }
}

TEST(DecodingInputsTest, ResetWritesOnlyBelowTheContextAndNeverPastTheMasks) {
    DecodingInputs inputs = makeInputs(8);
    inputs.keyCache.fill(1.5);
    inputs.reset(2, 0); // only the cache length changes
    EXPECT_EQ(inputs.cacheLength.value(0), 2);
    EXPECT_EQ(onlyUpdatePosition(inputs.kvCacheUpdateMask), 0);
    EXPECT_EQ(openPrefix(inputs.decoderKeyPaddingMask), 1);

    inputs.decoderKeyPaddingMask.fill(7);
    inputs.reset(2, 4);
    for (int64_t i = 4; i < 8; ++i)
        EXPECT_EQ(inputs.decoderKeyPaddingMask.value(i), 7) << i;

    // A context longer than the masks is cut to their length (the sanitizer
    // build catches any write past the end).
    inputs.reset(100, 10000);
    EXPECT_EQ(openPrefix(inputs.decoderKeyPaddingMask), 8);
    EXPECT_EQ(onlyUpdatePosition(inputs.kvCacheUpdateMask), 7);
    inputs.reset(1, -5);
    EXPECT_EQ(inputs.cacheLength.value(0), 1);
    EXPECT_EQ(inputs.keyCache.value(0), 1.5); // caches are left alone
}

TEST(DecodingInputsTest, MaskedValueIsTheHalfPrecisionMinusTenThousand) {
    DecodingInputs inputs = makeInputs(4);
    inputs.reset(0, 4);
    EXPECT_EQ(inputs.decoderKeyPaddingMask.data<uint16_t>()[1], 0xF0E2);
}

TEST(DecodingInputsTest, DefaultCacheHoldsNothing) {
    murmex::DecodingCache cache;
    EXPECT_FALSE(cache.keyCache);
    EXPECT_FALSE(cache.valueCache);
    EXPECT_FALSE(cache.alignmentWeights);
}
