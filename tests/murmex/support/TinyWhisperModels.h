#pragma once
// Tiny seeded Whisper model folders for stage tests, generated once per test
// program into a temporary folder that is removed when the program ends.

#include "model_gen/ModelGenerator.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace murmex::testing {

/// The mel-spectrogram, audio-encoder and text-decoder folders of
/// modelgen::tinyTestDimensions() (a 30-second window of 480,000 samples, 80
/// mels, 1500 encoder positions of width 16).
inline const modelgen::GeneratedModels& tinyWhisperModels() {
    struct Folder {
        std::filesystem::path path;
        modelgen::GeneratedModels models;
        Folder() {
            std::string pattern =
                (std::filesystem::temp_directory_path() / "zv-tiny-whisper-XXXXXX").string();
            if (!mkdtemp(pattern.data()))
                throw std::runtime_error("cannot make a temporary folder");
            path = pattern;
            modelgen::GeneratorOptions options;
            options.dimensions = modelgen::tinyTestDimensions();
            options.seed = 7;
            models = modelgen::generateWhisperModels(path, options);
        }
        ~Folder() {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    };
    static const Folder folder;
    return folder.models;
}

} // namespace murmex::testing
