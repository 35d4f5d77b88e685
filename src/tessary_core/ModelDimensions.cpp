#include "tessary_core/ModelDimensions.h"

#include <limits>

namespace tessary {

namespace {

std::optional<int> dimensionOf(const platform::ml::FeatureDescription* feature, int position) {
    if (!feature || feature->type != platform::ml::FeatureType::multiArray ||
        !feature->multiArrayConstraint) {
        return std::nullopt;
    }
    const auto& shape = feature->multiArrayConstraint->shape;
    // A position outside the shape answers nothing rather than reading past it.
    if (position < 0 || static_cast<size_t>(position) >= shape.size()) return std::nullopt;
    int64_t value = shape[static_cast<size_t>(position)];
    if (value > std::numeric_limits<int>::max()) return std::nullopt;
    return static_cast<int>(value);
}

} // namespace

std::optional<int>
ModelDimensions::getModelInputDimension(const std::shared_ptr<platform::ml::Model>& model,
                                        const std::string& name, int position) {
    if (!model) return std::nullopt;
    return dimensionOf(model->description().input(name), position);
}

std::optional<int>
ModelDimensions::getModelOutputDimension(const std::shared_ptr<platform::ml::Model>& model,
                                         const std::string& name, int position) {
    if (!model) return std::nullopt;
    return dimensionOf(model->description().output(name), position);
}

} // namespace tessary
