#include "murmex/base/TextUtilities.h"

#include <cmath>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using murmex::TextUtilities;

TEST(TextUtilities, RepetitionRaisesTheCompressionRatio) {
    std::vector<int> repeated(200, 50364);
    std::vector<int> distinct;
    for (int i = 0; i < 200; ++i)
        distinct.push_back(1000 + i * 37);
    const float loop = TextUtilities::compressionRatio(repeated);
    const float varied = TextUtilities::compressionRatio(distinct);
    EXPECT_GT(loop, 2.4f);
    EXPECT_GT(loop, 5 * varied);
}

TEST(TextUtilities, TextRatioAndItsEdges) {
    EXPECT_EQ(TextUtilities::compressionRatio(std::string_view()), INFINITY);
    std::string looping;
    for (int i = 0; i < 40; ++i)
        looping += "thank you. ";
    EXPECT_GT(murmex::compressionRatio(looping), 2.4f);
    EXPECT_LT(
        murmex::compressionRatio(std::string_view("The quick brown fox jumps over the lazy dog.")),
        2.4f);
}
