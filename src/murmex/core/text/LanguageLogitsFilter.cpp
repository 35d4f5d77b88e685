#include "murmex/core/text/LanguageLogitsFilter.h"

#include "murmex/core/text/LogitsView.h"

#include <algorithm>

namespace murmex {

LanguageLogitsFilter::LanguageLogitsFilter(std::unordered_set<int> languageTokens, int logitsDim,
                                           int sampleBegin)
    : allLanguageTokens(std::move(languageTokens)), logitsDim(logitsDim), sampleBegin(sampleBegin) {
    std::vector<int> sorted(allLanguageTokens.begin(), allLanguageTokens.end());
    std::sort(sorted.begin(), sorted.end());
    int64_t next = 0;
    for (int token : sorted) {
        if (token < next) continue;
        if (token >= logitsDim) break;
        if (token > next) nonLanguageRanges_.emplace_back(next, token);
        next = token + 1;
    }
    if (next < logitsDim) nonLanguageRanges_.emplace_back(next, logitsDim);
}

platform::ml::MultiArray LanguageLogitsFilter::filterLogits(platform::ml::MultiArray logits,
                                                            const std::vector<int>& tokens) {
    if (static_cast<int64_t>(tokens.size()) < sampleBegin) return logits;
    LogitsView view(logits);
    for (auto [begin, end] : nonLanguageRanges_)
        view.suppressRange(begin, end);
    return logits;
}

} // namespace murmex
