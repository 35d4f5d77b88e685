#pragma once
// The load, prewarm and unload interface of every engine stage that wraps
// one model folder (the mel spectrogram, the audio encoder, the text decoder
// and the cache-prefill holder). Stages store their model behind model() /
// setModel() (LockedWhisperMLModel keeps it behind a lock); loading and
// unloading have shared defaults.

#include "platform/ml/ComputeUnits.h"
#include "platform/ml/Model.h"
#include "tessary_core/ModelState.h"
#include "tessary_core/PropertyLock.h"

#include <filesystem>
#include <memory>

namespace murmex {

class WhisperMLModel {
public:
    virtual ~WhisperMLModel() = default;

    /// The loaded model, or null when none is loaded.
    virtual std::shared_ptr<platform::ml::Model> model() const = 0;
    virtual void setModel(std::shared_ptr<platform::ml::Model> model) = 0;

    /// Loads the model folder at `url` with the given compute units. With
    /// `prewarmMode` the model is loaded (so that its folder is read and
    /// checked) and let go again: model() becomes null. A loading error is
    /// thrown unchanged and leaves model() as it was.
    virtual void loadModel(const std::filesystem::path& url,
                           platform::ml::ComputeUnits computeUnits, bool prewarmMode);

    /// Drops the model.
    virtual void unloadModel();

    /// loaded while a model is present, unloaded otherwise.
    tessary::ModelState modelState() const;
};

/// A WhisperMLModel that keeps its model behind its own lock, as every
/// built-in stage does: loads, unloads and predictions may run on different
/// threads.
class LockedWhisperMLModel : public WhisperMLModel {
public:
    std::shared_ptr<platform::ml::Model> model() const override { return model_.get(); }
    void setModel(std::shared_ptr<platform::ml::Model> model) override {
        model_.set(std::move(model));
    }

private:
    tessary::PropertyLock<std::shared_ptr<platform::ml::Model>> model_;
};

/// The model side of an engine stage (a mel, encoder or decoder stage): the
/// stage itself when it runs a model folder, null when it runs none (a stage
/// of the caller's own, say). The engine loads, prewarms and unloads its
/// stages through this.
template <typename Stage> WhisperMLModel* loadableModel(Stage* stage) {
    return dynamic_cast<WhisperMLModel*>(stage);
}

} // namespace murmex
