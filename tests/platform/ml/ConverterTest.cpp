#include "TestModels.h"
#include "convert/CheckpointConverter.h"
#include "convert/SafetensorsFile.h"
#include "platform/ml/DictionaryFeatureProvider.h"
#include "platform/ml/Model.h"
#include "platform/ml/ModelManifest.h"
#include "platform/system/Float16.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>

using platform::ml::DictionaryFeatureProvider;
using platform::ml::ElementType;
using platform::ml::Model;
using platform::ml::MultiArray;
using platform::ml::WhisperLayout;
using platform::ml::WhisperStage;

namespace {

struct StoredTensor {
    std::string name;
    std::string dtype;
    std::vector<int64_t> shape;
    std::string bytes;
};

void writeSafetensors(const std::filesystem::path& file, const std::vector<StoredTensor>& tensors) {
    std::string header = "{\"__metadata__\":{\"format\":\"pt\"}";
    std::string data;
    for (const auto& t : tensors) {
        header += ",\"";
        header += t.name;
        header += "\":{\"dtype\":\"";
        header += t.dtype;
        header += "\",\"shape\":[";
        for (size_t i = 0; i < t.shape.size(); ++i) {
            if (i) header += ',';
            header += std::to_string(t.shape[i]);
        }
        header += "],\"data_offsets\":[";
        header += std::to_string(data.size());
        header += ',';
        header += std::to_string(data.size() + t.bytes.size());
        header += "]}";
        data += t.bytes;
    }
    header += "}";
    std::ofstream out(file, std::ios::binary);
    uint64_t length = header.size();
    for (int i = 0; i < 8; ++i)
        out.put(static_cast<char>((length >> (8 * i)) & 0xFF));
    out << header << data;
}

std::string floatBytes(const std::vector<float>& values) {
    return std::string(reinterpret_cast<const char*>(values.data()), values.size() * sizeof(float));
}

// A checkpoint holding exactly the generator's weights under the checkpoint's names.
void writeCheckpoint(const std::filesystem::path& folder,
                     const modelgen::GeneratorOptions& options) {
    const auto& dims = options.dimensions;
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "config.json")
        << "{\"num_mel_bins\": " << dims.nMels << ", \"d_model\": " << dims.nAudioState
        << ", \"encoder_layers\": " << dims.nAudioLayer
        << ", \"encoder_attention_heads\": " << dims.nAudioHead
        << ", \"decoder_layers\": " << dims.nTextLayer
        << ", \"decoder_attention_heads\": " << dims.nTextHead
        << ", \"vocab_size\": " << dims.nVocab << ", \"max_source_positions\": " << dims.nAudioCtx
        << ", \"max_target_positions\": " << dims.nTextCtx << "}";
    std::ofstream(folder / "tokenizer.json") << "{}";
    std::vector<StoredTensor> tensors;
    for (WhisperStage stage : {WhisperStage::audioEncoder, WhisperStage::textDecoder}) {
        auto values = modelgen::weightValues(stage, options);
        for (auto& [name, shape] : WhisperLayout::weights(stage, dims)) {
            tensors.push_back({"model." + convert::checkpointTensorName(stage, name), "F32", shape,
                               floatBytes(values[name])});
        }
    }
    // The output projection tied to the token embedding is ignored.
    tensors.push_back({"proj_out.weight", "F32", {1}, floatBytes({0.0f})});
    writeSafetensors(folder / "model.safetensors", tensors);
}

class ConverterTest : public ::testing::Test {
protected:
    void SetUp() override { folder_ = mltest::scratchFolder("convert"); }
    void TearDown() override { std::filesystem::remove_all(folder_); }
    std::filesystem::path folder_;
};

TEST_F(ConverterTest, ConvertedCheckpointGivesTheSameOutputsAsTheDirectModels) {
    auto options = mltest::exactOptions();
    auto direct = modelgen::generateWhisperModels(folder_ / "direct", options);
    writeCheckpoint(folder_ / "checkpoint", options);
    convert::ConvertOptions convertOptions;
    convertOptions.weightType = ElementType::float32;
    convertOptions.alignmentHeads = options.dimensions.alignmentHeads;
    convertOptions.kvCacheLength = options.dimensions.kvCacheLength;
    auto converted =
        convert::convertCheckpoint(folder_ / "checkpoint", folder_ / "converted", convertOptions);
    EXPECT_TRUE(std::filesystem::exists(converted.tokenizerFolder / "tokenizer.json"));

    MultiArray audio({480000}, ElementType::float32);
    for (int64_t i = 0; i < audio.count(); ++i)
        audio.data<float>()[i] = 0.2f * std::sin(0.03f * static_cast<float>(i));
    auto run = [&](const std::filesystem::path& mel, const std::filesystem::path& encoder,
                   const std::filesystem::path& decoder) {
        DictionaryFeatureProvider melInput;
        melInput.set("audio", audio);
        auto features = *Model::load(mel)
                             ->prediction(melInput)
                             ->featureValue("melspectrogram_features")
                             ->multiArrayValue();
        DictionaryFeatureProvider encoderInput;
        encoderInput.set("melspectrogram_features", features);
        auto embeds = *Model::load(encoder)
                           ->prediction(encoderInput)
                           ->featureValue("encoder_output_embeds")
                           ->multiArrayValue();
        mltest::DecoderInputs inputs(options.dimensions);
        inputs.inputIds.setValue(0, 42);
        auto output = Model::load(decoder)->prediction(inputs.provider(embeds));
        auto logits = output->featureValue("logits")->multiArrayValue()->toFloatVector();
        return std::make_tuple(features.toFloatVector(), embeds.toFloatVector(), logits);
    };
    auto expected = run(direct.melSpectrogram, direct.audioEncoder, direct.textDecoder);
    auto actual = run(converted.models.melSpectrogram, converted.models.audioEncoder,
                      converted.models.textDecoder);
    EXPECT_EQ(std::get<0>(actual), std::get<0>(expected));
    EXPECT_EQ(std::get<1>(actual), std::get<1>(expected));
    EXPECT_EQ(std::get<2>(actual), std::get<2>(expected));
}

TEST_F(ConverterTest, AlignmentHeadsDefaultToEveryHeadOfTheUpperHalf) {
    auto options = mltest::exactOptions();
    options.dimensions.nTextLayer = 3;
    writeCheckpoint(folder_ / "checkpoint", options);
    auto result = convert::convertCheckpoint(folder_ / "checkpoint", folder_ / "out");
    using Heads = std::vector<std::pair<int64_t, int64_t>>;
    EXPECT_EQ(result.dimensions.alignmentHeads, (Heads{{1, 0}, {1, 1}, {2, 0}, {2, 1}}));
    auto manifest = platform::ml::ModelManifest::read(result.models.textDecoder);
    EXPECT_EQ(manifest.hyperParameters.at("alignment_heads"),
              (std::vector<int64_t>{1, 0, 1, 1, 2, 0, 2, 1}));
    EXPECT_EQ(manifest.weight("token_embedding")->dataType, ElementType::float16);
}

TEST_F(ConverterTest, HalfAndBrainFloatTensorsAreWidenedExactly) {
    uint16_t half = platform::system::Float16::fromFloat(-1.5f);
    uint16_t brain = static_cast<uint16_t>(std::bit_cast<uint32_t>(3.25f) >> 16);
    writeSafetensors(folder_ / "small.safetensors",
                     {{"h", "F16", {1}, std::string(reinterpret_cast<const char*>(&half), 2)},
                      {"b", "BF16", {1}, std::string(reinterpret_cast<const char*>(&brain), 2)}});
    convert::SafetensorsFile file(folder_ / "small.safetensors");
    EXPECT_EQ(file.floats("h", {1}), (std::vector<float>{-1.5f}));
    EXPECT_EQ(file.floats("b", {1}), (std::vector<float>{3.25f}));
    EXPECT_THROW(file.floats("h", {2}), std::runtime_error);
}

TEST_F(ConverterTest, BrokenCheckpointsAreRefusedWithTheCulpritNamed) {
    auto options = mltest::exactOptions();
    writeCheckpoint(folder_ / "checkpoint", options);
    auto expectError = [&](const std::string& fragment) {
        try {
            convert::convertCheckpoint(folder_ / "checkpoint", folder_ / "out");
            ADD_FAILURE() << "converted despite " << fragment;
        } catch (const std::runtime_error& error) {
            EXPECT_NE(std::string(error.what()).find(fragment), std::string::npos) << error.what();
        }
    };
    auto file = folder_ / "checkpoint" / "model.safetensors";
    std::filesystem::resize_file(file, std::filesystem::file_size(file) - 100);
    expectError("model.safetensors");

    writeSafetensors(file, {{"model.encoder.conv1.weight", "F32", {1}, floatBytes({1.0f})}});
    expectError("model.encoder.conv1.weight");

    std::filesystem::remove(folder_ / "checkpoint" / "config.json");
    expectError("config.json");
}

} // namespace
