#pragma once
// A loaded model: a folder "<Name>.mlmodelc" with model.json and weights.bin.
// Predictions take named features and return named features; one model may
// serve predictions from several threads at once.

#include "platform/ml/FeatureProvider.h"
#include "platform/ml/ModelConfiguration.h"
#include "platform/ml/ModelDescription.h"
#include "platform/ml/PredictionOptions.h"

#include <filesystem>
#include <memory>

namespace platform::ml {

class Model {
public:
    /// Loads the model folder. Throws ModelError naming the file at fault
    /// when the folder is missing, is not of this runtime or is damaged.
    static std::shared_ptr<Model> load(const std::filesystem::path& folder,
                                       const ModelConfiguration& configuration = {});

    ~Model();
    Model(const Model&) = delete;
    Model& operator=(const Model&) = delete;

    const ModelDescription& description() const;
    const ModelConfiguration& configuration() const;
    const std::filesystem::path& folder() const;

    /// Runs the model. Every declared input must be present with the declared
    /// shape and element type (ModelError::Kind::invalidInput otherwise).
    std::shared_ptr<FeatureProvider> prediction(const FeatureProvider& input,
                                                const PredictionOptions& options = {}) const;

    class Impl;

private:
    explicit Model(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

} // namespace platform::ml
