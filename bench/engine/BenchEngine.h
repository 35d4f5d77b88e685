#pragma once
// What the whole-engine benchmark programs share: a generated model of a
// published size (made once into a work folder and reused), the Whisper
// tokenizer folder beside it, synthetic recordings written as 16 kHz WAV
// files, and the process's peak memory.

#include "fixtures/tokenizer/WhisperTokenizerFolder.h"
#include "model_gen/ModelGenerator.h"
#include "murmex/core/MurmexConfig.h"
#include "murmex/records/TranscriptionResult.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace zvbench {

namespace fs = std::filesystem;

/// An engine configuration over the generated `preset` model in `work`,
/// generating the model first when it is not there yet.
inline murmex::MurmexConfig generatedModel(const std::string& preset, const fs::path& work) {
    const fs::path models = work / preset / "models";
    const fs::path tokenizer = work / preset / "tokenizer";
    if (!fs::exists(models / "TextDecoder.mlmodelc")) {
        std::fprintf(stderr, "generating the %s model into %s\n", preset.c_str(), models.c_str());
        modelgen::GeneratorOptions options;
        const auto dimensions = modelgen::presetDimensions(preset);
        if (!dimensions) throw std::runtime_error("no model preset " + preset);
        options.dimensions = *dimensions;
        modelgen::generateWhisperModels(models, options);
    }
    zv::testing::WhisperTokenizerOptions tokenizerOptions;
    tokenizerOptions.largeV3 = preset.rfind("large-v3", 0) == 0;
    zv::testing::writeWhisperTokenizerFolder(tokenizer, tokenizerOptions);
    murmex::MurmexConfig config;
    config.modelFolder = models.string();
    config.tokenizerFolder = tokenizer.string();
    config.logLevel = tessary::Logging::LogLevel::error;
    config.load = true;
    config.download = false;
    return config;
}

/// Writes 16 kHz mono samples as 16-bit PCM WAV.
inline void writeWav(const fs::path& path, const std::vector<float>& samples) {
    auto put = [](std::ofstream& out, uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out.put(char((value >> (8 * i)) & 0xff));
    };
    std::ofstream out(path, std::ios::binary);
    const auto size = uint32_t(samples.size() * 2);
    out.write("RIFF", 4);
    put(out, 36 + size, 4);
    out.write("WAVEfmt ", 8);
    for (auto [value, bytes] :
         {std::pair{16u, 4}, {1u, 2}, {1u, 2}, {16000u, 4}, {32000u, 4}, {2u, 2}, {16u, 2}}) {
        put(out, value, bytes);
    }
    out.write("data", 4);
    put(out, size, 4);
    for (float sample : samples) {
        const long value = std::lround(std::clamp(sample, -1.0f, 1.0f) * 32767.0f);
        put(out, uint32_t(int16_t(value)) & 0xffff, 2);
    }
}

/// `seconds` of "speech": a gliding tone under seeded noise, in phrases of a
/// few seconds; with `pauses`, each phrase is followed by a pause of half a
/// second to a second and a half.
inline std::vector<float> syntheticSpeech(double seconds, uint32_t seed, bool pauses) {
    std::vector<float> samples(size_t(seconds * 16000));
    uint32_t state = seed;
    auto next = [&] {
        state = state * 1664525u + 1013904223u;
        return double(state >> 8) / double(1 << 24);
    };
    size_t at = 0;
    while (at < samples.size()) {
        const auto phrase = size_t((3.0 + 3.0 * next()) * 16000);
        const double pitch = 150 + 100 * next();
        for (size_t i = 0; i < phrase && at < samples.size(); ++i, ++at) {
            const double t = double(at) / 16000;
            const double envelope = 0.6 + 0.4 * std::sin(2 * M_PI * 4 * t);
            samples[at] =
                float(envelope * 0.3 * std::sin(2 * M_PI * (pitch + 30 * std::sin(t)) * t) +
                      (next() - 0.5) * 0.05);
        }
        if (!pauses) continue;
        const auto pause = size_t((0.5 + next()) * 16000);
        for (size_t i = 0; i < pause && at < samples.size(); ++i, ++at)
            samples[at] = float((next() - 0.5) * 0.002);
    }
    return samples;
}

/// Peak resident memory of this process so far, in MB.
inline double peakMemoryMb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0;
}

/// Every segment's tokens, one line per segment, to compare two runs.
inline std::string tokenLines(const std::vector<murmex::TranscriptionResult>& results) {
    std::string lines;
    for (const auto& result : results) {
        for (const auto& segment : result.segments()) {
            for (int token : segment.tokens)
                lines += std::to_string(token) + ' ';
            lines += '\n';
        }
    }
    return lines;
}

} // namespace zvbench
