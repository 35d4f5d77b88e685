#include "TestModels.h"
#include "platform/ml/Model.h"
#include "platform/ml/ModelError.h"
#include "platform/ml/ModelManifest.h"
#include "platform/ml/WeightFile.h"
#include "platform/system/Float16.h"

#include <fstream>
#include <gtest/gtest.h>

using platform::ml::ElementType;
using platform::ml::Model;
using platform::ml::ModelError;

namespace {

class ModelLoadingTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder_ = new std::filesystem::path(mltest::scratchFolder("loading"));
        modelgen::GeneratorOptions options = mltest::exactOptions();
        options.prefill = platform::ml::WhisperPrefillSizes{50259, 4, 3};
        models_ = new modelgen::GeneratedModels(
            modelgen::generateWhisperModels(*folder_ / "models", options));
    }
    static void TearDownTestSuite() {
        std::filesystem::remove_all(*folder_);
        delete models_;
        delete folder_;
    }

    // A copy of a generated folder that a test may damage.
    std::filesystem::path damagedCopy(const std::filesystem::path& source,
                                      const std::string& name) {
        auto target = *folder_ / name;
        std::filesystem::remove_all(target);
        std::filesystem::copy(source, target, std::filesystem::copy_options::recursive);
        return target;
    }

    static std::string readText(const std::filesystem::path& file) {
        std::ifstream stream(file);
        return std::string(std::istreambuf_iterator<char>(stream), {});
    }
    static void writeText(const std::filesystem::path& file, const std::string& text) {
        std::ofstream stream(file, std::ios::trunc);
        stream << text;
    }

    // Replaces the first `from` after `anchor` in the folder's model.json.
    static void editJson(const std::filesystem::path& folder, const std::string& anchor,
                         const std::string& from, const std::string& to) {
        std::string text = readText(folder / "model.json");
        auto at = text.find(from, text.find(anchor));
        text.replace(at, from.size(), to);
        writeText(folder / "model.json", text);
    }

    static std::filesystem::path* folder_;
    static modelgen::GeneratedModels* models_;
};

std::filesystem::path* ModelLoadingTest::folder_ = nullptr;
modelgen::GeneratedModels* ModelLoadingTest::models_ = nullptr;

TEST_F(ModelLoadingTest, DescriptionsMatchTheFolderContract) {
    const auto dims = mltest::exactOptions().dimensions;
    auto decoder = Model::load(models_->textDecoder);
    const auto& description = decoder->description();
    EXPECT_EQ(description.inputDescriptionsByName.size(), 7u);
    auto shapeOf = [](const platform::ml::FeatureDescription* f) {
        return f->multiArrayConstraint->shape;
    };
    EXPECT_EQ(shapeOf(description.input("key_cache")),
              (std::vector<int64_t>{1, dims.nTextLayer * dims.nTextState, 1, dims.kvCacheLength}));
    EXPECT_EQ(description.input("input_ids")->multiArrayConstraint->dataType, ElementType::int32);
    EXPECT_EQ(description.input("decoder_key_padding_mask")->multiArrayConstraint->dataType,
              ElementType::float16);
    EXPECT_EQ(shapeOf(description.output("logits")), (std::vector<int64_t>{1, 1, dims.nVocab}));
    EXPECT_EQ(shapeOf(description.output("alignment_heads_weights")),
              (std::vector<int64_t>{1, dims.nAudioCtx}));
    EXPECT_EQ(description.metadata.at("kind"), "TextDecoder");

    auto mel = Model::load(models_->melSpectrogram);
    EXPECT_EQ(shapeOf(mel->description().input("audio")), (std::vector<int64_t>{480000}));
    EXPECT_EQ(shapeOf(mel->description().output("melspectrogram_features")),
              (std::vector<int64_t>{1, 80, 1, 3000}));
    auto encoder = Model::load(models_->audioEncoder);
    EXPECT_EQ(shapeOf(encoder->description().output("encoder_output_embeds")),
              (std::vector<int64_t>{1, dims.nAudioState, 1, 1500}));
    auto prefill = Model::load(models_->textDecoderContextPrefill);
    EXPECT_EQ(shapeOf(prefill->description().output("key_cache_prefill")),
              (std::vector<int64_t>{1, dims.nTextLayer * dims.nTextState, 1, 3}));

    // What the folder's model.json declares is what the description reports.
    auto manifest = platform::ml::ModelManifest::read(models_->textDecoder);
    for (const auto& feature : manifest.inputs) {
        ASSERT_NE(description.input(feature.name), nullptr) << feature.name;
        EXPECT_EQ(shapeOf(description.input(feature.name)), feature.multiArrayConstraint->shape);
    }
}

TEST_F(ModelLoadingTest, DamagedOrForeignFoldersAreRefusedWithTheFileNamed) {
    struct Case {
        const char* name;
        std::function<void(const std::filesystem::path&)> damage;
        const char* expectedFile;
        ModelError::Kind kind;
    };
    const std::vector<Case> cases = {
        {"missing-json", [](auto& f) { std::filesystem::remove(f / "model.json"); }, "model.json",
         ModelError::Kind::notFound},
        {"missing-weights", [](auto& f) { std::filesystem::remove(f / "weights.bin"); },
         "weights.bin", ModelError::Kind::notFound},
        {"bad-json",
         [](auto& f) { writeText(f / "model.json", "{\"format\": \"zovuruv-model\", "); },
         "model.json", ModelError::Kind::invalidFormat},
        {"foreign",
         [](auto& f) { writeText(f / "model.json", "{\"kind\": \"pipeline\", \"layers\": []}"); },
         "model.json", ModelError::Kind::invalidFormat},
        {"truncated",
         [](auto& f) {
             std::filesystem::resize_file(f / "weights.bin",
                                          std::filesystem::file_size(f / "weights.bin") / 2);
         },
         "weights.bin", ModelError::Kind::invalidFormat},
        {"weight-shape", [](auto& f) { editJson(f, "\"token_embedding\"", "300", "299"); },
         "weights.bin", ModelError::Kind::invalidFormat},
        {"weight-type",
         [](auto& f) { editJson(f, "\"token_embedding\"", "\"float32\"", "\"int32\""); },
         "weights.bin", ModelError::Kind::invalidFormat},
        {"weight-past-the-end",
         [](auto& f) {
             editJson(f, "\"token_embedding\"", "\"offset\": 0", "\"offset\": 64000000");
         },
         "weights.bin", ModelError::Kind::invalidFormat},
        {"declared-shape", [](auto& f) { editJson(f, "\"logits\"", "300", "301"); }, "model.json",
         ModelError::Kind::invalidFormat},
        {"unknown-kind", [](auto& f) { editJson(f, "\"kind\"", "TextDecoder", "TextEncoder"); },
         "model.json", ModelError::Kind::unsupported},
    };
    for (const Case& c : cases) {
        auto folder = damagedCopy(models_->textDecoder, c.name);
        c.damage(folder);
        try {
            Model::load(folder);
            ADD_FAILURE() << c.name << ": loaded";
        } catch (const ModelError& error) {
            EXPECT_EQ(error.kind(), c.kind) << c.name << ": " << error.what();
            EXPECT_NE(std::string(error.what()).find(c.expectedFile), std::string::npos)
                << c.name << ": " << error.what();
        }
    }
    EXPECT_THROW(Model::load(*folder_ / "no-such-folder.mlmodelc"), ModelError);
}

TEST_F(ModelLoadingTest, WeightsStoredInTheComputedPrecisionAreUsedInPlace) {
    using platform::ml::WeightBuffer;
    using platform::system::Float16;
    modelgen::GeneratorOptions halfOptions = mltest::exactOptions();
    halfOptions.weightType = ElementType::float16;
    halfOptions.melSpectrogram = halfOptions.audioEncoder = false;
    const auto halfFolder =
        modelgen::generateWhisperModels(*folder_ / "half", halfOptions).textDecoder;
    for (const auto& folder : {models_->textDecoder, halfFolder}) {
        auto manifest = platform::ml::ModelManifest::read(folder);
        const auto& entry = *manifest.weight("token_embedding");
        const bool half = entry.dataType == ElementType::float16;
        WeightBuffer<uint16_t> halves;
        WeightBuffer<float> floats;
        std::vector<float> stored(static_cast<size_t>(entry.count()));
        {
            platform::ml::WeightFile file(folder / "weights.bin", manifest);
            halves = file.halves("token_embedding", entry.shape);
            floats = file.floats("token_embedding", entry.shape);
            // The precision stored is used in place; the other is converted.
            EXPECT_EQ(halves.data() == file.bytes(entry), half);
            EXPECT_EQ(floats.data() == file.bytes(entry), !half);
            for (size_t i = 0; i < stored.size(); ++i) {
                stored[i] =
                    half ? Float16::toFloat(static_cast<const uint16_t*>(file.bytes(entry))[i])
                         : static_cast<const float*>(file.bytes(entry))[i];
            }
        }
        // The weights outlive the file object: they keep the mapping.
        ASSERT_EQ(halves.size(), stored.size());
        ASSERT_EQ(floats.size(), stored.size());
        for (size_t i = 0; i < stored.size(); ++i) {
            ASSERT_EQ(floats[i], stored[i]) << i;
            ASSERT_EQ(halves[i], Float16::fromFloat(stored[i])) << i;
        }
    }
}

} // namespace
