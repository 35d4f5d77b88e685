#include "murmex/core/text/GreedyTokenSampler.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <vector>

using murmex::DecodingOptions;
using murmex::GreedyTokenSampler;
using platform::ml::ElementType;
using platform::ml::MultiArray;
using platform::system::Float16;

namespace {

constexpr float kNegInf = -std::numeric_limits<float>::infinity();
constexpr int kEot = 9;

MultiArray halfLogits(const std::vector<float>& values) {
    MultiArray logits({1, 1, static_cast<int64_t>(values.size())}, ElementType::float16);
    for (size_t i = 0; i < values.size(); ++i)
        logits.setValue(static_cast<int64_t>(i), values[i]);
    return logits;
}

// Log-softmax of `values / temperature` at `index`, computed directly.
float logSoftmax(const std::vector<float>& values, size_t index, float temperature = 1) {
    double maximum = kNegInf;
    for (float v : values)
        maximum = std::max<double>(maximum, v / temperature);
    double sum = 0;
    for (float v : values)
        sum += std::exp(v / temperature - maximum);
    return static_cast<float>(values[index] / temperature - maximum - std::log(sum));
}

murmex::RandomSource fixed(float value) {
    return [value] { return value; };
}

} // namespace

TEST(GreedyTokenSampler, TemperatureZeroPicksTheLargestLogitWithItsLogProbability) {
    std::vector<float> values{0.5f, 2.0f, -1.0f, 2.0f, 1.0f, 0, 0, 0, 0, 0};
    GreedyTokenSampler sampler(Float16(0.0f), kEot, DecodingOptions{}, [] {
        ADD_FAILURE() << "greedy choice must not draw";
        return 0.0f;
    });
    auto result = sampler.update({1, 2}, halfLogits(values), {0.0f, -0.1f});
    // Equal maxima resolve to the lowest id.
    ASSERT_EQ(result.tokens, (std::vector<int>{1, 2, 1}));
    ASSERT_EQ(result.logProbs.size(), 3u);
    EXPECT_NEAR(result.logProbs[2], logSoftmax(values, 1), 1e-5);
    EXPECT_FALSE(result.completed);
}

TEST(GreedyTokenSampler, SuppressedEntriesAreNeverChosen) {
    std::vector<float> values(10, kNegInf);
    values[2] = 0.1f;
    GreedyTokenSampler greedy(Float16(0.0f), kEot, DecodingOptions{});
    EXPECT_EQ(greedy.update({}, halfLogits(values), {}).tokens.back(), 2);
    // At a temperature, every draw position lands on the only finite entry.
    for (float r : {0.0f, 0.5f, 0.999f}) {
        GreedyTokenSampler hot(Float16(1.0f), kEot, DecodingOptions{.topK = 5}, fixed(r));
        auto result = hot.update({}, halfLogits(values), {});
        EXPECT_EQ(result.tokens.back(), 2);
        EXPECT_NEAR(result.logProbs.back(), 0.0f, 1e-6);
    }
}

TEST(GreedyTokenSampler, TopKDrawWalksTheRunningSumOfTheCandidates) {
    // Probabilities at temperature 1: ids 3 and 1 share most of the mass.
    std::vector<float> values{0, std::log(3.0f), 0, std::log(6.0f), 0, 0, 0, 0, 0, 0};
    // Candidates in descending order: 3 (6/17), 1 (3/17), then 0 (1/17) with k = 3.
    struct Case {
        float random;
        int expected;
    };
    for (auto [r, expected] :
         {Case{0.0f, 3}, Case{0.59f, 3}, Case{0.61f, 1}, Case{0.89f, 1}, Case{0.91f, 0}}) {
        GreedyTokenSampler sampler(Float16(1.0f), kEot, DecodingOptions{.topK = 3}, fixed(r));
        auto result = sampler.update({}, halfLogits(values), {});
        EXPECT_EQ(result.tokens.back(), expected) << "r = " << r;
        // Not renormalised over the candidates: the whole-vocabulary probability.
        EXPECT_NEAR(result.logProbs.back(), logSoftmax(values, static_cast<size_t>(expected)), 2e-3)
            << "r = " << r;
    }
}

TEST(GreedyTokenSampler, TopKOfOneAlwaysTakesTheBestAtTheScaledProbability) {
    std::vector<float> values{1.0f, 3.0f, 2.0f, 0, 0, 0, 0, 0, 0, 0};
    for (float r : {0.0f, 0.7f, 0.9999f}) {
        GreedyTokenSampler sampler(Float16(0.5f), kEot, DecodingOptions{.topK = 1}, fixed(r));
        auto result = sampler.update({}, halfLogits(values), {});
        EXPECT_EQ(result.tokens.back(), 1);
        EXPECT_NEAR(result.logProbs.back(), logSoftmax(values, 1, 0.5f), 1e-4);
    }
}

TEST(GreedyTokenSampler, CompletedExactlyWhenTheEndTokenIsChosen) {
    std::vector<float> values(10, 0.0f);
    values[kEot] = 5;
    GreedyTokenSampler sampler(Float16(0.0f), kEot, DecodingOptions{});
    EXPECT_TRUE(sampler.update({1}, halfLogits(values), {0}).completed);
    values[kEot] = -5;
    EXPECT_FALSE(sampler.update({1}, halfLogits(values), {0}).completed);
}

TEST(GreedyTokenSampler, AllSuppressedEndsTheSequenceWithAnImpossibleLogProbability) {
    std::vector<float> values(10, kNegInf);
    GreedyTokenSampler sampler(Float16(0.0f), kEot, DecodingOptions{});
    auto result = sampler.update({1}, halfLogits(values), {0});
    EXPECT_EQ(result.tokens.back(), kEot);
    EXPECT_TRUE(result.completed);
    EXPECT_EQ(result.logProbs.back(), kNegInf);
}

TEST(GreedyTokenSampler, FinalizeAppendsTheEndTokenOnlyWhenMissing) {
    GreedyTokenSampler sampler(Float16(0.0f), kEot, DecodingOptions{});
    auto closed = sampler.finalize({1, kEot}, {0, -0.5f});
    EXPECT_EQ(closed.tokens, (std::vector<int>{1, kEot}));
    EXPECT_EQ(closed.logProbs, (std::vector<float>{0, -0.5f}));
    EXPECT_TRUE(closed.completed);

    auto open = sampler.finalize({1, 2}, {0, -0.5f});
    EXPECT_EQ(open.tokens, (std::vector<int>{1, 2, kEot}));
    EXPECT_EQ(open.logProbs, (std::vector<float>{0, -0.5f, 0}));

    auto empty = sampler.finalize({}, {});
    EXPECT_EQ(empty.tokens, (std::vector<int>{kEot}));
    EXPECT_EQ(empty.logProbs, (std::vector<float>{0}));
}

TEST(GreedyTokenSampler, SystemRandomSourceStaysInTheUnitInterval) {
    auto random = murmex::systemRandomSource();
    for (int i = 0; i < 1000; ++i) {
        float r = random();
        ASSERT_GE(r, 0.0f);
        ASSERT_LT(r, 1.0f);
    }
}
