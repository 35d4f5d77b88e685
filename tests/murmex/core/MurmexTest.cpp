#include "murmex/core/Murmex.h"

#include "fixtures/tokenizer/WhisperTokenizerFolder.h"
#include "murmex/base/WhisperError.h"
#include "murmex/core/ModelUtilities.h"
#include "murmex/support/EngineFixture.h"
#include "murmex/support/FakeEngineStages.h"
#include "murmex/support/LogCapture.h"
#include "platform/system/Cancellation.h"

#include <condition_variable>
#include <cstdlib>
#include <gtest/gtest.h>
#include <thread>

namespace fs = std::filesystem;

namespace murmex {
namespace {

using tessary::ModelState;
using testing::countingSamples;
using testing::EngineFixture;
using testing::FakeAudioEncoder;
using testing::FakeAudioProcessor;
using testing::FakeFeatureExtractor;
using testing::FakeSegmentSeeker;
using testing::FakeTextDecoder;
using testing::TempFolder;

/// Records every model-state change of an engine.
struct StateLog {
    std::mutex mutex;
    std::vector<ModelState> states;
    void attach(Murmex& engine) {
        engine.modelStateCallback = [this](std::optional<ModelState>, ModelState state) {
            std::lock_guard lock(mutex);
            states.push_back(state);
        };
    }
    std::vector<ModelState> take() {
        std::lock_guard lock(mutex);
        return std::exchange(states, {});
    }
};

zv::testing::WhisperTokenizerOptions largeV3Options() {
    zv::testing::WhisperTokenizerOptions options;
    options.largeV3 = true;
    return options;
}

zv::testing::WhisperTokenizerOptions englishOptions() {
    zv::testing::WhisperTokenizerOptions options;
    options.multilingual = false;
    return options;
}

std::string errorMessage(const std::function<void()>& action) {
    try {
        action();
    } catch (const WhisperError& e) {
        return e.message();
    }
    return "(no error)";
}

TEST(MurmexConfigTest, DefaultsAskTheEngineForItsOwn) {
    MurmexConfig config;
    EXPECT_FALSE(config.model);
    EXPECT_FALSE(config.modelRepo);
    EXPECT_FALSE(config.computeOptions);
    EXPECT_FALSE(config.audioInputConfig);
    EXPECT_FALSE(config.textDecoder);
    EXPECT_FALSE(config.logitsFilters);
    EXPECT_FALSE(config.prewarm);
    EXPECT_FALSE(config.load);
    EXPECT_TRUE(config.verbose);
    EXPECT_EQ(config.logLevel, tessary::Logging::LogLevel::info);

    MurmexConfig given{.modelFolder = "/m",
                       .logitsFilters = std::vector<std::shared_ptr<LogitsFiltering>>{},
                       .verbose = false,
                       .download = false};
    EXPECT_EQ(given.modelFolder, "/m");
    EXPECT_TRUE(given.logitsFilters && given.logitsFilters->empty());
    EXPECT_FALSE(given.download);
}

TEST(ModelUtilitiesVariants, DetectVariantFollowsTheSizeTable) {
    struct Case {
        int logits, width;
        ModelVariant expected;
    };
    const std::vector<Case> cases = {
        {51864, 384, ModelVariant::tinyEn},   {51864, 512, ModelVariant::baseEn},
        {51864, 768, ModelVariant::smallEn},  {51864, 1024, ModelVariant::mediumEn},
        {51864, 640, ModelVariant::baseEn},   {51864, 1280, ModelVariant::baseEn},
        {51865, 384, ModelVariant::tiny},     {51865, 512, ModelVariant::base},
        {51865, 768, ModelVariant::small},    {51865, 1024, ModelVariant::medium},
        {51865, 1280, ModelVariant::largev2}, {51865, 16, ModelVariant::base},
        {51866, 1280, ModelVariant::largev3}, {51866, 384, ModelVariant::largev3},
        {1000, 384, ModelVariant::base},
    };
    testing::LogCapture log;
    for (const auto& c : cases) {
        EXPECT_EQ(ModelUtilities::detectVariant(c.logits, c.width), c.expected)
            << c.logits << " " << c.width;
    }
    EXPECT_EQ(log.count("Unrecognized vocabulary size: 1000, defaulting to base variant"), 1);
    EXPECT_EQ(ModelUtilities::tokenizerNameForVariant(ModelVariant::largev3),
              "openai/whisper-large-v3");
    EXPECT_EQ(ModelUtilities::tokenizerNameForVariant(ModelVariant::tinyEn),
              "openai/whisper-tiny.en");
}

TEST(ModelUtilitiesCatalogue, FormatModelFilesFiltersDeduplicatesAndOrders) {
    using Names = std::vector<std::string>;
    const std::vector<std::pair<Names, Names>> cases = {
        {{"openai_whisper-tiny/AudioEncoder.mlmodelc", "openai_whisper-tiny/TextDecoder.mlmodelc",
          "openai_whisper-large-v3_947MB/AudioEncoder.mlmodelc"},
         {"openai_whisper-tiny", "openai_whisper-large-v3_947MB"}},
        {{"openai_whisper-small_216MB/x", "openai_whisper-small.en/x", "openai_whisper-small/x"},
         {"openai_whisper-small", "openai_whisper-small.en"}},
        {{"openai_whisper-large-v3-v20240930_626MB", "openai_whisper-base.en",
          "openai_whisper-base", "openai_whisper-tiny.en", "openai_whisper-tiny",
          "openai_whisper-medium"},
         {"openai_whisper-tiny", "openai_whisper-tiny.en", "openai_whisper-base",
          "openai_whisper-base.en", "openai_whisper-medium",
          "openai_whisper-large-v3-v20240930_626MB"}},
        {{"README.md", "config.json", "distil-whisper_distil-large-v3"},
         {"distil-whisper_distil-large-v3"}},
        {{}, {}},
    };
    for (const auto& [input, expected] : cases) {
        EXPECT_EQ(ModelUtilities::formatModelFiles(input), expected);
        EXPECT_EQ(Murmex::formatModelFiles(input), expected);
    }
}

TEST(ModelUtilitiesTokenizer, SearchesHubFolderThenTokenizerFolderThenExtraPaths) {
    TempFolder temp;
    const fs::path t = temp.path / "T", m = temp.path / "M";
    const fs::path hubT = t / "models" / "openai" / "whisper-large-v3";
    const fs::path hubM = m / "models" / "openai" / "whisper-large-v3";
    const std::vector<fs::path> candidates = {hubT, t, m, hubM};

    for (size_t hit = 0; hit < candidates.size(); ++hit) {
        fs::remove_all(temp.path);
        fs::create_directories(temp.path);
        zv::testing::writeWhisperTokenizerFolder(candidates[hit], largeV3Options());
        testing::LogCapture log;
        auto tokenizer = ModelUtilities::loadTokenizer(ModelVariant::largev3, t, {m, hubM});
        ASSERT_TRUE(tokenizer) << hit;
        std::vector<std::string> checks;
        for (const auto& line : log.lines()) {
            if (line.rfind("Checking for local tokenizer at ", 0) == 0) checks.push_back(line);
        }
        ASSERT_EQ(checks.size(), hit + 1);
        for (size_t i = 0; i <= hit; ++i) {
            EXPECT_EQ(checks[i], "Checking for local tokenizer at " +
                                     (candidates[i] / "tokenizer.json").string() +
                                     (i == hit ? " - found" : " - not found"));
        }
        EXPECT_TRUE(log.contains("Found local tokenizer at " + candidates[hit].string()));
        EXPECT_EQ(tokenizer->specialTokens().endToken, 50257);
        EXPECT_EQ(tokenizer->specialTokens().transcribeToken, 50360); // large-v3 layout
    }
}

TEST(MurmexLoading, MissingFolderOrModelFileFailsAfterTheStateChange) {
    // No folder at all.
    auto bare = Murmex::create(MurmexConfig{.verbose = false, .download = false});
    EXPECT_EQ(bare->modelState(), ModelState::unloaded);
    StateLog states;
    states.attach(*bare);
    EXPECT_EQ(errorMessage([&] { bare->loadModels(); }), "Model folder is not set.");
    EXPECT_EQ(bare->modelState(), ModelState::loading);
    EXPECT_EQ(errorMessage([&] { bare->prewarmModels(); }), "Model folder is not set.");
    EXPECT_EQ(states.take(), (std::vector{ModelState::loading, ModelState::prewarming}));
    EXPECT_EQ(errorMessage([] {
                  Murmex::create(
                      MurmexConfig{.verbose = false, .prewarm = true, .download = false});
              }),
              "Model folder is not set.");

    // Each required model missing in turn names the compiled-model path.
    for (const char* missing : {"MelSpectrogram", "AudioEncoder", "TextDecoder"}) {
        EngineFixture f;
        const fs::path gone = f.models / (std::string(missing) + ".mlmodelc");
        fs::remove_all(gone);
        auto engine = Murmex::create(f.config());
        EXPECT_EQ(errorMessage([&] { engine->loadModels(); }),
                  "Model file not found at " + gone.string())
            << missing;
        EXPECT_EQ(engine->modelState(), ModelState::loading);
        EXPECT_FALSE(engine->tokenizer());
    }
}

TEST(MurmexLoading, StatesMoveThroughLoadUnloadAndPrewarm) {
    EngineFixture f;
    auto engine = Murmex::create(f.config(std::nullopt)); // a given folder loads by default
    EXPECT_EQ(engine->modelState(), ModelState::loaded);
    ASSERT_TRUE(engine->tokenizer());
    EXPECT_EQ(f.decoder->tokenizer(), engine->tokenizer());
    EXPECT_EQ(engine->modelVariant(), ModelVariant::tiny); // 51865 and 384
    EXPECT_EQ(engine->modelFolder(), f.models);
    const double tokenizerLoadTime = engine->currentTimings().tokenizerLoadTime;

    StateLog states;
    states.attach(*engine);
    engine->unloadModels();
    engine->loadModels();
    engine->prewarmModels();
    engine->setModelState(engine->modelState());
    EXPECT_EQ(states.take(),
              (std::vector{ModelState::unloading, ModelState::unloaded, ModelState::loading,
                           ModelState::loaded, ModelState::prewarming, ModelState::prewarmed,
                           ModelState::prewarmed}));
    EXPECT_EQ(engine->currentTimings().tokenizerLoadTime, tokenizerLoadTime); // not loaded again

    engine->setTokenizer(nullptr);
    EXPECT_FALSE(f.decoder->tokenizer());

    auto unloaded = Murmex::create(f.config(false));
    EXPECT_EQ(unloaded->modelState(), ModelState::unloaded);
    EXPECT_FALSE(unloaded->tokenizer());
}

TEST(MurmexLoading, TokenizerNeedsModelSizesAndIsFoundBesideTheModels) {
    EngineFixture f;
    f.decoder->logits = std::nullopt;
    auto engine = Murmex::create(f.config());
    EXPECT_EQ(errorMessage([&] { engine->loadModels(); }), "Tokenizer is unavailable");
    EXPECT_EQ(engine->modelState(), ModelState::loading);
    EXPECT_EQ(errorMessage([&] { engine->transcribeAudioArray(countingSamples(100000)); }),
              "Tokenizer is unavailable");

    // A large-v3 model whose tokenizer sits in the hub layout under the model
    // folder, the tokenizer folder holding nothing.
    EngineFixture v3;
    fs::remove_all(v3.tokenizerFolder);
    v3.decoder->logits = 51866;
    v3.encoder->width = 1280;
    zv::testing::writeWhisperTokenizerFolder(v3.models / "models" / "openai" / "whisper-large-v3",
                                             largeV3Options());
    auto large = Murmex::create(v3.config(true));
    EXPECT_EQ(large->modelVariant(), ModelVariant::largev3);
    EXPECT_TRUE(v3.decoder->isModelMultilingual());
    ASSERT_TRUE(large->tokenizer());

    EngineFixture english;
    english.decoder->logits = 51864;
    english.encoder->width = 640;
    zv::testing::writeWhisperTokenizerFolder(english.tokenizerFolder, englishOptions());
    auto en = Murmex::create(english.config(true));
    EXPECT_EQ(en->modelVariant(), ModelVariant::baseEn);
    EXPECT_FALSE(english.decoder->isModelMultilingual());
}

TEST(MurmexTranscription, LoadsWhenNeededAndCallsTheCallersSegmentCallback) {
    EngineFixture f;
    auto engine = Murmex::create(f.config());
    StateLog states;
    states.attach(*engine);
    int engineCalls = 0, callerCalls = 0;
    engine->segmentDiscoveryCallback = [&](const std::vector<TranscriptionSegment>&) {
        ++engineCalls;
    };

    const auto parent = engine->progress();
    auto results = engine->transcribeAudioArray(countingSamples(720000));
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(states.take(), (std::vector{ModelState::loading, ModelState::loaded}));
    EXPECT_EQ(engineCalls, 2);             // two windows
    EXPECT_NE(engine->progress(), parent); // a finished parent is replaced
    EXPECT_TRUE(parent->isFinished());
    EXPECT_EQ(engine->progress()->totalUnitCount(), 0);

    engine->transcribeAudioArray(countingSamples(720000), std::nullopt, {},
                                 [&](const std::vector<TranscriptionSegment>&) { ++callerCalls; });
    EXPECT_EQ(callerCalls, 2);
    EXPECT_EQ(engineCalls, 2);
    EXPECT_TRUE(states.take().empty()); // already loaded
}

TEST(MurmexTranscription, FileEntryReportsStatesAndPassesLoadFailuresOn) {
    EngineFixture f;
    auto engine = Murmex::create(f.config(true));
    std::vector<TranscriptionState> reported;
    engine->transcriptionStateCallback = [&](TranscriptionState state) {
        reported.push_back(state);
    };
    EXPECT_ANY_THROW(engine->transcribeAudioPath((f.temp.path / "missing.wav").string()));
    EXPECT_EQ(reported, (std::vector{TranscriptionState::convertingAudio}));
    EXPECT_GE(engine->currentTimings().audioLoading, 0.0);
}

TEST(MurmexTranscription, CancelledRunsReplaceTheProgress) {
    EngineFixture f;
    auto engine = Murmex::create(f.config(true));
    const auto parent = engine->progress();
    std::stop_source source;
    f.mel->onMel = [&] { source.request_stop(); };
    platform::system::CancellationScope scope(source.get_token());
    EXPECT_THROW(engine->transcribeAudioArray(countingSamples(100000)),
                 platform::system::CancellationError);
    EXPECT_NE(engine->progress(), parent);
    const auto second = engine->progress();
    EXPECT_THROW(engine->transcribeAudioArray(countingSamples(100000)),
                 platform::system::CancellationError);
    EXPECT_NE(engine->progress(), second); // cancelled before the run
    EXPECT_TRUE(f.decoder->triesSnapshot().empty());
}

TEST(MurmexConcurrency, ConcurrentRunsLoadOnceAndReturnTheirOwnResults) {
    EngineFixture f;
    auto engine = Murmex::create(f.config());
    StateLog states;
    states.attach(*engine);
    constexpr int kRuns = 6;
    std::vector<std::thread> threads;
    std::vector<size_t> segmentCounts(kRuns);
    for (int i = 0; i < kRuns; ++i) {
        threads.emplace_back([&, i] {
            // Run i covers i + 1 windows of 30 s.
            auto results = engine->transcribeAudioArray(countingSamples(480000 * (i + 1)));
            segmentCounts[i] = results.at(0).segments().size();
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(states.take(), (std::vector{ModelState::loading, ModelState::loaded}));
    for (int i = 0; i < kRuns; ++i)
        EXPECT_EQ(segmentCounts[i], static_cast<size_t>(i + 1)) << i;
    EXPECT_EQ(engine->progress()->totalUnitCount(), 0); // all finished: a fresh parent
}

TEST(MurmexConcurrency, ParentProgressFinishesOnlyWithTheLastRun) {
    EngineFixture f;
    auto engine = Murmex::create(f.config(true));
    std::mutex mutex;
    std::condition_variable changed;
    bool held = false, released = false;
    bool first = true;
    f.decoder->onDecode = [&](int64_t) {
        std::unique_lock lock(mutex);
        if (!first) return;
        first = false;
        held = true;
        changed.notify_all();
        changed.wait(lock, [&] { return released; });
    };

    std::thread slow([&] { engine->transcribeAudioArray(countingSamples(100000)); });
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return held; });
    }
    const auto parent = engine->progress();
    engine->transcribeAudioArray(countingSamples(100000)); // finishes while the slow run waits

    EXPECT_EQ(engine->progress(), parent);
    EXPECT_FALSE(parent->isFinished());
    EXPECT_EQ(parent->totalUnitCount(), 2);
    EXPECT_LE(parent->fractionCompleted(), 1.0);
    EXPECT_GE(parent->completedUnitCount(), 1);
    {
        std::lock_guard lock(mutex);
        released = true;
    }
    changed.notify_all();
    slow.join();
    EXPECT_TRUE(parent->isFinished());
    EXPECT_NE(engine->progress(), parent);
}

} // namespace
} // namespace murmex
