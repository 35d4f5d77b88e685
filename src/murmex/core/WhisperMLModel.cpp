#include "murmex/core/WhisperMLModel.h"

namespace murmex {

void WhisperMLModel::loadModel(const std::filesystem::path& url,
                               platform::ml::ComputeUnits computeUnits, bool prewarmMode) {
    platform::ml::ModelConfiguration configuration;
    configuration.computeUnits = computeUnits;
    std::shared_ptr<platform::ml::Model> loaded = platform::ml::Model::load(url, configuration);
    setModel(prewarmMode ? nullptr : std::move(loaded));
}

void WhisperMLModel::unloadModel() {
    setModel(nullptr);
}

tessary::ModelState WhisperMLModel::modelState() const {
    return model() ? tessary::ModelState::loaded : tessary::ModelState::unloaded;
}

} // namespace murmex
