#include "murmex/core/WhisperMLModel.h"

#include "platform/ml/ModelError.h"
#include "platform/ml/ModelFolderWriter.h"
#include "platform/ml/whisper/WhisperLayout.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace {

class Stage : public murmex::WhisperMLModel {
public:
    std::shared_ptr<platform::ml::Model> model() const override { return model_; }
    void setModel(std::shared_ptr<platform::ml::Model> model) override {
        model_ = std::move(model);
    }

private:
    std::shared_ptr<platform::ml::Model> model_;
};

class WhisperMLModelTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = std::filesystem::temp_directory_path() / ("zv-stage-" + std::to_string(::getpid()));
        folder_ = root_ / "MelSpectrogram.mlmodelc";
        platform::ml::ModelFolderWriter::write(
            folder_,
            platform::ml::WhisperLayout::manifest(platform::ml::WhisperStage::melSpectrogram, {}),
            [](const auto&, std::span<float> values) {
                std::fill(values.begin(), values.end(), 0.0f);
            });
    }
    void TearDown() override { std::filesystem::remove_all(root_); }
    std::filesystem::path root_, folder_;
};

TEST_F(WhisperMLModelTest, LoadStoresTheModelAndUnloadDropsIt) {
    Stage stage;
    EXPECT_EQ(stage.modelState(), tessary::ModelState::unloaded);
    stage.loadModel(folder_, platform::ml::ComputeUnits::cpuAndNeuralEngine, false);
    ASSERT_TRUE(stage.model());
    EXPECT_EQ(stage.modelState(), tessary::ModelState::loaded);
    EXPECT_EQ(stage.model()->configuration().computeUnits,
              platform::ml::ComputeUnits::cpuAndNeuralEngine);
    stage.unloadModel();
    EXPECT_EQ(stage.modelState(), tessary::ModelState::unloaded);
}

TEST_F(WhisperMLModelTest, PrewarmLoadsButKeepsNothing) {
    Stage stage;
    stage.loadModel(folder_, platform::ml::ComputeUnits::all, true);
    EXPECT_FALSE(stage.model());
    EXPECT_EQ(stage.modelState(), tessary::ModelState::unloaded);
}

TEST_F(WhisperMLModelTest, FailedLoadKeepsThePreviousModel) {
    Stage stage;
    stage.loadModel(folder_, platform::ml::ComputeUnits::all, false);
    auto previous = stage.model();
    EXPECT_THROW(
        stage.loadModel(root_ / "Missing.mlmodelc", platform::ml::ComputeUnits::all, false),
        platform::ml::ModelError);
    EXPECT_EQ(stage.model(), previous);
}

} // namespace
