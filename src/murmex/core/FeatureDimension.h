#pragma once
// Reading a size off a model's description: one dimension of the shape it
// declares for a multi-array input or output.

#include "platform/ml/FeatureDescription.h"

#include <cstddef>
#include <optional>

namespace murmex {

/// Dimension `position` of the multi-array shape `feature` declares; nothing
/// when there is no such feature, it is not a multi-array, it carries no
/// shape constraint, or the shape has too few dimensions.
inline std::optional<int> featureDimension(const platform::ml::FeatureDescription* feature,
                                           std::size_t position) {
    if (!feature || feature->type != platform::ml::FeatureType::multiArray ||
        !feature->multiArrayConstraint) {
        return std::nullopt;
    }
    const auto& shape = feature->multiArrayConstraint->shape;
    if (position >= shape.size()) return std::nullopt;
    return static_cast<int>(shape[position]);
}

} // namespace murmex
