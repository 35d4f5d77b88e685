#pragma once
// The rules that keep timestamp tokens in well-formed pairs: a timestamp
// after text closes a segment and must be followed by another timestamp or
// the end; two timestamps in a row must be followed by text; timestamps never
// go back in time; and when the timestamps together are more probable than
// any single text token, a timestamp is forced.

#include "murmex/core/SpecialTokens.h"
#include "murmex/core/text/LogitsFiltering.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace murmex {

class TimestampRulesFilter : public LogitsFiltering {
public:
    /// `sampleBegin`: the index of the first sampled token (the prompt length).
    /// `maxInitialTimestampIndex`: when present, the first sampled token may be
    /// a timestamp of at most that many 0.02 s steps.
    TimestampRulesFilter(SpecialTokens specialTokens, int sampleBegin,
                         std::optional<int> maxInitialTimestampIndex, bool isModelMultilingual);

    SpecialTokens specialTokens;
    int sampleBegin;
    std::optional<int> maxInitialTimestampIndex;
    bool isModelMultilingual;

    platform::ml::MultiArray filterLogits(platform::ml::MultiArray logits,
                                          const std::vector<int>& tokens) override;

    /// Where the sampled tokens start in `tokens`: `sampleBegin` for an
    /// English-only model; for a multilingual model one past the task token
    /// among the first three tokens (at least `sampleBegin`), and nothing
    /// when none of them is a task token (the rules then do not apply).
    std::optional<int> effectiveSampleBegin(const std::vector<int>& tokens) const;

    /// True when the summed probability of all timestamp tokens exceeds the
    /// probability of the most probable other token, both as log-probabilities
    /// in half precision over the (already filtered) logits.
    bool sumOfProbabilityOverTimestampsIsAboveAnyOtherToken(const platform::ml::MultiArray& logits);

private:
    // Reused across steps.
    std::vector<float> scratch_;            // the scores, when not contiguous
    std::vector<float> timestampLogProbs_;  // before rounding to half
    std::vector<uint16_t> timestampHalves_; // after
};

} // namespace murmex
