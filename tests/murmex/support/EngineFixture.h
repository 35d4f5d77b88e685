#pragma once
// An engine over the fake stages: a model folder whose three required models
// exist (as empty folders; the fake stages load nothing) and a tokenizer
// folder beside it, both in a temporary folder removed with the fixture.

#include "fixtures/tokenizer/WhisperTokenizerFolder.h"
#include "murmex/core/MurmexConfig.h"
#include "murmex/support/FakeEngineStages.h"

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

namespace murmex::testing {

/// A temporary folder removed with the object.
struct TempFolder {
    std::filesystem::path path;
    TempFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "zv-murmex-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary folder");
        path = pattern;
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

/// A model folder whose three required models exist (as empty folders; the
/// fake stages do not load models) and a tokenizer folder beside it.
struct EngineFixture {
    TempFolder temp;
    std::filesystem::path models = temp.path / "models";
    std::filesystem::path tokenizerFolder = temp.path / "tok";
    std::shared_ptr<FakeAudioProcessor> audio = std::make_shared<FakeAudioProcessor>();
    std::shared_ptr<FakeFeatureExtractor> mel = std::make_shared<FakeFeatureExtractor>();
    std::shared_ptr<FakeAudioEncoder> encoder = std::make_shared<FakeAudioEncoder>();
    std::shared_ptr<FakeTextDecoder> decoder = std::make_shared<FakeTextDecoder>();
    std::shared_ptr<FakeSegmentSeeker> seeker = std::make_shared<FakeSegmentSeeker>();

    EngineFixture() {
        for (const char* name : {"MelSpectrogram", "AudioEncoder", "TextDecoder"}) {
            std::filesystem::create_directories(models / (std::string(name) + ".mlmodelc"));
        }
        zv::testing::writeWhisperTokenizerFolder(tokenizerFolder);
    }

    MurmexConfig config(std::optional<bool> load = false) const {
        return MurmexConfig{.modelFolder = models.string(),
                            .tokenizerFolder = tokenizerFolder.string(),
                            .audioProcessor = audio,
                            .featureExtractor = mel,
                            .audioEncoder = encoder,
                            .textDecoder = decoder,
                            .segmentSeeker = seeker,
                            .verbose = false,
                            .load = load,
                            .download = false};
    }
};

} // namespace murmex::testing
