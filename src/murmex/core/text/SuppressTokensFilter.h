#pragma once
// Forbids a fixed list of tokens at every step.

#include "murmex/core/text/LogitsFiltering.h"

namespace murmex {

class SuppressTokensFilter : public LogitsFiltering {
public:
    /// Negative ids are dropped here; ids at or beyond the vocabulary are
    /// ignored when filtering, so no entry outside the logits is ever written.
    explicit SuppressTokensFilter(std::vector<int> suppressTokens);

    std::vector<int> suppressTokens;

    platform::ml::MultiArray filterLogits(platform::ml::MultiArray logits,
                                          const std::vector<int>& tokens) override;
};

} // namespace murmex
