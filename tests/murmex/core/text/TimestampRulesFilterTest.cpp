#include "murmex/core/text/TimestampRulesFilter.h"

#include <cmath>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace murmex;
using platform::ml::ElementType;
using platform::ml::MultiArray;

namespace {

// A small vocabulary: text 0..9, end 10, markers 11..16, timestamps 20..69.
constexpr int T = 20;
constexpr int V = 70;
constexpr int kText = 3;

SpecialTokens tokens() {
    return SpecialTokens{.endToken = 10,
                         .englishToken = 12,
                         .noSpeechToken = 15,
                         .noTimestampsToken = 16,
                         .specialTokenBegin = 10,
                         .startOfPreviousToken = 14,
                         .startOfTranscriptToken = 11,
                         .timeTokenBegin = T,
                         .transcribeToken = 13,
                         .translateToken = 18,
                         .whitespaceToken = 2};
}

// Logits where text is far more likely than any timestamp, so the
// probability rule stays out of the way unless a case asks for it.
MultiArray textLogits() {
    MultiArray logits({1, 1, V}, ElementType::float16);
    for (int i = 0; i < V; ++i)
        logits.setValue(i, i < T ? 5.0 : -5.0);
    return logits;
}

// The suppressed ids as a compact description, e.g. "0-9 16 20-29".
std::string suppressed(const MultiArray& logits) {
    std::string out;
    int i = 0;
    while (i < V) {
        if (!std::isinf(logits.value(i))) {
            ++i;
            continue;
        }
        int j = i;
        while (j + 1 < V && std::isinf(logits.value(j + 1)))
            ++j;
        if (!out.empty()) out += ' ';
        out += j == i ? std::to_string(i) : std::to_string(i) + "-" + std::to_string(j);
        i = j + 1;
    }
    return out;
}

std::vector<int> prompt() {
    return {11, 12, 13, T};
} // start, language, task, 0.00

std::vector<int> withSampled(std::vector<int> sampled) {
    auto all = prompt();
    all.insert(all.end(), sampled.begin(), sampled.end());
    return all;
}

} // namespace

TEST(TimestampRulesFilter, RulesTable) {
    struct Case {
        const char* name;
        std::vector<int> sampled;
        const char* expected;
    };
    const Case cases[] = {
        {"first sampled position: only no-timestamps", {}, "16"},
        {"text after text: timestamps only forward", {kText, kText}, "16"},
        {"timestamp after text: close the pair or end, never earlier",
         {kText, T + 30},
         "0-9 16 20-49"},
        {"two timestamps: text must follow", {T + 10, T + 12}, "16 20-69"},
        {"single sampled timestamp: text must follow", {T + 10}, "16 20-69"},
        {"completed pair then text: strictly later",
         {T + 10, kText, T + 20, T + 20, kText},
         "16 20-40"},
        {"text after a pair-closing timestamp", {kText, T + 5, T + 5, kText}, "16 20-25"},
    };
    for (const auto& c : cases) {
        TimestampRulesFilter filter(tokens(), 4, std::nullopt, true);
        MultiArray logits = textLogits();
        filter.filterLogits(logits, withSampled(c.sampled));
        EXPECT_EQ(suppressed(logits), c.expected) << c.name;
    }
}

TEST(TimestampRulesFilter, TimestampAfterTextLeavesThatSameTimestampOpen) {
    TimestampRulesFilter filter(tokens(), 4, std::nullopt, true);
    MultiArray logits = textLogits();
    filter.filterLogits(logits, withSampled({kText, T + 30}));
    // 0..9 and T..T+29 forbidden; T+30 may close the pair, and the end token stays open.
    EXPECT_FALSE(std::isinf(logits.value(T + 30)));
    EXPECT_FALSE(std::isinf(logits.value(10)));
    EXPECT_TRUE(std::isinf(logits.value(T + 29)));
}

TEST(TimestampRulesFilter, InitialTimestampCapAppliesAtTheFirstSampledPositionOnly) {
    TimestampRulesFilter filter(tokens(), 4, 5, true);
    MultiArray first = textLogits();
    filter.filterLogits(first, prompt());
    EXPECT_EQ(suppressed(first), "16 26-69");

    MultiArray later = textLogits();
    filter.filterLogits(later, withSampled({kText}));
    EXPECT_EQ(suppressed(later), "16");
}

TEST(TimestampRulesFilter, ProbabilityRuleForcesATimestamp) {
    // Each timestamp alone is less likely than the best text token, but all
    // of them together are more likely: text is forbidden.
    MultiArray logits({1, 1, V}, ElementType::float16);
    for (int i = 0; i < V; ++i)
        logits.setValue(i, i < T ? 0.0 : 1.0);
    logits.setValue(kText, 3.0);
    TimestampRulesFilter filter(tokens(), 4, std::nullopt, true);
    filter.filterLogits(logits, withSampled({kText}));
    EXPECT_EQ(suppressed(logits), "0-19");

    // One dominant text token keeps text allowed.
    MultiArray dominated({1, 1, V}, ElementType::float16);
    for (int i = 0; i < V; ++i)
        dominated.setValue(i, 0.0);
    dominated.setValue(kText, 10.0);
    filter.filterLogits(dominated, withSampled({kText}));
    EXPECT_EQ(suppressed(dominated), "16");
}

TEST(TimestampRulesFilter, SampleBeginFollowsTheTaskTokenOfAMultilingualModel) {
    TimestampRulesFilter multilingual(tokens(), 3, std::nullopt, true);
    EXPECT_EQ(multilingual.effectiveSampleBegin({11, 12, 13, 5}), 3);
    EXPECT_EQ(multilingual.effectiveSampleBegin({11, 13, 5}), 3); // at least sampleBegin
    TimestampRulesFilter late(tokens(), 1, std::nullopt, true);
    EXPECT_EQ(late.effectiveSampleBegin({11, 18, 5}), 2); // translate counts too
    // A previous-text prompt: no task token among the first three, no rule at all.
    std::vector<int> previousText{14, kText, kText, 11, 12, 13, T, kText};
    EXPECT_EQ(multilingual.effectiveSampleBegin(previousText), std::nullopt);
    MultiArray logits = textLogits();
    multilingual.filterLogits(logits, previousText);
    EXPECT_EQ(suppressed(logits), "");

    TimestampRulesFilter englishOnly(tokens(), 2, std::nullopt, false);
    EXPECT_EQ(englishOnly.effectiveSampleBegin({11, T}), 2);
}
