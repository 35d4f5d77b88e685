#pragma once
// One piece of a long recording cut at a silence: the index of its first
// sample in the whole audio, and its 16 kHz mono samples.

#include <vector>

namespace murmex {

struct AudioChunk {
    int seekOffsetIndex = 0;
    std::vector<float> audioSamples;
};

} // namespace murmex
