#pragma once
// Converts a Whisper checkpoint folder (config.json plus model.safetensors,
// or shards listed in model.safetensors.index.json) into the runtime's model
// folders "MelSpectrogram.mlmodelc", "AudioEncoder.mlmodelc" and
// "TextDecoder.mlmodelc", and copies the tokenizer documents it finds into
// "<output>/tokenizer". The mel filter bank is computed (Slaney scale) for
// the checkpoint's number of mel bins.

#include "model_gen/ModelGenerator.h"
#include "platform/ml/ElementType.h"
#include "platform/ml/whisper/WhisperDimensions.h"
#include "platform/ml/whisper/WhisperLayout.h"

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace convert {

struct ConvertOptions {
    platform::ml::ElementType weightType = platform::ml::ElementType::float16;
    /// (decoder layer, head) pairs; when absent, the checkpoint's
    /// generation_config.json "alignment_heads", else every head of the upper
    /// half of the decoder layers.
    std::optional<std::vector<std::pair<int64_t, int64_t>>> alignmentHeads;
    int64_t kvCacheLength = 224;
};

struct ConvertResult {
    platform::ml::WhisperDimensions dimensions;
    modelgen::GeneratedModels models;
    std::filesystem::path tokenizerFolder; // empty when the checkpoint has no tokenizer documents
};

/// Throws std::runtime_error naming the file at fault.
ConvertResult convertCheckpoint(const std::filesystem::path& checkpoint,
                                const std::filesystem::path& output,
                                const ConvertOptions& options = {});

/// The checkpoint's tensor name for one of our weights (without the optional
/// leading "model."); empty for the mel filter bank, which is computed.
std::string checkpointTensorName(platform::ml::WhisperStage stage, const std::string& weight);

/// The sizes a checkpoint's config.json describes.
platform::ml::WhisperDimensions readCheckpointDimensions(const std::filesystem::path& configFile);

} // namespace convert
