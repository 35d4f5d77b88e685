#include "murmex/core/text/GreedyTokenSampler.h"

#include "murmex/core/text/LogitsView.h"
#include "tessary_core/Logging.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>
#include <random>

namespace murmex {

RandomSource systemRandomSource() {
    return [] {
        static std::mutex mutex;
        static std::random_device device;
        uint32_t bits;
        {
            std::lock_guard lock(mutex);
            bits = device();
        }
        return static_cast<float>(bits >> 8) * 0x1.0p-24f;
    };
}

GreedyTokenSampler::GreedyTokenSampler(platform::system::Float16 temperature, int eotToken,
                                       DecodingOptions decodingOptions, RandomSource random)
    : temperature(temperature),
      eotToken(eotToken),
      decodingOptions(std::move(decodingOptions)),
      random_(random ? std::move(random) : systemRandomSource()) {}

SamplingResult GreedyTokenSampler::update(const std::vector<int>& tokens, const platform::ml::MultiArray& logits,
                                          const std::vector<float>& logProbs) {
    // LogitsView needs a mutable handle for its writers; reading changes nothing.
    platform::ml::MultiArray handle = logits;
    LogitsView(handle).readAll(scores_);
    std::optional<Choice> choice = chooseInPlace();
    if (!choice) {
        // Every entry is negative infinity (or not a number): no distribution
        // to draw from. Ending the sequence here with an impossible
        // log-probability lets the quality checks reject the window instead
        // of inventing a token.
        tessary::Logging::error("Sampling error: no finite logit to sample from");
        choice = Choice{eotToken, -std::numeric_limits<float>::infinity()};
    }
    SamplingResult result{tokens, logProbs, choice->token == eotToken};
    result.tokens.push_back(choice->token);
    result.logProbs.push_back(choice->logProb);
    return result;
}

SamplingResult GreedyTokenSampler::finalize(const std::vector<int>& tokens, const std::vector<float>& logProbs) {
    SamplingResult result{tokens, logProbs, true};
    if (tokens.empty() || tokens.back() != eotToken) {
        result.tokens.push_back(eotToken);
        result.logProbs.push_back(0.0f);
    }
    return result;
}

std::optional<GreedyTokenSampler::Choice> GreedyTokenSampler::choose(std::span<const float> scores) {
    scores_.assign(scores.begin(), scores.end());
    return chooseInPlace();
}

std::optional<GreedyTokenSampler::Choice> GreedyTokenSampler::chooseInPlace() {
    const float t = static_cast<float>(temperature);
    const size_t count = scores_.size();
    // Not-a-number scores count as suppressed.
    for (float& s : scores_) {
        if (t != 0.0f) s /= t;
        if (s != s) s = -std::numeric_limits<float>::infinity();
    }

    // Largest score, lowest id on ties.
    size_t best = count;
    float maximum = -std::numeric_limits<float>::infinity();
    for (size_t i = 0; i < count; ++i) {
        if (scores_[i] > maximum) {
            maximum = scores_[i];
            best = i;
        }
    }
    if (best == count || !std::isfinite(maximum)) return std::nullopt;

    double sum = 0;
    for (float s : scores_) sum += static_cast<double>(std::exp(s - maximum));
    const double logSum = std::log(sum);
    auto logProbOf = [&](size_t i) { return static_cast<float>(static_cast<double>(scores_[i]) - maximum - logSum); };

    if (t == 0.0f) return Choice{static_cast<int>(best), logProbOf(best)};

    // Top-k draw: the k most probable candidates in descending order, a
    // threshold r * S on their summed probability, and the first candidate
    // whose running sum is not below it.
    const size_t k = std::clamp<size_t>(static_cast<size_t>(std::max(decodingOptions.topK, 1)), 1, count);
    candidates_.resize(count);
    for (size_t i = 0; i < count; ++i) candidates_[i] = static_cast<int>(i);
    auto moreProbable = [&](int a, int b) {
        float sa = scores_[static_cast<size_t>(a)], sb = scores_[static_cast<size_t>(b)];
        return sa != sb ? sa > sb : a < b;
    };
    std::partial_sort(candidates_.begin(), candidates_.begin() + static_cast<std::ptrdiff_t>(k), candidates_.end(),
                      moreProbable);

    double total = 0;
    for (size_t c = 0; c < k; ++c) total += std::exp(static_cast<double>(logProbOf(static_cast<size_t>(candidates_[c]))));
    const double threshold = total * static_cast<double>(random_());
    double running = 0;
    size_t chosen = 0;
    for (size_t c = 0; c < k; ++c) {
        running += std::exp(static_cast<double>(logProbOf(static_cast<size_t>(candidates_[c]))));
        if (running >= threshold) {
            chosen = c;
            break;
        }
    }
    const auto token = static_cast<size_t>(candidates_[chosen]);
    return Choice{static_cast<int>(token), logProbOf(token)};
}

}  // namespace murmex
