#include "platform/ml/DictionaryFeatureProvider.h"

namespace platform::ml {

std::set<std::string> DictionaryFeatureProvider::featureNames() const {
    std::set<std::string> names;
    for (const auto& entry : features_)
        names.insert(entry.first);
    return names;
}

std::optional<FeatureValue> DictionaryFeatureProvider::featureValue(const std::string& name) const {
    auto it = features_.find(name);
    if (it == features_.end()) return std::nullopt;
    return it->second;
}

} // namespace platform::ml
