#include "murmex/core/text/SuppressBlankFilter.h"

#include "murmex/core/text/LogitsView.h"

namespace murmex {

SuppressBlankFilter::SuppressBlankFilter(SpecialTokens specialTokens, int sampleBegin)
    : specialTokens(specialTokens), sampleBegin(sampleBegin) {}

platform::ml::MultiArray SuppressBlankFilter::filterLogits(platform::ml::MultiArray logits,
                                                           const std::vector<int>& tokens) {
    if (static_cast<int64_t>(tokens.size()) != sampleBegin) return logits;
    LogitsView view(logits);
    view.suppress(specialTokens.whitespaceToken);
    view.suppress(specialTokens.endToken);
    return logits;
}

} // namespace murmex
