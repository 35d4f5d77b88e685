#pragma once
// A feature provider backed by a map from names to values.

#include "platform/ml/FeatureProvider.h"

#include <map>

namespace platform::ml {

class DictionaryFeatureProvider : public FeatureProvider {
public:
    DictionaryFeatureProvider() = default;
    explicit DictionaryFeatureProvider(std::map<std::string, FeatureValue> features)
        : features_(std::move(features)) {}

    std::set<std::string> featureNames() const override;
    std::optional<FeatureValue> featureValue(const std::string& name) const override;

    void set(const std::string& name, FeatureValue value) { features_[name] = std::move(value); }
    const std::map<std::string, FeatureValue>& dictionary() const { return features_; }

private:
    std::map<std::string, FeatureValue> features_;
};

} // namespace platform::ml
