#pragma once
// The sampler the engine uses everywhere: the most probable token at
// temperature 0, a draw among the `topK` best candidates otherwise.

#include "murmex/core/text/LogitsMath.h"
#include "murmex/core/text/TokenSampling.h"
#include "murmex/records/DecodingOptions.h"
#include "platform/system/Float16.h"

#include <optional>
#include <span>

namespace murmex {

class GreedyTokenSampler : public TokenSampling {
public:
    GreedyTokenSampler(platform::system::Float16 temperature, int eotToken,
                       DecodingOptions decodingOptions, RandomSource random = systemRandomSource());

    platform::system::Float16 temperature;
    int eotToken;
    DecodingOptions decodingOptions; // only topK is read

    SamplingResult update(const std::vector<int>& tokens, const platform::ml::MultiArray& logits,
                          const std::vector<float>& logProbs) override;

    /// Appends eotToken (log-probability 0) unless the sequence already ends
    /// with it; `completed` is always true.
    SamplingResult finalize(const std::vector<int>& tokens,
                            const std::vector<float>& logProbs) override;

    struct Choice {
        int token;
        float logProb;
    };

    /// The choice over plain scores. Softmax is taken in float over the
    /// whole vocabulary at the sampler's temperature; the log-probability is
    /// that of the chosen token (the top-k candidates are not renormalised).
    /// Equal maxima resolve to the lowest id. Absent when no score is finite
    /// (every token suppressed): there is nothing to choose from.
    std::optional<Choice> choose(std::span<const float> scores);

private:
    std::optional<Choice> chooseInPlace();
    // The argmax and its log-probability, at temperature 0.
    std::optional<Choice> chooseMostProbable(logits_math::Row row);
    // The k most probable ids of scores_, best first, into candidates_.
    void selectCandidates(size_t k);

    RandomSource random_;
    std::vector<float> scores_;   // reused across steps
    std::vector<int> candidates_; // reused across steps
};

} // namespace murmex
