// zv-demo-install: installs a demonstration model where the application looks
// for its model, so the whole transcription road can run without the model
// server. The weights are seeded random numbers: the road is real, the words
// it prints are not.
//   zv-demo-install --base DIR [--preset tiny|base|...]

#include "fixtures/tokenizer/WhisperTokenizerFolder.h"
#include "model_gen/ModelGenerator.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>

int main(int argc, char** argv) {
    std::filesystem::path base;
    std::string preset = "tiny";
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string arg = argv[i];
        if (arg == "--base")
            base = argv[i + 1];
        else if (arg == "--preset")
            preset = argv[i + 1];
    }
    if (base.empty()) {
        std::fprintf(stderr, "usage: zv-demo-install --base DIR [--preset tiny|base|small|...]\n");
        return 2;
    }
    auto dimensions = modelgen::presetDimensions(preset);
    if (!dimensions) {
        std::fprintf(stderr, "zv-demo-install: unknown preset %s\n", preset.c_str());
        return 2;
    }
    try {
        const auto model = base / "corvanemodel" / "openai_whisper-large-v3-v20240930_turbo_632MB";
        modelgen::GeneratorOptions options;
        options.dimensions = *dimensions;
        options.seed = 1;
        modelgen::generateWhisperModels(model, options);
        zv::testing::WhisperTokenizerOptions tokenizer;
        tokenizer.largeV3 = dimensions->nVocab == 51866;
        zv::testing::writeWhisperTokenizerFolder(base / "corvanetok", tokenizer);
        std::printf("%s\n", model.c_str());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "zv-demo-install: %s\n", error.what());
        return 1;
    }
    return 0;
}
