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
    : temperature(temperature), eotToken(eotToken), decodingOptions(std::move(decodingOptions)),
      random_(random ? std::move(random) : systemRandomSource()) {}

SamplingResult GreedyTokenSampler::update(const std::vector<int>& tokens,
                                          const platform::ml::MultiArray& logits,
                                          const std::vector<float>& logProbs) {
    // LogitsView needs a mutable handle for its writers; reading changes nothing.
    platform::ml::MultiArray handle = logits;
    const LogitsView view(handle);
    std::optional<Choice> choice;
    if (static_cast<float>(temperature) == 0.0f) {
        // The greedy choice reads the logits where they are.
        choice = chooseMostProbable(view.row(scores_));
    } else {
        view.readAll(scores_);
        choice = chooseInPlace();
    }
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

SamplingResult GreedyTokenSampler::finalize(const std::vector<int>& tokens,
                                            const std::vector<float>& logProbs) {
    SamplingResult result{tokens, logProbs, true};
    if (tokens.empty() || tokens.back() != eotToken) {
        result.tokens.push_back(eotToken);
        result.logProbs.push_back(0.0f);
    }
    return result;
}

std::optional<GreedyTokenSampler::Choice>
GreedyTokenSampler::choose(std::span<const float> scores) {
    scores_.assign(scores.begin(), scores.end());
    return chooseInPlace();
}

std::optional<GreedyTokenSampler::Choice>
GreedyTokenSampler::chooseMostProbable(logits_math::Row row) {
    // Not-a-number scores count as suppressed: every reduction skips them.
    const float maximum = logits_math::maximum(row);
    if (!std::isfinite(maximum)) return std::nullopt;
    const size_t best = logits_math::firstIndexOf(row, maximum); // lowest id on ties
    // Only the chosen token's log-probability is needed: its score is the
    // maximum, so it is minus the log of the normalising sum.
    const double logSum = std::log(logits_math::sumOfExponentials(row, maximum));
    return Choice{static_cast<int>(best),
                  static_cast<float>(static_cast<double>(maximum) - maximum - logSum)};
}

std::optional<GreedyTokenSampler::Choice> GreedyTokenSampler::chooseInPlace() {
    const float t = static_cast<float>(temperature);
    const size_t count = scores_.size();
    const logits_math::Row row{nullptr, scores_.data(), count};
    if (t == 0.0f) return chooseMostProbable(row);

    // Not-a-number scores count as suppressed.
    for (float& s : scores_) {
        s /= t;
        if (s != s) s = -std::numeric_limits<float>::infinity();
    }
    const float maximum = logits_math::maximum(row);
    if (!std::isfinite(maximum)) return std::nullopt;
    const double logSum = std::log(logits_math::sumOfExponentials(row, maximum));
    auto logProbOf = [&](size_t i) {
        return static_cast<float>(static_cast<double>(scores_[i]) - maximum - logSum);
    };

    // Top-k draw: the k most probable candidates in descending order, a
    // threshold r * S on their summed probability, and the first candidate
    // whose running sum is not below it.
    const size_t k =
        std::clamp<size_t>(static_cast<size_t>(std::max(decodingOptions.topK, 1)), 1, count);
    selectCandidates(k);

    double total = 0;
    for (size_t c = 0; c < k; ++c)
        total += std::exp(static_cast<double>(logProbOf(static_cast<size_t>(candidates_[c]))));
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

void GreedyTokenSampler::selectCandidates(size_t k) {
    // Higher score first, lower id first among equal scores.
    const size_t count = scores_.size();
    auto moreProbable = [&](int a, int b) {
        float sa = scores_[static_cast<size_t>(a)], sb = scores_[static_cast<size_t>(b)];
        return sa != sb ? sa > sb : a < b;
    };
    constexpr size_t kLargestScannedK = 64;
    if (k > kLargestScannedK) {
        candidates_.resize(count);
        for (size_t i = 0; i < count; ++i)
            candidates_[i] = static_cast<int>(i);
        std::partial_sort(candidates_.begin(), candidates_.begin() + static_cast<std::ptrdiff_t>(k),
                          candidates_.end(), moreProbable);
        return;
    }
    // One pass in id order keeping the best k so far, sorted. A later id
    // enters only with a score strictly above the k-th, and goes behind every
    // kept candidate with the same score: the order moreProbable defines.
    const logits_math::Row row{nullptr, scores_.data(), count};
    candidates_.clear();
    size_t i = 0;
    for (; i < count && candidates_.size() < k; ++i) {
        candidates_.insert(std::upper_bound(candidates_.begin(), candidates_.end(),
                                            static_cast<int>(i), moreProbable),
                           static_cast<int>(i));
    }
    while ((i = logits_math::firstIndexAbove(
                row, i, scores_[static_cast<size_t>(candidates_.back())])) < count) {
        candidates_.pop_back();
        candidates_.insert(std::upper_bound(candidates_.begin(), candidates_.end(),
                                            static_cast<int>(i), moreProbable),
                           static_cast<int>(i));
        ++i;
    }
}

} // namespace murmex
