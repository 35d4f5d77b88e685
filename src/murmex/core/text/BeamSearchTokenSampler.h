#pragma once
// Beam-search settings. No beam search is defined for this engine and nothing
// creates this sampler; its update and finalize stop the process.

#include "murmex/core/text/TokenSampling.h"

namespace murmex {

class BeamSearchTokenSampler : public TokenSampling {
public:
    /// Stops the process with "Invalid beam size ..." when patience x beamSize
    /// leaves no candidate.
    BeamSearchTokenSampler(int beamSize, int eotToken, float patience = 1);

    int beamSize;
    int eotToken;
    float patience;
    int maxCandidates;
    std::vector<float> finishedSequences;

    void reset();

    SamplingResult update(const std::vector<int>& tokens, const platform::ml::MultiArray& logits,
                          const std::vector<float>& logProbs) override;
    SamplingResult finalize(const std::vector<int>& tokens,
                            const std::vector<float>& logProbs) override;
};

} // namespace murmex
