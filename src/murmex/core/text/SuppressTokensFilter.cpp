#include "murmex/core/text/SuppressTokensFilter.h"

#include "murmex/core/text/LogitsView.h"

#include <algorithm>

namespace murmex {

SuppressTokensFilter::SuppressTokensFilter(std::vector<int> tokens)
    : suppressTokens(std::move(tokens)) {
    std::erase_if(suppressTokens, [](int token) { return token < 0; });
}

platform::ml::MultiArray SuppressTokensFilter::filterLogits(platform::ml::MultiArray logits,
                                                            const std::vector<int>&) {
    LogitsView view(logits);
    view.suppressEach(suppressTokens);
    return logits;
}

} // namespace murmex
