#include "tessary_core/ModelManager.h"

#include "tessary_core/Logging.h"

#include <cxxabi.h>
#include <typeinfo>

namespace tessary {

namespace fs = std::filesystem;

void ModelManager::LoadModelsCoordinator::run(const std::function<void()>& operation) {
    std::unique_lock lock(mutex_);
    if (inflightLoad_) {
        std::shared_future<void> running = *inflightLoad_;
        lock.unlock();
        running.get();
        return;
    }
    std::promise<void> promise;
    inflightLoad_ = promise.get_future().share();
    lock.unlock();
    std::exception_ptr error;
    try {
        operation();
    } catch (...) {
        error = std::current_exception();
    }
    lock.lock();
    inflightLoad_.reset();
    lock.unlock();
    if (error) {
        promise.set_exception(error);
        std::rethrow_exception(error);
    }
    promise.set_value();
}

ModelManager::ModelManager(std::shared_ptr<ModelLoader> loader,
                           std::shared_ptr<ModelDownloader> downloader)
    : loader_(std::move(loader)), downloader_(std::move(downloader)) {}

ModelState ModelManager::modelState() const {
    std::lock_guard lock(mutex_);
    return modelState_;
}

void ModelManager::setModelState(ModelState state) {
    ModelState old;
    ModelStateCallback callback;
    {
        std::lock_guard lock(mutex_);
        old = modelState_;
        if (old == state) return;
        modelState_ = state;
        callback = modelStateCallback_;
    }
    if (callback) callback(old, state);
}

ModelManager::ModelStateCallback ModelManager::modelStateCallback() const {
    std::lock_guard lock(mutex_);
    return modelStateCallback_;
}

void ModelManager::setModelStateCallback(ModelStateCallback callback) {
    std::lock_guard lock(mutex_);
    modelStateCallback_ = std::move(callback);
}

std::optional<fs::path> ModelManager::modelPath() const {
    std::lock_guard lock(mutex_);
    return modelPath_;
}

void ModelManager::setModelPath(std::optional<fs::path> path) {
    std::lock_guard lock(mutex_);
    modelPath_ = std::move(path);
}

std::optional<fs::path> ModelManager::modelFolder() const {
    if (auto folder = loader_->modelFolder()) return fs::path(*folder);
    return std::nullopt;
}

std::string ModelManager::loggerName() const {
    std::lock_guard lock(mutex_);
    if (loggerName_.empty()) {
        int status = 0;
        const char* mangled = typeid(*this).name();
        char* demangled = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
        std::string name = status == 0 && demangled ? demangled : mangled;
        std::free(demangled);
        if (auto colon = name.rfind("::"); colon != std::string::npos)
            name = name.substr(colon + 2);
        loggerName_ = name;
    }
    return loggerName_;
}

bool ModelManager::isLoaded() const {
    return modelState() == ModelState::loaded;
}

bool ModelManager::isAvailable() const {
    const ModelState state = modelState();
    return state == ModelState::loading || state == ModelState::loaded ||
           state == ModelState::downloaded;
}

fs::path ModelManager::requireModelPath() const {
    if (auto path = modelPath()) return *path;
    if (auto folder = modelFolder()) return *folder;
    throw TessaryCoreError::invalidConfiguration(
        "No model path available. Call downloadModels() first, or provide modelFolder.");
}

void ModelManager::downloadModels(const ModelDownloader::ProgressCallback& progressCallback) {
    const ModelState state = modelState();
    if (state != ModelState::unloaded) {
        Logging::debug(prefix() + "Models already downloaded (state: " +
                       std::string(description(state)) + "), skipping download");
        return;
    }
    if (auto folder = modelFolder()) {
        Logging::debug(prefix() + "modelFolder is set, skipping download");
        setModelPath(*folder);
        setModelState(ModelState::downloaded);
        return;
    }
    Logging::info(prefix() + "Starting download process...");
    setModelState(ModelState::downloading);
    try {
        const std::string path = loader_->download(*downloader_, progressCallback);
        setModelPath(fs::path(path));
        setModelState(ModelState::downloaded);
        Logging::info(prefix() + "Models downloaded to " + path);
    } catch (const std::exception& error) {
        setModelState(ModelState::unloaded);
        Logging::error(prefix() + "Failed to download models: " + error.what());
        throw;
    }
}

void ModelManager::prewarmModels() {
    if (modelState() == ModelState::unloaded) downloadModels();
    const fs::path path = requireModelPath();
    const ModelState state = modelState();
    if (state == ModelState::prewarmed) {
        Logging::debug(prefix() + "Models already prewarmed, skipping");
        return;
    }
    if (state != ModelState::downloaded)
        throw TessaryCoreError::invalidConfiguration("Cannot prewarm in state: " +
                                                     std::string(description(state)));
    setModelState(ModelState::prewarming);
    try {
        loader_->load(path.string(), true);
        setModelState(ModelState::prewarmed);
        Logging::info(prefix() + "Models prewarmed successfully");
    } catch (const std::exception& error) {
        setModelState(ModelState::unloaded);
        Logging::error(prefix() + "Failed to prewarm models: " + error.what());
        throw;
    }
}

void ModelManager::loadModels() {
    if (modelState() == ModelState::unloaded) downloadModels();
    const fs::path path = requireModelPath();
    const ModelState state = modelState();
    if (state == ModelState::loaded) {
        Logging::debug(prefix() + "Models already loaded, skipping");
        return;
    }
    if (state != ModelState::prewarmed && state != ModelState::downloaded)
        throw TessaryCoreError::invalidConfiguration("Cannot load in state: " +
                                                     std::string(description(state)));
    setModelState(ModelState::loading);
    try {
        loader_->load(path.string(), false);
        setModelState(ModelState::loaded);
        Logging::info(prefix() + "Models loaded successfully");
    } catch (const std::exception& error) {
        setModelState(ModelState::unloaded);
        Logging::error(prefix() + "Failed to load models: " + error.what());
        throw;
    }
}

void ModelManager::unloadModels() {
    const ModelState state = modelState();
    if (state != ModelState::loaded && state != ModelState::prewarmed) return;
    setModelState(ModelState::unloading);
    loader_->unload();
    setModelState(ModelState::unloaded);
}

void ModelManager::ensureModelsLoaded() {
    if (modelState() == ModelState::loaded) return;
    coordinator_.run([this] {
        if (modelState() == ModelState::loaded) return;
        downloadModels();
        loadModels();
    });
}

} // namespace tessary
