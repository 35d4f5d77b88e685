#include "platform/ml/ModelFolderWriter.h"

#include "TestModels.h"
#include "platform/ml/ModelError.h"
#include "platform/ml/ModelManifest.h"

#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <stdexcept>

namespace fs = std::filesystem;
using platform::ml::ElementType;
using platform::ml::ModelError;
using platform::ml::ModelFolderWriter;
using platform::ml::ModelManifest;
using platform::ml::WeightEntry;

namespace {

ModelManifest manifestWith(std::vector<WeightEntry> weights) {
    ModelManifest manifest;
    manifest.kind = "test";
    manifest.weights = std::move(weights);
    return manifest;
}

void fillWithIndex(const WeightEntry&, std::span<float> values) {
    for (size_t i = 0; i < values.size(); ++i)
        values[i] = static_cast<float>(i);
}

std::vector<std::string> entriesOf(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class ModelFolderWriterTest : public ::testing::Test {
protected:
    void SetUp() override { scratch = mltest::scratchFolder("writer"); }
    void TearDown() override { fs::remove_all(scratch); }

    // A folder written from one float32 weight of `count` values.
    void writeOriginal(int64_t count) {
        ModelFolderWriter::write(target(), manifestWith({{"w", ElementType::float32, {count}}}),
                                 fillWithIndex);
    }
    fs::path target() const { return scratch / "Model.mlmodelc"; }

    fs::path scratch;
};

} // namespace

TEST_F(ModelFolderWriterTest, WeightsLandAlignedAndAReplacementTakesTheFolderWhole) {
    writeOriginal(3);
    const ModelManifest written = ModelFolderWriter::write(
        target(),
        manifestWith({{"a", ElementType::float16, {3}}, {"b", ElementType::float32, {2}}}),
        fillWithIndex);
    ASSERT_EQ(written.weights.size(), 2u);
    EXPECT_EQ(written.weights[0].offset, 0u);
    EXPECT_EQ(written.weights[1].offset, ModelManifest::kWeightAlignment);
    EXPECT_EQ(fs::file_size(target() / ModelManifest::kWeightsFileName),
              ModelManifest::kWeightAlignment + 8);
    EXPECT_EQ(ModelManifest::read(target()).weights.size(), 2u);
    EXPECT_EQ(entriesOf(scratch), std::vector<std::string>{"Model.mlmodelc"});
}

TEST_F(ModelFolderWriterTest, FailuresAreTypedAndLeaveTheOldFolderAsItWas) {
    writeOriginal(5);
    const auto originalSize = fs::file_size(target() / ModelManifest::kWeightsFileName);

    try {
        ModelFolderWriter::write(target(), manifestWith({{"ids", ElementType::int32, {4}}}),
                                 fillWithIndex);
        ADD_FAILURE() << "an int32 weight was written";
    } catch (const ModelError& error) {
        EXPECT_EQ(error.kind(), ModelError::Kind::unsupported);
        EXPECT_STREQ(error.what(), "Weight \"ids\" must be stored as float16 or float32");
    }

    auto failingSource = [](const WeightEntry&, std::span<float>) {
        throw std::invalid_argument("no such tensor");
    };
    EXPECT_THROW(ModelFolderWriter::write(
                     target(), manifestWith({{"w", ElementType::float32, {2}}}), failingSource),
                 std::invalid_argument);

    EXPECT_EQ(fs::file_size(target() / ModelManifest::kWeightsFileName), originalSize);
    EXPECT_EQ(entriesOf(scratch), std::vector<std::string>{"Model.mlmodelc"});
}

TEST_F(ModelFolderWriterTest, AnUnwritablePlaceIsAWriteFailureNamingThePath) {
    std::ofstream(scratch / "plain-file") << "x";
    const fs::path underAFile = scratch / "plain-file" / "Model.mlmodelc";
    try {
        ModelFolderWriter::write(underAFile, manifestWith({{"w", ElementType::float32, {1}}}),
                                 fillWithIndex);
        ADD_FAILURE() << "wrote under a regular file";
    } catch (const ModelError& error) {
        EXPECT_EQ(error.kind(), ModelError::Kind::writeFailed);
        EXPECT_NE(std::string(error.what()).find((scratch / "plain-file").string()),
                  std::string::npos)
            << error.what();
    }
    EXPECT_EQ(entriesOf(scratch), std::vector<std::string>{"plain-file"});
}
