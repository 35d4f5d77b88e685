#pragma once
// The interface of a token sampler: one choice per decoding step from the
// (filtered) logits, and the closing of a finished sequence.

#include "platform/ml/MultiArray.h"

#include <functional>
#include <vector>

namespace murmex {

/// The token sequence, log-probabilities and end flag after a sampling step.
struct SamplingResult {
    std::vector<int> tokens;
    std::vector<float> logProbs;
    bool completed = false;
};

/// A uniformly distributed float in [0, 1).
using RandomSource = std::function<float()>;

/// Draws from the system's random device: unseeded, so a draw at a
/// temperature above 0 is not reproducible. Each draw scales 24 random bits
/// into [0, 1). Safe to call from any thread.
RandomSource systemRandomSource();

class TokenSampling {
public:
    virtual ~TokenSampling() = default;

    /// Chooses the next token. Returns the given sequences with the choice
    /// appended; `completed` when the choice ends the sequence. The logits are
    /// read, never written.
    virtual SamplingResult update(const std::vector<int>& tokens,
                                  const platform::ml::MultiArray& logits,
                                  const std::vector<float>& logProbs) = 0;

    /// Closes a sequence once decoding has stopped.
    virtual SamplingResult finalize(const std::vector<int>& tokens,
                                    const std::vector<float>& logProbs) = 0;
};

} // namespace murmex
