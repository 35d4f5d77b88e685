#pragma once
// Writes Whisper model folders of any size with seeded random weights:
// "MelSpectrogram.mlmodelc" (with the real mel filter bank),
// "AudioEncoder.mlmodelc", "TextDecoder.mlmodelc" and, when asked,
// "TextDecoderContextPrefill.mlmodelc". The same seed and sizes always give
// the same files. Weights are scaled so that activations stay in a sensible
// range through any number of layers.

#include "platform/ml/ElementType.h"
#include "platform/ml/whisper/WhisperDimensions.h"
#include "platform/ml/whisper/WhisperLayout.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace modelgen {

struct GeneratorOptions {
    platform::ml::WhisperDimensions dimensions;
    uint64_t seed = 1;
    platform::ml::ElementType weightType = platform::ml::ElementType::float16;
    bool melSpectrogram = true;
    bool audioEncoder = true;
    bool textDecoder = true;
    /// Also write the cache-prefill table (random values) when set.
    std::optional<platform::ml::WhisperPrefillSizes> prefill;
};

struct GeneratedModels {
    std::filesystem::path melSpectrogram;
    std::filesystem::path audioEncoder;
    std::filesystem::path textDecoder;
    std::filesystem::path textDecoderContextPrefill; // empty unless written
};

/// Writes the requested folders into `folder` (created if needed).
GeneratedModels generateWhisperModels(const std::filesystem::path& folder,
                                      const GeneratorOptions& options);

/// Small sizes that keep a whole transcription window cheap in tests:
/// 80 mels, width 16, 2 heads, 2+2 layers, a vocabulary of 51865 ids so that
/// real special-token ids fit, one alignment head, 224 cache positions.
platform::ml::WhisperDimensions tinyTestDimensions();

/// The published sizes: "tiny", "base", "small", "medium", "large-v3",
/// "large-v3-turbo".
std::optional<platform::ml::WhisperDimensions> presetDimensions(const std::string& name);

/// The values the generator writes for one weight of a stage.
void fillWeight(platform::ml::WhisperStage stage, const platform::ml::WeightEntry& entry,
                std::span<float> values, uint64_t seed);

/// Every weight of a stage as the generator writes it (before any rounding
/// to the stored element type), by weight name.
std::map<std::string, std::vector<float>> weightValues(platform::ml::WhisperStage stage,
                                                       const GeneratorOptions& options);

/// Whisper's fixed sinusoidal position table [length, width].
std::vector<float> sinusoids(int64_t length, int64_t width);

} // namespace modelgen
