#pragma once
// The project's small trained Russian speech model for tests: the model
// folder that the build converts from tests/fixtures/speech/checkpoint (CMake
// target "speech_model"), its tokenizer folder, and the held-back recordings
// with the sentences spoken in them. The model never heard these sentences
// in training.
//
// Test programs get ZV_SOURCE_DIR and ZV_BINARY_DIR from zv_tests(); add
// `add_dependencies(<tests> speech_model)` so the model is converted first.
//
//   #include "support/SpeechModel.h"
//   auto model = zvtest::speechModelFolder();
//   for (const auto& r : zvtest::speechRecordings()) transcribe(r.path) == r.text ...

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace zvtest {

struct SpeechRecording {
    std::filesystem::path path; // 16 kHz mono 16-bit WAV
    std::string text;           // the sentences spoken, in order, separated by blanks
};

/// The converted model folder: "MelSpectrogram.mlmodelc", "AudioEncoder.mlmodelc"
/// and "TextDecoder.mlmodelc".
inline std::filesystem::path speechModelFolder() {
    return std::filesystem::path(ZV_BINARY_DIR) / "fixtures" / "speech" / "model";
}

/// tokenizer.json and tokenizer_config.json of the multilingual Whisper vocabulary.
inline std::filesystem::path speechTokenizerFolder() {
    return std::filesystem::path(ZV_SOURCE_DIR) / "tests" / "fixtures" / "speech" / "tokenizer";
}

inline std::filesystem::path speechRecordingsFolder() {
    return std::filesystem::path(ZV_SOURCE_DIR) / "tests" / "fixtures" / "speech" / "recordings";
}

/// Every held-back recording, in the order of texts.tsv ("file<TAB>text" lines).
inline std::vector<SpeechRecording> speechRecordings() {
    const std::filesystem::path folder = speechRecordingsFolder();
    std::ifstream in(folder / "texts.tsv");
    if (!in) throw std::runtime_error("cannot read " + (folder / "texts.tsv").string());
    std::vector<SpeechRecording> recordings;
    for (std::string line; std::getline(in, line);) {
        const size_t tab = line.find('\t');
        if (tab == std::string::npos) continue;
        recordings.push_back({folder / line.substr(0, tab), line.substr(tab + 1)});
    }
    return recordings;
}

} // namespace zvtest
