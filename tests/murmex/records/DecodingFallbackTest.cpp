#include "murmex/records/DecodingFallback.h"

#include "murmex/records/DecodingOptions.h"
#include "murmex/records/DecodingResult.h"

#include <cmath>
#include <gtest/gtest.h>

using murmex::DecodingFallback;
using murmex::DecodingOptions;

TEST(DecodingFallbackTest, VerdictOrder) {
    const float nan = std::nanf("");
    const DecodingOptions defaults;
    const DecodingOptions unset{.compressionRatioThreshold = std::nullopt,
                                .logProbThreshold = std::nullopt,
                                .firstTokenLogProbThreshold = std::nullopt,
                                .noSpeechThreshold = std::nullopt};
    struct Case {
        const DecodingOptions& options;
        bool firstTokenTooLow;
        float noSpeech, compression, avgLogProb;
        std::optional<std::pair<bool, const char*>> expected;
    };
    const Case cases[] = {
        {unset, true, 0.9f, 9.0f, -9.0f, {{true, "firstTokenLogProbThreshold"}}},
        {defaults, true, 0.9f, 9.0f, -9.0f, {{true, "firstTokenLogProbThreshold"}}},
        {defaults, false, 0.7f, 3.0f, -9.0f, {{false, "silence"}}}, // silence wins over the
                                                                    // compression test
        {defaults, false, 0.1f, 2.4f, -1.0f, std::nullopt},         // comparisons are strict
        {defaults, false, 0.6f, 2.5f, -1.0f, {{true, "compressionRatioThreshold"}}},
        {defaults, false, 0.1f, 1.0f, -1.2f, {{true, "logProbThreshold"}}},
        {unset, false, 0.9f, 9.0f, -1.2f, std::nullopt}, // unset thresholds skip their tests
        {defaults, false, nan, nan, nan, std::nullopt},  // NaN never fires
        {defaults, false, nan, 2.5f, nan, {{true, "compressionRatioThreshold"}}},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        auto verdict = DecodingFallback::decide(c.options, c.firstTokenTooLow, c.noSpeech,
                                                c.compression, c.avgLogProb);
        ASSERT_EQ(verdict.has_value(), c.expected.has_value()) << "case " << i;
        if (verdict) {
            EXPECT_EQ(verdict->needsFallback, c.expected->first) << "case " << i;
            EXPECT_EQ(verdict->fallbackReason, c.expected->second) << "case " << i;
        }
    }
}

TEST(DecodingFallbackTest, EmptyResultsCarryNothing) {
    auto empty = murmex::DecodingResult::emptyResults();
    EXPECT_EQ(empty.language, "");
    EXPECT_TRUE(empty.tokens.empty());
    EXPECT_EQ(empty.avgLogProb, 0);
    EXPECT_FALSE(empty.cache);
    EXPECT_FALSE(empty.timings);
    EXPECT_FALSE(empty.fallback);
}
