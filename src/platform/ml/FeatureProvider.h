#pragma once
// The named features handed to a model prediction or returned by one.

#include "platform/ml/FeatureValue.h"

#include <optional>
#include <set>
#include <string>

namespace platform::ml {

class FeatureProvider {
public:
    virtual ~FeatureProvider() = default;
    /// Every feature name the provider answers for.
    virtual std::set<std::string> featureNames() const = 0;
    /// The feature of that exact name, or nothing.
    virtual std::optional<FeatureValue> featureValue(const std::string& name) const = 0;
};

} // namespace platform::ml
