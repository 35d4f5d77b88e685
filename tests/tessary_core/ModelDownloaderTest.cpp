#include "tessary_core/ModelDownloader.h"

#include "platform/system/TemporaryDirectory.h"
#include "support/TestHub.h"

#include <fstream>
#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;
using tessary::ModelDownloadConfig;
using tessary::ModelDownloader;
using tessary::ModelDownloaderError;
using tessary::ModelInfo;
using tessary::ModelState;
using zvtest::TestHub;

TEST(ModelInfo, PatternsPathsAndDescriptions) {
    const ModelInfo bare{std::nullopt, std::nullopt, "m"};
    EXPECT_EQ(bare.downloadPattern(), "m/*/*/*");
    EXPECT_EQ(bare.modelURL("/b"), fs::path("/b/m"));
    const ModelInfo variant{std::nullopt, "v", "m"};
    EXPECT_EQ(variant.downloadPattern(), "m/*/v/*");
    EXPECT_EQ(variant.description(), "m/v");
    EXPECT_EQ(variant.debugDescription(),
              "ModelInfo(name: m, version: nil, variant: v, computeUnit: cpuAndNeuralEngine)");
    EXPECT_EQ(ModelInfo({"2", "base", "m"}).modelURL("/b"), fs::path("/b/m/2/base"));
    EXPECT_EQ(bare.findBaseFolder("/x/repo/m/2/base"), fs::path("/x/repo"));
    EXPECT_EQ(bare.findBaseFolder("/x/other"), std::nullopt);
}

class ModelDownloaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        TestHub::Repository repository;
        repository.id = "owner/models";
        repository.files = {
            {"m/1/base/TextDecoder.mlmodelc/model.json", "{}"},
            {"m/1/base/TextDecoder.mlmodelc/weights.bin", std::string(4096, 'w'), true},
            {"m/1/base/AudioEncoder.mlmodelc/model.json", "{}"},
            {"other/1/base/X.mlmodelc/model.json", "{}"}};
        server_.addRepository(repository);
    }

    ModelDownloader downloader(std::optional<std::string> modelFolder = std::nullopt) const {
        return ModelDownloader(ModelDownloadConfig{cache_.path().string(), "owner/models",
                                                   std::string(), modelFolder, false,
                                                   server_.endpoint(), "main"});
    }

    TestHub server_;
    platform::system::TemporaryDirectory cache_{"zv-model-downloader-"};
    const ModelInfo info_{"1", "base", "m"};
};

TEST_F(ModelDownloaderTest, ModelFolderThenCacheThenDownload) {
    std::vector<ModelState> reported;
    auto record = [&](ModelState state) { reported.push_back(state); };

    // Download disabled and nothing anywhere.
    try {
        downloader().resolveModel("TextDecoder", info_, std::nullopt, std::nullopt, false, record);
        ADD_FAILURE();
    } catch (const ModelDownloaderError& e) {
        EXPECT_STREQ(e.what(), "No model found for TextDecoder (download disabled)");
    }

    // Downloaded: only the model's own folder comes over.
    const fs::path url =
        downloader().resolveModel("TextDecoder", info_, std::nullopt, std::nullopt, true, record);
    const fs::path repoFolder = cache_ / "models" / "owner" / "models";
    EXPECT_EQ(url, repoFolder / "m/1/base/TextDecoder.mlmodelc");
    EXPECT_EQ(reported, (std::vector<ModelState>{ModelState::downloading, ModelState::downloaded}));
    EXPECT_FALSE(fs::exists(repoFolder / "other"));

    // Cached: found offline, reported as downloaded, no transfer.
    reported.clear();
    server_.clearLog();
    EXPECT_EQ(
        downloader().resolveModel("TextDecoder", info_, std::nullopt, std::nullopt, false, record),
        url);
    EXPECT_EQ(reported, std::vector<ModelState>{ModelState::downloaded});
    for (const auto& entry : server_.log())
        EXPECT_TRUE(entry.path.starts_with("/api/")) << entry.path;

    // The cache still answers when the hub cannot be reached at all.
    const ModelDownloader unreachable(ModelDownloadConfig{cache_.path().string(), "owner/models",
                                                          std::string(), std::nullopt, false,
                                                          "http://127.0.0.1:1", "main"});
    EXPECT_EQ(unreachable.resolveModel("TextDecoder", info_, std::nullopt, std::nullopt, false),
              url);

    // A model folder that holds the model: no request, no report.
    reported.clear();
    server_.clearLog();
    EXPECT_EQ(downloader(repoFolder.string()).resolveModelPath("TextDecoder", info_), url.string());
    EXPECT_TRUE(reported.empty());
    EXPECT_TRUE(server_.log().empty());
}

TEST_F(ModelDownloaderTest, RepositoryPatterns) {
    const fs::path repoFolder = cache_ / "models" / "owner" / "models";
    EXPECT_EQ(downloader().localRepoLocation(), repoFolder);
    EXPECT_THROW(downloader().resolveRepo({"m/1/*"}, std::nullopt, false), ModelDownloaderError);

    std::vector<double> fractions;
    EXPECT_EQ(downloader().resolveRepo({"m/1/*"}, std::nullopt, true,
                                       [&](const platform::system::Progress& progress) {
                                           fractions.push_back(progress.fractionCompleted());
                                       }),
              repoFolder);
    EXPECT_TRUE(fs::exists(repoFolder / "m/1/base/AudioEncoder.mlmodelc/model.json"));
    EXPECT_FALSE(fractions.empty());

    // Present: no request. "*" alone always counts as missing.
    server_.clearLog();
    EXPECT_EQ(downloader().resolveRepo({"m/1/*"}, std::nullopt, false), repoFolder);
    EXPECT_TRUE(server_.log().empty());
    EXPECT_THROW(downloader().resolveRepo({"*"}, std::nullopt, false), ModelDownloaderError);

    auto names = downloader().fetchFilenames({"other/*"});
    EXPECT_EQ(names, std::vector<std::string>{"other/1/base/X.mlmodelc/model.json"});

    // Offline, a model the repository lacks is reported by name.
    try {
        downloader().downloadModel({"9", "base", "m"}, std::nullopt, true);
        ADD_FAILURE();
    } catch (const ModelDownloaderError& e) {
        EXPECT_STREQ(e.what(), "No models found matching \"m/9/base/*\" in owner/models");
    }
}

} // namespace
