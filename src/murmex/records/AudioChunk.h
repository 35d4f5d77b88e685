#pragma once
// One piece of a long recording cut at a silence: the index of its first
// sample in the whole recording and a copy of its samples.

#include <cstdint>
#include <vector>

namespace murmex {

struct AudioChunk {
    int64_t seekOffsetIndex = 0;
    std::vector<float> audioSamples;
};

} // namespace murmex
