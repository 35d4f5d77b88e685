#pragma once
// The progress report handed to callbacks while a window is being decoded.

#include "murmex/records/TranscriptionTimings.h"

#include <optional>
#include <string>
#include <vector>

namespace murmex {

struct TranscriptionProgress {
    TranscriptionTimings timings;
    /// The text decoded so far.
    std::string text;
    std::vector<int> tokens;
    std::optional<float> temperature = std::nullopt;
    std::optional<float> avgLogprob = std::nullopt;
    std::optional<float> compressionRatio = std::nullopt;
    int windowId = 0;
};

} // namespace murmex
