#pragma once
// Forbids a blank or end-of-text as the first sampled token, so that a window
// does not open with nothing.

#include "murmex/core/SpecialTokens.h"
#include "murmex/core/text/LogitsFiltering.h"

namespace murmex {

class SuppressBlankFilter : public LogitsFiltering {
public:
    /// `sampleBegin`: the index in the token sequence of the first sampled
    /// token (the length of the prompt).
    SuppressBlankFilter(SpecialTokens specialTokens, int sampleBegin);

    SpecialTokens specialTokens;
    int sampleBegin;

    /// Acts only when the sequence holds exactly `sampleBegin` tokens.
    platform::ml::MultiArray filterLogits(platform::ml::MultiArray logits,
                                          const std::vector<int>& tokens) override;
};

} // namespace murmex
