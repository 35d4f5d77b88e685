#pragma once
// What a model says about one of its inputs or outputs.

#include "platform/ml/ElementType.h"
#include "platform/ml/FeatureValue.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform::ml {

/// The shape and element type a multi-array feature must have.
struct MultiArrayConstraint {
    std::vector<int64_t> shape;
    ElementType dataType = ElementType::float32;
};

struct FeatureDescription {
    std::string name;
    FeatureType type = FeatureType::multiArray;
    bool isOptional = false;
    /// Present for multi-array features.
    std::optional<MultiArrayConstraint> multiArrayConstraint;
};

} // namespace platform::ml
