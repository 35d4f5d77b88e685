#pragma once
// Leaves only language tokens selectable: the one step of language detection.

#include "murmex/core/text/LogitsFiltering.h"

#include <cstdint>
#include <unordered_set>
#include <utility>

namespace murmex {

class LanguageLogitsFilter : public LogitsFiltering {
public:
    LanguageLogitsFilter(std::unordered_set<int> allLanguageTokens, int logitsDim, int sampleBegin);

    std::unordered_set<int> allLanguageTokens;
    int logitsDim;
    int sampleBegin;

    /// Once the sequence holds at least `sampleBegin` tokens, forbids every
    /// id below `logitsDim` that is not a language token.
    platform::ml::MultiArray filterLogits(platform::ml::MultiArray logits,
                                          const std::vector<int>& tokens) override;

private:
    // The non-language ids as ascending half-open ranges, computed once.
    std::vector<std::pair<int64_t, int64_t>> nonLanguageRanges_;
};

} // namespace murmex
