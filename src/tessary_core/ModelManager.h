#pragma once
// A life-cycle controller for a set of models that a client library loads
// itself: walks them through download, prewarming, loading and unloading,
// keeps one ModelState, reports every change to an optional callback,
// refuses operations that do not fit the current state, and makes
// concurrent ensureModelsLoaded() calls share one load. The work itself is
// done by the client's ModelLoader (with the ModelDownloader it is given).
//
// Log lines begin with "[" + the object's class name + "] ".

#include "platform/ml/ComputeUnits.h"
#include "platform/system/Progress.h"
#include "tessary_core/ModelDownloader.h"
#include "tessary_core/ModelState.h"

#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>

namespace tessary {

class TessaryCoreError : public std::runtime_error {
public:
    enum class Kind { invalidConfiguration };
    static TessaryCoreError invalidConfiguration(const std::string& message) {
        return TessaryCoreError(message);
    }
    Kind kind() const { return Kind::invalidConfiguration; }

private:
    explicit TessaryCoreError(const std::string& message) : std::runtime_error(message) {}
};

/// What a client implements for the manager.
class ModelLoader {
public:
    virtual ~ModelLoader() = default;
    /// A folder that already holds the models; downloading is then skipped.
    virtual std::optional<std::string> modelFolder() const = 0;
    /// Downloads the models and returns the folder they are in.
    virtual std::string download(const ModelDownloader& downloader,
                                 const ModelDownloader::ProgressCallback& progressCallback) = 0;
    /// Loads the models of the folder: to prewarm them, or for use.
    virtual void load(const std::string& modelPath, bool prewarmMode) = 0;
    virtual void unload() = 0;
};

/// One component backed by one compiled model.
class MLModelLoading {
public:
    virtual ~MLModelLoading() = default;
    virtual void loadModel(const std::filesystem::path& url,
                           platform::ml::ComputeUnits computeUnits, bool prewarmMode) = 0;
    void loadModel(const std::filesystem::path& url, platform::ml::ComputeUnits computeUnits) {
        loadModel(url, computeUnits, false);
    }
    virtual void unloadModel() = 0;
};

class ModelManager {
public:
    using ModelStateCallback = std::function<void(ModelState oldState, ModelState newState)>;

    ModelManager(std::shared_ptr<ModelLoader> loader, std::shared_ptr<ModelDownloader> downloader);
    virtual ~ModelManager() = default;

    ModelState modelState() const;
    /// A different value calls the callback with the old and the new state.
    void setModelState(ModelState state);
    ModelStateCallback modelStateCallback() const;
    void setModelStateCallback(ModelStateCallback callback);
    std::optional<std::filesystem::path> modelPath() const;
    void setModelPath(std::optional<std::filesystem::path> path);
    /// The loader's model folder, when it has one.
    std::optional<std::filesystem::path> modelFolder() const;
    /// The unqualified name of the object's own class.
    std::string loggerName() const;

    /// Loads the models unless they are loaded; callers that arrive while a
    /// load runs wait for it and share its outcome. A failed load is
    /// forgotten, so the next call starts afresh.
    virtual void ensureModelsLoaded();
    virtual void downloadModels(const ModelDownloader::ProgressCallback& progressCallback = {});
    virtual void prewarmModels();
    virtual void loadModels();
    virtual void unloadModels();

    bool isAvailable() const;
    bool isLoaded() const;

protected:
    const std::shared_ptr<ModelLoader>& loader() const { return loader_; }
    const std::shared_ptr<ModelDownloader>& downloader() const { return downloader_; }

private:
    /// Runs an operation, or joins the run already in progress.
    class LoadModelsCoordinator {
    public:
        void run(const std::function<void()>& operation);

    private:
        std::mutex mutex_;
        std::optional<std::shared_future<void>> inflightLoad_;
    };

    std::filesystem::path requireModelPath() const;
    std::string prefix() const { return "[" + loggerName() + "] "; }

    // Guards the fields; never held while the loader or a callback runs.
    mutable std::mutex mutex_;
    ModelState modelState_ = ModelState::unloaded;
    ModelStateCallback modelStateCallback_;
    std::optional<std::filesystem::path> modelPath_;
    mutable std::string loggerName_;
    const std::shared_ptr<ModelLoader> loader_;
    const std::shared_ptr<ModelDownloader> downloader_;
    LoadModelsCoordinator coordinator_;
};

} // namespace tessary
