#pragma once
// The cache outputs of one decoder prediction: the key and value cache
// updates and, when the model produces them, the alignment-head weights.
// Copying the record copies the three array handles, not their elements.

#include "platform/ml/MultiArray.h"

#include <optional>

namespace murmex {

struct DecodingCache {
    std::optional<platform::ml::MultiArray> keyCache;         ///< "key_cache_updates"
    std::optional<platform::ml::MultiArray> valueCache;       ///< "value_cache_updates"
    std::optional<platform::ml::MultiArray> alignmentWeights; ///< "alignment_heads_weights"
};

} // namespace murmex
