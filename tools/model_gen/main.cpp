// zv-model-gen: writes seeded random Whisper model folders.
//   zv-model-gen --out DIR [--preset tiny|base|small|medium|large-v3|large-v3-turbo|test]
//                [--seed N] [--float32] [--prefill]

#include "model_gen/ModelGenerator.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

int main(int argc, char** argv) {
    std::string out, preset = "test";
    modelgen::GeneratorOptions options;
    bool prefill = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto next = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "missing value after %s\n", arg.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        if (arg == "--out")
            out = next();
        else if (arg == "--preset")
            preset = next();
        else if (arg == "--seed")
            options.seed = std::stoull(next());
        else if (arg == "--float32")
            options.weightType = platform::ml::ElementType::float32;
        else if (arg == "--prefill")
            prefill = true;
        else {
            std::fprintf(stderr, "usage: zv-model-gen --out DIR [--preset NAME|test] [--seed N] "
                                 "[--float32] [--prefill]\n");
            return 2;
        }
    }
    if (out.empty()) {
        std::fprintf(stderr, "zv-model-gen: --out is required\n");
        return 2;
    }
    if (preset == "test") {
        options.dimensions = modelgen::tinyTestDimensions();
    } else if (auto dims = modelgen::presetDimensions(preset)) {
        options.dimensions = *dims;
    } else {
        std::fprintf(stderr, "zv-model-gen: unknown preset %s\n", preset.c_str());
        return 2;
    }
    if (prefill) options.prefill = platform::ml::WhisperPrefillSizes{};
    try {
        auto models = modelgen::generateWhisperModels(out, options);
        std::printf("%s\n%s\n%s\n", models.melSpectrogram.c_str(), models.audioEncoder.c_str(),
                    models.textDecoder.c_str());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "zv-model-gen: %s\n", error.what());
        return 1;
    }
    return 0;
}
