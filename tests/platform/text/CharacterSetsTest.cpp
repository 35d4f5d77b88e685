#include "platform/text/CharacterSets.h"

#include <gtest/gtest.h>

namespace text = platform::text;

namespace {

TEST(CharacterSets, RangesOfSetExpressions) {
    using Ranges = std::vector<text::CodePointRange>;
    EXPECT_EQ(text::codePointRanges("[a-cx\\u0100-\\u0102b]"),
              (Ranges{{U'a', U'c'}, {U'x', U'x'}, {0x100, 0x102}}));
    // Set difference, and the Kawi letters added in Unicode 15.
    const auto kawi = text::codePointRanges("[\\p{L}&\\p{Script=Kawi}]");
    ASSERT_TRUE(kawi);
    EXPECT_FALSE(kawi->empty());
    EXPECT_EQ(kawi->front().first, 0x11F02u); // KAWI SIGN REPHA
    EXPECT_EQ(text::codePointRanges("[]"), Ranges{});
    EXPECT_FALSE(text::codePointRanges("[\\p{NoSuchProperty}]"));
    EXPECT_FALSE(text::codePointRanges("[a-"));
}

TEST(CharacterSets, GeneralCategoryNames) {
    EXPECT_EQ(text::generalCategoryName("L"), "L");
    EXPECT_EQ(text::generalCategoryName("Letter"), "L");
    EXPECT_EQ(text::generalCategoryName("gc=Lu"), "Lu");
    EXPECT_EQ(text::generalCategoryName("General_Category=Decimal_Number"), "Nd");
    EXPECT_EQ(text::generalCategoryName("White_Space"), std::nullopt);
    EXPECT_EQ(text::generalCategoryName("Script=Latin"), std::nullopt);
    EXPECT_EQ(text::generalCategoryName("Greek"), std::nullopt);
}

TEST(CharacterSets, UnicodeVersionIsMajorDotMinor) {
    const std::string version = text::unicodeVersion();
    EXPECT_NE(version.find('.'), std::string::npos);
    EXPECT_GE(std::stoi(version), 15);
}

} // namespace
