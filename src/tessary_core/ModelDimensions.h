#pragma once
// Reading one dimension of a model's declared input or output shape, the way
// the engine's stages learn the sizes of the models they were given.

#include "platform/ml/Model.h"

#include <memory>
#include <optional>
#include <string>

namespace tessary {

class ModelDimensions {
public:
    ModelDimensions() = delete;

    /// Entry `position` of the shape of the input `name`; nothing when there
    /// is no model, no such input, the input is not a multi-array with a
    /// shape constraint, or the position lies outside the shape.
    static std::optional<int>
    getModelInputDimension(const std::shared_ptr<platform::ml::Model>& model,
                           const std::string& name, int position);
    /// The same for the output `name`.
    static std::optional<int>
    getModelOutputDimension(const std::shared_ptr<platform::ml::Model>& model,
                            const std::string& name, int position);

    /// Second names of the two lookups, spelled as callers know them.
    static std::optional<int>
    getModelInputDimention(const std::shared_ptr<platform::ml::Model>& model,
                           const std::string& name, int position) {
        return getModelInputDimension(model, name, position);
    }
    static std::optional<int>
    getModelOutputDimention(const std::shared_ptr<platform::ml::Model>& model,
                            const std::string& name, int position) {
        return getModelOutputDimension(model, name, position);
    }
};

} // namespace tessary
