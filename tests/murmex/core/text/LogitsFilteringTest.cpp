#include "murmex/core/text/LanguageLogitsFilter.h"
#include "murmex/core/text/SuppressBlankFilter.h"
#include "murmex/core/text/SuppressTokensFilter.h"

#include <cmath>
#include <gtest/gtest.h>
#include <vector>

using namespace murmex;
using platform::ml::ElementType;
using platform::ml::MultiArray;

namespace {

MultiArray zeroLogits(int64_t vocabulary) {
    return MultiArray({1, 1, vocabulary}, ElementType::float16);
}

std::vector<int> suppressedIds(const MultiArray& logits) {
    std::vector<int> ids;
    for (int64_t i = 0; i < logits.count(); ++i) {
        if (std::isinf(logits.value(i))) ids.push_back(static_cast<int>(i));
    }
    return ids;
}

SpecialTokens tokens() {
    return SpecialTokens{.endToken = 10,
                         .englishToken = 12,
                         .noSpeechToken = 15,
                         .noTimestampsToken = 16,
                         .specialTokenBegin = 10,
                         .startOfPreviousToken = 14,
                         .startOfTranscriptToken = 11,
                         .timeTokenBegin = 17,
                         .transcribeToken = 13,
                         .translateToken = 18,
                         .whitespaceToken = 2};
}

} // namespace

TEST(SuppressTokensFilter, SuppressesEveryListedIdAndNothingOutsideTheArray) {
    // Negative and too-large ids are dropped instead of writing out of bounds.
    SuppressTokensFilter filter({3, -1, 7, 1000, 3});
    EXPECT_EQ(filter.suppressTokens, (std::vector<int>{3, 7, 1000, 3}));
    MultiArray logits = zeroLogits(8);
    MultiArray returned = filter.filterLogits(logits, {});
    EXPECT_TRUE(returned.sharesStorageWith(logits));
    EXPECT_EQ(suppressedIds(logits), (std::vector<int>{3, 7}));
    EXPECT_EQ(logits.valueAt({0, 0, 3}), -INFINITY);
}

TEST(SuppressTokensFilter, WorksThroughStridedLogits) {
    // A [1, 1, 4] view whose vocabulary entries sit two elements apart.
    MultiArray logits({1, 1, 4}, ElementType::float16, {8, 8, 2});
    SuppressTokensFilter({1, 2}).filterLogits(logits, {});
    EXPECT_EQ(suppressedIds(logits), (std::vector<int>{1, 2}));
}

TEST(SuppressBlankFilter, ActsAtExactlyTheFirstSampledPosition) {
    SuppressBlankFilter filter(tokens(), 4);
    for (size_t count : {3u, 4u, 5u}) {
        MultiArray logits = zeroLogits(20);
        filter.filterLogits(logits, std::vector<int>(count, 5));
        if (count == 4) {
            EXPECT_EQ(suppressedIds(logits), (std::vector<int>{2, 10})) << count;
        } else {
            EXPECT_TRUE(suppressedIds(logits).empty()) << count;
        }
    }
}

TEST(LanguageLogitsFilter, LeavesOnlyLanguageIdsOnceTheSampleStartIsReached) {
    LanguageLogitsFilter filter({12, 13, 19, 40}, 20, 1);
    MultiArray untouched = zeroLogits(20);
    filter.filterLogits(untouched, {});
    EXPECT_TRUE(suppressedIds(untouched).empty());

    for (size_t count : {1u, 3u}) {
        MultiArray logits = zeroLogits(20);
        filter.filterLogits(logits, std::vector<int>(count, 11));
        std::vector<int> open;
        for (int i = 0; i < 20; ++i) {
            if (!std::isinf(logits.value(i))) open.push_back(i);
        }
        EXPECT_EQ(open, (std::vector<int>{12, 13, 19}));
    }
}
