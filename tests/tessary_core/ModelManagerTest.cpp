#include "tessary_core/ModelManager.h"

#include "tessary_core/Logging.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace {

using tessary::Logging;
using tessary::ModelDownloader;
using tessary::ModelManager;
using tessary::ModelState;
using tessary::TessaryCoreError;

class FakeLoader : public tessary::ModelLoader {
public:
    std::optional<std::string> folder;
    std::atomic<int> downloads{0}, loads{0}, prewarms{0}, unloads{0};
    bool failDownload = false, failLoad = false;
    std::chrono::milliseconds delay{0};

    std::optional<std::string> modelFolder() const override { return folder; }
    std::string download(const ModelDownloader&,
                         const ModelDownloader::ProgressCallback&) override {
        ++downloads;
        std::this_thread::sleep_for(delay);
        if (failDownload) throw std::runtime_error("no network");
        return "/models/downloaded";
    }
    void load(const std::string& path, bool prewarmMode) override {
        ++(prewarmMode ? prewarms : loads);
        lastPath = path;
        std::this_thread::sleep_for(delay);
        if (failLoad) throw std::runtime_error("broken model");
    }
    void unload() override { ++unloads; }
    std::string lastPath;
};

class ModelManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        Logging::shared().setLogLevel(Logging::LogLevel::debug);
        Logging::shared().setLoggingCallback([this](const std::string& line) {
            std::lock_guard lock(mutex_);
            lines_.push_back(line);
        });
        manager_.setModelStateCallback([this](ModelState from, ModelState to) {
            std::lock_guard lock(mutex_);
            transitions_.emplace_back(from, to);
        });
    }
    void TearDown() override {
        Logging::shared().setLoggingCallback({});
        Logging::shared().setLogLevel(Logging::LogLevel::none);
    }
    bool logged(const std::string& text) {
        std::lock_guard lock(mutex_);
        for (const auto& line : lines_)
            if (line.find(text) != std::string::npos) return true;
        return false;
    }

    std::shared_ptr<FakeLoader> loader_ = std::make_shared<FakeLoader>();
    ModelManager manager_{loader_, std::make_shared<ModelDownloader>("http://127.0.0.1:1", "o/m")};
    std::mutex mutex_;
    std::vector<std::string> lines_;
    std::vector<std::pair<ModelState, ModelState>> transitions_;
};

TEST_F(ModelManagerTest, LoadDownloadsFirstThenLoads) {
    manager_.loadModels();
    using S = ModelState;
    EXPECT_EQ(transitions_, (std::vector<std::pair<S, S>>{{S::unloaded, S::downloading},
                                                          {S::downloading, S::downloaded},
                                                          {S::downloaded, S::loading},
                                                          {S::loading, S::loaded}}));
    EXPECT_EQ(manager_.modelPath(), std::filesystem::path("/models/downloaded"));
    EXPECT_EQ(loader_->lastPath, "/models/downloaded");
    EXPECT_TRUE(manager_.isLoaded());
    EXPECT_TRUE(logged("[ModelManager] Models downloaded to /models/downloaded"));
    EXPECT_TRUE(logged("[ModelManager] Models loaded successfully"));

    // Wrong states are refused with the state's name; the state stays.
    try {
        manager_.prewarmModels();
        ADD_FAILURE();
    } catch (const TessaryCoreError& e) {
        EXPECT_STREQ(e.what(), "Cannot prewarm in state: Loaded");
    }
    manager_.unloadModels();
    EXPECT_EQ(manager_.modelState(), S::unloaded);
    EXPECT_EQ(loader_->unloads, 1);
    manager_.setModelState(S::downloading);
    try {
        manager_.loadModels();
        ADD_FAILURE();
    } catch (const TessaryCoreError& e) {
        EXPECT_STREQ(e.what(), "Cannot load in state: Downloading");
    }
}

TEST_F(ModelManagerTest, ALoaderFolderSkipsTheDownload) {
    loader_->folder = "/models/local";
    manager_.prewarmModels();
    EXPECT_EQ(loader_->downloads, 0);
    EXPECT_EQ(manager_.modelPath(), std::filesystem::path("/models/local"));
    EXPECT_EQ(manager_.modelState(), ModelState::prewarmed);
    EXPECT_FALSE(manager_.isAvailable());
    manager_.loadModels();
    EXPECT_EQ(loader_->prewarms, 1);
    EXPECT_EQ(loader_->loads, 1);
    EXPECT_EQ(transitions_.front(), std::make_pair(ModelState::unloaded, ModelState::downloaded));
}

TEST_F(ModelManagerTest, FailuresFallBackToUnloaded) {
    loader_->failLoad = true;
    EXPECT_THROW(manager_.loadModels(), std::runtime_error);
    EXPECT_EQ(manager_.modelState(), ModelState::unloaded);
    EXPECT_TRUE(logged("[ModelManager] Failed to load models: broken model"));

    loader_->failDownload = true;
    EXPECT_THROW(manager_.downloadModels(), std::runtime_error);
    EXPECT_EQ(manager_.modelState(), ModelState::unloaded);

    // Unloading outside loaded and prewarmed does nothing.
    manager_.setModelState(ModelState::downloaded);
    transitions_.clear();
    manager_.unloadModels();
    EXPECT_TRUE(transitions_.empty());
    EXPECT_EQ(loader_->unloads, 0);

    // No path at all.
    ModelManager bare(std::make_shared<FakeLoader>(), nullptr);
    bare.setModelState(ModelState::downloaded);
    EXPECT_THROW(bare.loadModels(), TessaryCoreError);
}

TEST_F(ModelManagerTest, ConcurrentEnsureModelsLoadedShareOneLoad) {
    loader_->delay = std::chrono::milliseconds(200);
    std::thread first([&] { manager_.ensureModelsLoaded(); });
    std::thread second([&] { manager_.ensureModelsLoaded(); });
    first.join();
    second.join();
    EXPECT_EQ(loader_->downloads, 1);
    EXPECT_EQ(loader_->loads, 1);
    EXPECT_TRUE(manager_.isLoaded());
    manager_.ensureModelsLoaded();
    EXPECT_EQ(loader_->loads, 1);

    // Both callers see a shared failure; the next call starts afresh.
    ModelManager failing(loader_, nullptr);
    loader_->failLoad = true;
    std::atomic<int> failures{0};
    std::thread a([&] {
        try {
            failing.ensureModelsLoaded();
        } catch (const std::exception&) {
            ++failures;
        }
    });
    std::thread b([&] {
        try {
            failing.ensureModelsLoaded();
        } catch (const std::exception&) {
            ++failures;
        }
    });
    a.join();
    b.join();
    EXPECT_EQ(failures, 2);
    EXPECT_EQ(loader_->loads, 2);
    loader_->failLoad = false;
    failing.ensureModelsLoaded();
    EXPECT_TRUE(failing.isLoaded());
}

class CustomManager : public ModelManager {
    using ModelManager::ModelManager;
};

TEST_F(ModelManagerTest, LogLinesNameTheClass) {
    CustomManager custom(loader_, nullptr);
    EXPECT_EQ(custom.loggerName(), "CustomManager");
    EXPECT_EQ(manager_.loggerName(), "ModelManager");
}

} // namespace
