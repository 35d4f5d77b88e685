#include "model_gen/ModelGenerator.h"

#include "model_gen/MelFilterBank.h"
#include "platform/ml/ModelFolderWriter.h"

#include <cmath>
#include <stdexcept>

namespace modelgen {

using platform::ml::ElementType;
using platform::ml::ModelFolderWriter;
using platform::ml::WeightEntry;
using platform::ml::WhisperDimensions;
using platform::ml::WhisperLayout;
using platform::ml::WhisperStage;

namespace {

uint64_t splitMix(uint64_t& state) {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

uint64_t hashName(std::string_view text) {
    uint64_t hash = 1469598103934665603ull; // FNV-1a
    for (char c : text)
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    return hash;
}

bool endsWith(const std::string& text, std::string_view suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Uniform values in [-limit, limit].
void fillUniform(std::span<float> values, float limit, float offset, uint64_t state) {
    for (float& v : values) {
        double unit = static_cast<double>(splitMix(state) >> 11) * 0x1.0p-53; // [0, 1)
        v = offset + limit * static_cast<float>(2.0 * unit - 1.0);
    }
}

} // namespace

std::vector<float> sinusoids(int64_t length, int64_t width) {
    const int64_t half = width / 2;
    const double increment =
        std::log(10000.0) / static_cast<double>(std::max<int64_t>(half - 1, 1));
    std::vector<float> table(static_cast<size_t>(length * width));
    for (int64_t t = 0; t < length; ++t) {
        for (int64_t i = 0; i < half; ++i) {
            double scaled = static_cast<double>(t) * std::exp(-increment * static_cast<double>(i));
            table[static_cast<size_t>(t * width + i)] = static_cast<float>(std::sin(scaled));
            table[static_cast<size_t>(t * width + half + i)] = static_cast<float>(std::cos(scaled));
        }
    }
    return table;
}

void fillWeight(WhisperStage stage, const WeightEntry& entry, std::span<float> values,
                uint64_t seed) {
    const std::string& name = entry.name;
    uint64_t state = seed ^ hashName(std::string(WhisperLayout::kindName(stage)) + "/" + name);
    if (name == "mel_filters") {
        std::vector<float> bank = melFilterBank(entry.shape[0]);
        std::copy(bank.begin(), bank.end(), values.begin());
        return;
    }
    if (stage == WhisperStage::audioEncoder && name == "positional_embedding") {
        std::vector<float> table = sinusoids(entry.shape[0], entry.shape[1]);
        std::copy(table.begin(), table.end(), values.begin());
        return;
    }
    if (entry.shape.size() == 1) {
        bool norm = endsWith(name, "_ln.weight") || name == "ln_post.weight" || name == "ln.weight";
        if (norm) {
            fillUniform(values, 0.1f, 1.0f, state);
        } else {
            fillUniform(values, 0.05f, 0.0f, state);
        }
        return;
    }
    if (name == "token_embedding") return fillUniform(values, 0.1f, 0.0f, state);
    if (name == "positional_embedding") return fillUniform(values, 0.02f, 0.0f, state);
    if (name == "key_cache_prefill" || name == "value_cache_prefill")
        return fillUniform(values, 1.0f, 0.0f, state);
    // Matrices and convolution kernels: variance 1/fan-in, halved on the
    // projections that feed the residual stream.
    int64_t fanIn = 1;
    for (size_t i = 1; i < entry.shape.size(); ++i)
        fanIn *= entry.shape[i];
    float limit = std::sqrt(3.0f / static_cast<float>(fanIn));
    if (endsWith(name, ".out.weight") || endsWith(name, ".fc2.weight")) limit *= 0.5f;
    fillUniform(values, limit, 0.0f, state);
}

std::map<std::string, std::vector<float>> weightValues(WhisperStage stage,
                                                       const GeneratorOptions& options) {
    std::map<std::string, std::vector<float>> values;
    const auto prefill = options.prefill.value_or(platform::ml::WhisperPrefillSizes{});
    for (auto& [name, shape] : WhisperLayout::weights(stage, options.dimensions, prefill)) {
        WeightEntry entry;
        entry.name = name;
        entry.shape = shape;
        std::vector<float> tensor(static_cast<size_t>(entry.count()));
        fillWeight(stage, entry, tensor, options.seed);
        values[name] = std::move(tensor);
    }
    return values;
}

GeneratedModels generateWhisperModels(const std::filesystem::path& folder,
                                      const GeneratorOptions& options) {
    std::filesystem::create_directories(folder);
    GeneratedModels result;
    auto write = [&](WhisperStage stage, const platform::ml::WhisperPrefillSizes& prefill) {
        auto manifest =
            WhisperLayout::manifest(stage, options.dimensions, options.weightType, prefill);
        std::filesystem::path target =
            folder / (std::string(WhisperLayout::kindName(stage)) + ".mlmodelc");
        ModelFolderWriter::write(target, std::move(manifest),
                                 [&](const WeightEntry& entry, std::span<float> values) {
                                     fillWeight(stage, entry, values, options.seed);
                                 });
        return target;
    };
    if (options.melSpectrogram) result.melSpectrogram = write(WhisperStage::melSpectrogram, {});
    if (options.audioEncoder) result.audioEncoder = write(WhisperStage::audioEncoder, {});
    if (options.textDecoder) result.textDecoder = write(WhisperStage::textDecoder, {});
    if (options.prefill) {
        result.textDecoderContextPrefill =
            write(WhisperStage::textDecoderContextPrefill, *options.prefill);
    }
    return result;
}

WhisperDimensions tinyTestDimensions() {
    WhisperDimensions dims;
    dims.nMels = 80;
    dims.nAudioState = 16;
    dims.nAudioHead = 2;
    dims.nAudioLayer = 2;
    dims.nTextState = 16;
    dims.nTextHead = 2;
    dims.nTextLayer = 2;
    dims.nVocab = 51865;
    dims.alignmentHeads = {{1, 0}};
    return dims;
}

std::optional<WhisperDimensions> presetDimensions(const std::string& name) {
    struct Preset {
        const char* name;
        int64_t mels, width, heads, encoderLayers, decoderLayers, vocabulary;
    };
    static const Preset presets[] = {
        {"tiny", 80, 384, 6, 4, 4, 51865},          {"base", 80, 512, 8, 6, 6, 51865},
        {"small", 80, 768, 12, 12, 12, 51865},      {"medium", 80, 1024, 16, 24, 24, 51865},
        {"large-v3", 128, 1280, 20, 32, 32, 51866}, {"large-v3-turbo", 128, 1280, 20, 32, 4, 51866},
    };
    for (const Preset& preset : presets) {
        if (name != preset.name) continue;
        WhisperDimensions dims;
        dims.nMels = preset.mels;
        dims.nAudioState = dims.nTextState = preset.width;
        dims.nAudioHead = dims.nTextHead = preset.heads;
        dims.nAudioLayer = preset.encoderLayers;
        dims.nTextLayer = preset.decoderLayers;
        dims.nVocab = preset.vocabulary;
        // Every head of the upper half of the decoder layers.
        for (int64_t layer = preset.decoderLayers / 2; layer < preset.decoderLayers; ++layer) {
            for (int64_t head = 0; head < preset.heads; ++head)
                dims.alignmentHeads.emplace_back(layer, head);
        }
        return dims;
    }
    return std::nullopt;
}

} // namespace modelgen
