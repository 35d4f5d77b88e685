#pragma once
// A loaded model's inputs and outputs, and the metadata of its folder.

#include "platform/ml/FeatureDescription.h"

#include <map>
#include <string>

namespace platform::ml {

struct ModelDescription {
    /// Keyed by feature name.
    std::map<std::string, FeatureDescription> inputDescriptionsByName;
    std::map<std::string, FeatureDescription> outputDescriptionsByName;
    /// Free-form metadata from model.json (e.g. "kind", "name").
    std::map<std::string, std::string> metadata;

    const FeatureDescription* input(const std::string& name) const {
        auto it = inputDescriptionsByName.find(name);
        return it == inputDescriptionsByName.end() ? nullptr : &it->second;
    }
    const FeatureDescription* output(const std::string& name) const {
        auto it = outputDescriptionsByName.find(name);
        return it == outputDescriptionsByName.end() ? nullptr : &it->second;
    }
};

} // namespace platform::ml
