#include "hub/BinaryDistinctString.h"

#include <gtest/gtest.h>
#include <unordered_set>

using hub::BinaryDistinctString;

namespace {

const std::string kPrecomposed = "\xC3\xA9"; // U+00E9
const std::string kDecomposed = "e\xCC\x81"; // e + U+0301

TEST(BinaryDistinctString, CanonicallyEquivalentTextsAreDistinctKeys) {
    const BinaryDistinctString a(kPrecomposed), b(kDecomposed);
    EXPECT_NE(a, b);
    EXPECT_EQ(a.count(), 1u);
    EXPECT_EQ(b.count(), 1u);
    hub::BinaryDistinctMap<int> map{{a, 1}, {b, 2}};
    EXPECT_EQ(map.size(), 2u);
    EXPECT_EQ(a.value(), (std::vector<std::uint16_t>{0xE9}));
    EXPECT_EQ(b.value(), (std::vector<std::uint16_t>{0x65, 0x301}));
}

TEST(BinaryDistinctString, OrdersByUtf16CodeUnits) {
    EXPECT_LT(BinaryDistinctString(""), BinaryDistinctString("a"));
    EXPECT_LT(BinaryDistinctString("ab"), BinaryDistinctString("abc"));
    EXPECT_LT(BinaryDistinctString("B"), BinaryDistinctString("a"));
    // U+1F600 is D83D DE00 in UTF-16, so it orders before U+FF21 (0xFF21),
    // unlike in code-point or UTF-8 order.
    EXPECT_LT(BinaryDistinctString("\xF0\x9F\x98\x80"), BinaryDistinctString("\xEF\xBC\xA1"));
    EXPECT_GT(BinaryDistinctString("\xF0\x9F\x98\x80"),
              BinaryDistinctString("\xED\x9F\xBF")); // U+D7FF
}

TEST(BinaryDistinctString, PrefixSuffixAndConcatenation) {
    const BinaryDistinctString s("hello");
    EXPECT_TRUE(s.hasPrefix(""));
    EXPECT_TRUE(s.hasSuffix(""));
    EXPECT_TRUE(s.hasPrefix("he"));
    EXPECT_FALSE(s.hasPrefix("hello!"));
    EXPECT_TRUE(s.hasSuffix("llo"));
    EXPECT_EQ(s + BinaryDistinctString("!"), BinaryDistinctString("hello!"));
}

TEST(BinaryDistinctString, CodeUnitRoundTripKeepsLoneSurrogates) {
    const std::vector<std::uint16_t> units{0x61, 0xD800, 0x62, 0xD83D, 0xDE00};
    EXPECT_EQ(BinaryDistinctString(units).value(), units);
}

TEST(BinaryDistinctString, MalformedBytesReadAsReplacementCharacters) {
    // An overlong "/" is no slash, and a truncated sequence keeps the next
    // character apart.
    EXPECT_EQ(BinaryDistinctString("\xC0\xAF").value(),
              (std::vector<std::uint16_t>{0xFFFD, 0xFFFD}));
    const BinaryDistinctString truncated("\xC3"
                                         "a");
    EXPECT_EQ(truncated.value(), (std::vector<std::uint16_t>{0xFFFD, 0x61}));
    EXPECT_EQ(truncated.count(), 2u);
}

TEST(BinaryDistinctString, CharactersAreGraphemeClusters) {
    const BinaryDistinctString emoji("\xF0\x9F\x98\x80");
    EXPECT_EQ(emoji.count(), 1u);
    const auto chars = emoji.characters();
    ASSERT_EQ(chars.size(), 1u);
    EXPECT_EQ(chars[0].bytes(), (std::vector<std::uint16_t>{0xD83D, 0xDE00}));
    EXPECT_EQ(hub::BinaryDistinctCharacter("A").description(),
              "BinaryDistinctCharacter('A', bytes: [\"0x41\"])");
}

TEST(BinaryDistinctString, SlicesCountCharacters) {
    const BinaryDistinctString precomposedA(kPrecomposed + "a");
    EXPECT_EQ(precomposedA.slice(1), BinaryDistinctString("a"));
    EXPECT_EQ(precomposedA.slice(0, 1), BinaryDistinctString(kPrecomposed));
    EXPECT_EQ(BinaryDistinctString(kDecomposed + "x").slice(1), BinaryDistinctString("x"));
    EXPECT_EQ(precomposedA.slice(1, 1), BinaryDistinctString(""));
    EXPECT_THROW(precomposedA.slice(0, 3), std::out_of_range);
    EXPECT_THROW(precomposedA.index(0, 3), std::out_of_range);
    EXPECT_EQ(precomposedA.index(0, 2), 2);
}

TEST(BinaryDistinctString, IndexLimitedBy) {
    EXPECT_EQ(BinaryDistinctString::index(0, 3, 2), std::nullopt);
    EXPECT_EQ(BinaryDistinctString::index(0, 2, 2), 2);
    EXPECT_EQ(BinaryDistinctString::index(0, -1, 2), -1);
}

TEST(BinaryDistinctString, TextViewOperations) {
    EXPECT_EQ(BinaryDistinctString("ПРИВЕТ World").lowercased(),
              BinaryDistinctString("привет world"));
    EXPECT_EQ(BinaryDistinctString("a--b--c").replacingOccurrences("--", "+"),
              BinaryDistinctString("a+b+c"));
}

TEST(BinaryDistinctString, MergeStrategiesSeeExistingThenNew) {
    hub::BinaryDistinctMap<int> target{{"a", 1}, {"b", 2}};
    const std::unordered_map<std::string, int> other{{"b", 10}, {"c", 3}};
    const auto merged = hub::merging(
        target, other, [](int existing, int incoming) { return existing * 100 + incoming; });
    EXPECT_EQ(merged.at("b"), 210);
    EXPECT_EQ(merged.at("c"), 3);
    EXPECT_EQ(target.at("b"), 2);
}

} // namespace
