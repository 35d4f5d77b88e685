#pragma once
// A logits filter forbids tokens for the coming position by writing negative
// infinity into their entries, in place, before the sampler chooses.

#include "platform/ml/MultiArray.h"

#include <vector>

namespace murmex {

class LogitsFiltering {
public:
    virtual ~LogitsFiltering() = default;

    /// `tokens` is the sequence so far: the prompt followed by the sampled
    /// tokens. Returns the same array it was given, changed in place.
    virtual platform::ml::MultiArray filterLogits(platform::ml::MultiArray logits,
                                                  const std::vector<int>& tokens) = 0;
};

} // namespace murmex
