#include "platform/ml/ModelFolderWriter.h"
#include "platform/ml/whisper/WhisperLayout.h"
#include "tessary_core/ModelDimensions.h"

#include <gtest/gtest.h>
#include <unistd.h>

using platform::ml::WhisperLayout;
using platform::ml::WhisperStage;
using tessary::ModelDimensions;

TEST(ModelDimensionsTest, ReadsDeclaredShapesAndAnswersNothingOtherwise) {
    auto folder = std::filesystem::temp_directory_path() /
                  ("zv-dimensions-" + std::to_string(::getpid())) / "MelSpectrogram.mlmodelc";
    platform::ml::WhisperDimensions dims;
    dims.nMels = 128;
    platform::ml::ModelFolderWriter::write(
        folder, WhisperLayout::manifest(WhisperStage::melSpectrogram, dims),
        [](const auto&, std::span<float> values) {
            std::fill(values.begin(), values.end(), 0.0f);
        });
    auto model = platform::ml::Model::load(folder);
    EXPECT_EQ(ModelDimensions::getModelInputDimension(model, "audio", 0), 480000);
    EXPECT_EQ(ModelDimensions::getModelOutputDimension(model, "melspectrogram_features", 1), 128);
    EXPECT_EQ(ModelDimensions::getModelOutputDimention(model, "melspectrogram_features", 3), 3000);
    EXPECT_EQ(ModelDimensions::getModelInputDimention(model, "audio", 0), 480000);
    EXPECT_EQ(ModelDimensions::getModelInputDimension(model, "melspectrogram_features", 1),
              std::nullopt);
    EXPECT_EQ(ModelDimensions::getModelOutputDimension(model, "melspectrogram_features", 4),
              std::nullopt);
    EXPECT_EQ(ModelDimensions::getModelInputDimension(nullptr, "audio", 0), std::nullopt);
    std::filesystem::remove_all(folder.parent_path());
}
