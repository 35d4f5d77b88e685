#include "murmex/core/TranscribeTask.h"

#include "murmex/base/WhisperError.h"
#include "murmex/support/FakeEngineStages.h"
#include "murmex/support/LogCapture.h"
#include "murmex/support/ScriptedTokenizer.h"
#include "platform/system/Cancellation.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <stop_token>

namespace murmex {
namespace {

using testing::countingSamples;
using testing::FakeAudioEncoder;
using testing::FakeAudioProcessor;
using testing::FakeFeatureExtractor;
using testing::FakeSegmentSeeker;
using testing::FakeTextDecoder;
using testing::ScriptedTokenizer;

constexpr int64_t k45s = 720000;

/// The stages of one task, all fakes, and the task over them.
struct Pipeline {
    std::shared_ptr<FakeAudioProcessor> audio = std::make_shared<FakeAudioProcessor>();
    std::shared_ptr<FakeFeatureExtractor> mel = std::make_shared<FakeFeatureExtractor>();
    std::shared_ptr<FakeAudioEncoder> encoder = std::make_shared<FakeAudioEncoder>();
    std::shared_ptr<FakeTextDecoder> decoder = std::make_shared<FakeTextDecoder>();
    std::shared_ptr<FakeSegmentSeeker> seeker = std::make_shared<FakeSegmentSeeker>();
    std::shared_ptr<ScriptedTokenizer> tokenizer = std::make_shared<ScriptedTokenizer>();
    std::shared_ptr<TranscribeTask> task;

    Pipeline() {
        decoder->setTokenizer(tokenizer);
        task = std::make_shared<TranscribeTask>(TranscriptionTimings(), nullptr, audio, encoder,
                                                mel, seeker, decoder, tokenizer);
    }

    /// (seek, segment size) of every window the seeker was asked about.
    std::vector<std::pair<int, int>> windows() {
        std::vector<std::pair<int, int>> out;
        for (const auto& call : seeker->callsSnapshot())
            out.emplace_back(call.seek, call.segmentSize);
        return out;
    }
};

using Windows = std::vector<std::pair<int, int>>;

TEST(TranscribeTaskLoop, WindowsFollowTheSeekerOverFortyFiveSeconds) {
    struct Case {
        const char* name;
        FakeSegmentSeeker::Script seeker;
        DecodingOptions options;
        Windows expected;
    };
    const std::vector<Case> cases = {
        {"seek to 25 s, then to the end",
         [](int seek, int size) {
             return std::pair{seek == 0 ? 400000 : seek + size,
                              std::optional{std::vector{FakeSegmentSeeker::segmentAt(seek, size)}}};
         },
         {},
         {{0, 480000}, {400000, 320000}}},
        {"a seek that reaches the clip bound ends the loop",
         [](int seek, int size) {
             return std::pair{seek == 0 ? 704000 : seek + size,
                              std::optional{std::vector{FakeSegmentSeeker::segmentAt(seek, size)}}};
         },
         {},
         {{0, 480000}}},
        {"maxWindowSeek caps every advance at ten seconds",
         {},
         {.maxWindowSeek = 160000},
         {{0, 480000}, {160000, 480000}, {320000, 400000}, {480000, 240000}, {640000, 80000}}},
        {"clip timestamps pick the stretches, each a clip of its own",
         {},
         {.clipTimestamps = {5, 10, 20}},
         {{80000, 80000}, {320000, 400000}}},
    };
    for (const auto& c : cases) {
        Pipeline p;
        p.seeker->script = c.seeker;
        int callbacks = 0;
        p.task->setSegmentDiscoveryCallback([&](const std::vector<TranscriptionSegment>& segments) {
            ++callbacks;
            EXPECT_EQ(segments.size(), 1u) << c.name;
        });
        auto result = p.task->run(countingSamples(k45s), c.options);
        EXPECT_EQ(p.windows(), c.expected) << c.name;
        EXPECT_EQ(callbacks, static_cast<int>(c.expected.size())) << c.name;
        EXPECT_EQ(result.segments().size(), c.expected.size()) << c.name;
        EXPECT_EQ(result.timings().totalDecodingWindows, static_cast<double>(c.expected.size()))
            << c.name;
        EXPECT_EQ(p.task->progress()->completedUnitCount(), p.task->progress()->totalUnitCount())
            << c.name;
        // Every window hands the audio stage exactly its own samples.
        auto calls = p.audio->calls;
        ASSERT_EQ(calls.size(), c.expected.size()) << c.name;
        for (size_t i = 0; i < calls.size(); ++i) {
            EXPECT_EQ(calls[i].sliceSize, c.expected[i].second) << c.name;
            EXPECT_EQ(calls[i].firstSample, static_cast<float>(c.expected[i].first)) << c.name;
            EXPECT_EQ(calls[i].toLength, 480000) << c.name;
        }
    }
}

TEST(TranscribeTaskLoop, ClipsOutsideTheSamplesNeverSliceOutOfRange) {
    struct Case {
        const char* name;
        std::vector<float> clips;
        Windows expected;
    };
    const std::vector<Case> cases = {
        {"clip entirely past the audio", {50, 60}, {}},
        {"clip that runs past the audio ends with it", {40, 100}, {{640000, 80000}}},
        {"negative start begins at the first sample", {-5, 3}, {{0, 48000}}},
        {"reversed clip is empty", {20, 10}, {}},
        {"not-a-number start counts as 0", {std::nanf(""), 3}, {{0, 48000}}},
        {"infinite end is the end of the audio",
         {40, std::numeric_limits<float>::infinity()},
         {{640000, 80000}}},
    };
    for (const auto& c : cases) {
        Pipeline p;
        auto result =
            p.task->run(countingSamples(k45s), DecodingOptions{.clipTimestamps = c.clips});
        EXPECT_EQ(p.windows(), c.expected) << c.name;
        for (const auto& call : p.audio->calls) {
            EXPECT_GE(call.firstSample, 0) << c.name;
            EXPECT_LT(call.lastSample, static_cast<float>(k45s)) << c.name;
        }
        EXPECT_EQ(p.task->progress()->completedUnitCount(), p.task->progress()->totalUnitCount())
            << c.name;
        EXPECT_LE(p.task->progress()->totalUnitCount(), k45s) << c.name;
    }
}

TEST(TranscribeTaskLoop, UnusableWindowClipTimesAreRejected) {
    for (float clip : {-1.0f, std::numeric_limits<float>::infinity(), std::nanf(""), 1e30f}) {
        Pipeline p;
        try {
            p.task->run(countingSamples(k45s), DecodingOptions{.windowClipTime = clip});
            ADD_FAILURE() << clip;
        } catch (const WhisperError& e) {
            EXPECT_EQ(e.kind(), WhisperError::Kind::transcriptionFailed) << clip;
        }
        EXPECT_TRUE(p.audio->calls.empty()) << clip;
    }
    // A clip time of 0 decodes up to the last sample.
    Pipeline p;
    p.task->run(countingSamples(16000), DecodingOptions{.windowClipTime = 0});
    EXPECT_EQ(p.windows(), (Windows{{0, 16000}}));
}

TEST(TranscribeTaskLoop, ShortAndEmptyAudioDecodeNothing) {
    for (int64_t count : {int64_t{0}, int64_t{16000}}) {
        Pipeline p;
        auto result = p.task->run(countingSamples(count));
        EXPECT_TRUE(p.windows().empty()) << count;
        EXPECT_EQ(result.text(), "") << count;
        EXPECT_EQ(result.language(), "en") << count;
        EXPECT_EQ(p.task->progress()->totalUnitCount(), count) << count;
        EXPECT_EQ(p.task->progress()->completedUnitCount(), count) << count;
    }
}

TEST(TranscribeTaskLoop, WindowsThatDoNotMoveTheSeekStillEnd) {
    struct Case {
        const char* name;
        FakeSegmentSeeker::Script seeker;
        DecodingOptions options;
    };
    auto stayPut = [](int seek, int size) {
        return std::pair{seek,
                         std::optional{std::vector{FakeSegmentSeeker::segmentAt(seek, size)}}};
    };
    auto goBack = [](int seek, int size) {
        return std::pair{seek - 1000,
                         std::optional{std::vector{FakeSegmentSeeker::segmentAt(seek, size)}}};
    };
    auto silentStay = [](int seek, int) {
        return std::pair{seek, std::optional<std::vector<TranscriptionSegment>>{}};
    };
    const std::vector<Case> cases = {
        {"seeker answers the current seek", stayPut, {}},
        {"seeker answers an earlier seek", goBack, {}},
        {"silent window answers the current seek", silentStay, {}},
        {"maxWindowSeek of 0", {}, {.maxWindowSeek = 0}},
        {"negative maxWindowSeek", {}, {.maxWindowSeek = -160000}},
    };
    for (const auto& c : cases) {
        Pipeline p;
        p.seeker->script = c.seeker;
        p.task->run(countingSamples(k45s), c.options);
        // Each stuck window goes on at its own end.
        EXPECT_EQ(p.windows(), (Windows{{0, 480000}, {480000, 240000}})) << c.name;
    }
}

TEST(TranscribeTaskLoop, EveryWindowAndRetryStartsFromThePrefilledCache) {
    Pipeline p;
    // The first window is silent (no segments); the second falls back once.
    p.seeker->script = [](int seek, int size) {
        if (seek == 0)
            return std::pair{seek + size, std::optional<std::vector<TranscriptionSegment>>{}};
        return std::pair{seek + size,
                         std::optional{std::vector{FakeSegmentSeeker::segmentAt(seek, size)}}};
    };
    p.decoder->script = [&](int64_t seek, float temperature) {
        DecodingResult result;
        if (seek > 0 && temperature == 0.0f)
            result.fallback = DecodingFallback{true, "logProbThreshold"};
        return result;
    };
    p.task->run(countingSamples(k45s));
    const auto tries = p.decoder->triesSnapshot();
    ASSERT_EQ(tries.size(), 3u);
    // The prefill of the small tokenizer's prompt leaves the cache at 0 (no
    // prefill model); the fake moves it on by 5 on every try.
    for (const auto& t : tries)
        EXPECT_EQ(t.cacheLengthAtStart, tries.front().cacheLengthAtStart);
    EXPECT_EQ(tries[1].seek, 480000);
    EXPECT_EQ(tries[2].seek, 480000);
}

TEST(TranscribeTaskFallback, TemperatureLadderIsHalfPrecision) {
    const auto ladder = TranscribeTask::temperatureLadder(DecodingOptions{});
    const std::vector<float> expected = {0.0f,        0.19995117f, 0.39990234f,
                                         0.59960938f, 0.79980469f, 1.0f};
    ASSERT_EQ(ladder.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(static_cast<float>(ladder[i]), expected[i]) << i;

    EXPECT_EQ(
        TranscribeTask::temperatureLadder(DecodingOptions{.temperatureFallbackCount = 0}).size(),
        1u);
    EXPECT_THROW(TranscribeTask::temperatureLadder(DecodingOptions{.temperatureFallbackCount = -1}),
                 WhisperError);
}

TEST(TranscribeTaskFallback, RetriesUntilAVerdictPassesOrTheLadderEnds) {
    struct Case {
        const char* name;
        DecodingOptions options;
        int failingTries; // tries (from the first) whose verdict asks for a fallback
        std::optional<DecodingFallback> passingVerdict;
        std::vector<float> temperatures;
        int fallbacks;
    };
    const std::vector<Case> cases = {
        {"every try falls back",
         {},
         99,
         std::nullopt,
         {0.0f, 0.19995117f, 0.39990234f, 0.59960938f, 0.79980469f, 1.0f},
         6},
        {"three fallbacks, the fourth try passes",
         {},
         3,
         std::nullopt,
         {0.0f, 0.19995117f, 0.39990234f, 0.59960938f},
         3},
        {"silence ends at once", {}, 0, DecodingFallback{false, "silence"}, {0.0f}, 0},
        {"no retries allowed", {.temperatureFallbackCount = 0}, 99, std::nullopt, {0.0f}, 1},
    };
    for (const auto& c : cases) {
        Pipeline p;
        testing::LogCapture log;
        int tryIndex = 0;
        p.decoder->script = [&](int64_t, float temperature) {
            DecodingResult result;
            result.text = "try " + std::to_string(tryIndex);
            result.fallback = tryIndex < c.failingTries
                                  ? std::optional{DecodingFallback{true, "logProbThreshold"}}
                                  : c.passingVerdict;
            ++tryIndex;
            return result;
        };
        p.seeker->script = [&](int seek, int size) {
            return std::pair{seek + size,
                             std::optional{std::vector{FakeSegmentSeeker::segmentAt(seek, size)}}};
        };
        auto result = p.task->run(countingSamples(100000), c.options);
        std::vector<float> temperatures;
        for (const auto& t : p.decoder->triesSnapshot())
            temperatures.push_back(t.temperature);
        EXPECT_EQ(temperatures, c.temperatures) << c.name;
        EXPECT_EQ(result.timings().totalDecodingFallbacks, c.fallbacks) << c.name;
        EXPECT_EQ(log.count("Fallback #"), c.fallbacks) << c.name;
        EXPECT_EQ(log.contains("Fallback #1 (logProbThreshold)"), c.fallbacks > 0) << c.name;
        EXPECT_EQ(p.seeker->callsSnapshot().size(), 1u) << c.name;
    }
}

TEST(TranscribeTaskFallback, FallbackNumbersStartAgainInEachWindow) {
    Pipeline p;
    testing::LogCapture log;
    std::map<int64_t, int> triesPerWindow;
    p.decoder->script = [&](int64_t seek, float) {
        DecodingResult result;
        if (triesPerWindow[seek]++ < 2)
            result.fallback = DecodingFallback{true, "compressionRatioThreshold"};
        return result;
    };
    auto result = p.task->run(countingSamples(k45s));
    EXPECT_EQ(result.timings().totalDecodingFallbacks, 4);
    EXPECT_EQ(log.count("Fallback #1 (compressionRatioThreshold)"), 2);
    EXPECT_EQ(log.count("Fallback #2 (compressionRatioThreshold)"), 2);
    EXPECT_EQ(log.count("Fallback #3"), 0);
}

TEST(TranscribeTaskFallback, LanguageIsDetectedOnEveryTryOfAMultilingualModel) {
    Pipeline p;
    p.decoder->detectedLanguage = "ru";
    p.decoder->script = [](int64_t, float temperature) {
        DecodingResult result;
        result.language = "en"; // the decoding result's own language does not override a detection
        if (temperature == 0.0f) result.fallback = DecodingFallback{true, "logProbThreshold"};
        return result;
    };
    auto result = p.task->run(countingSamples(100000),
                              DecodingOptions{.usePrefillPrompt = false, .detectLanguage = true});
    EXPECT_EQ(p.decoder->languageTemperatures, (std::vector<float>{0.0f, 0.19995117f}));
    for (const auto& t : p.decoder->triesSnapshot())
        EXPECT_EQ(t.language, std::optional<std::string>("ru"));
    EXPECT_EQ(result.language(), "ru");

    // A failed detection decodes without a language; the result's fills in.
    Pipeline failing;
    failing.decoder->script = [](int64_t, float) {
        DecodingResult result;
        result.language = "de";
        return result;
    };
    auto second =
        failing.task->run(countingSamples(100000),
                          DecodingOptions{.usePrefillPrompt = false, .detectLanguage = true});
    EXPECT_EQ(failing.decoder->triesSnapshot().at(0).language, std::nullopt);
    EXPECT_EQ(second.language(), "de");
}

TEST(TranscribeTaskCancellation, StopsAtEachCheckpoint) {
    enum class At { audio, mel, encoder };
    struct Case {
        const char* name;
        At at;
        int melCalls;
        int encoderCalls;
    };
    const std::vector<Case> cases = {
        {"after the audio stage", At::audio, 0, 0},
        {"after the mel stage", At::mel, 1, 0},
        {"just before decoding", At::encoder, 1, 1},
    };
    for (const auto& c : cases) {
        Pipeline p;
        std::stop_source source;
        auto stop = [&] { source.request_stop(); };
        if (c.at == At::audio) p.audio->onPadOrTrim = stop;
        if (c.at == At::mel) p.mel->onMel = stop;
        if (c.at == At::encoder) p.encoder->onEncode = stop;
        platform::system::CancellationScope scope(source.get_token());
        EXPECT_THROW(p.task->run(countingSamples(k45s)), platform::system::CancellationError)
            << c.name;
        EXPECT_EQ(p.mel->calls, c.melCalls) << c.name;
        EXPECT_EQ(p.encoder->calls, c.encoderCalls) << c.name;
        EXPECT_TRUE(p.decoder->triesSnapshot().empty()) << c.name;
    }
}

TEST(TranscribeTaskResult, TextKeepsOnlyTextTokensAndHooksSeeEveryWindow) {
    struct Hooked : TranscribeTask {
        using TranscribeTask::TranscribeTask;
        std::vector<int64_t> preprocessed;
        std::vector<TranscriptionSegment>
        windowPostProcess(int64_t seek, int64_t segmentSize,
                          std::vector<TranscriptionSegment> segments) override {
            for (auto& s : segments)
                s.text = "post" + std::to_string(seek);
            return segments;
        }
        void windowPreprocess(const AudioProcessorOutputType&, int64_t seek, int64_t) override {
            preprocessed.push_back(seek);
        }
    };
    Pipeline p;
    auto task = std::make_shared<Hooked>(TranscriptionTimings(), nullptr, p.audio, p.encoder, p.mel,
                                         p.seeker, p.decoder, p.tokenizer);
    p.seeker->script = [](int seek, int size) {
        auto segment = FakeSegmentSeeker::segmentAt(seek, size);
        // A timestamp, a text token, a marker: only the text reaches the result.
        segment.tokens = {ScriptedTokenizer::kTimeTokenBegin, seek == 0 ? 0 : 1, 11};
        return std::pair{seek + size, std::optional{std::vector{segment}}};
    };
    std::vector<std::string> seen;
    task->setSegmentDiscoveryCallback([&](const std::vector<TranscriptionSegment>& segments) {
        for (const auto& s : segments)
            seen.push_back(s.text);
    });
    std::vector<int> windowIds;
    auto result =
        task->run(countingSamples(k45s), std::nullopt, [&](const TranscriptionProgress& progress) {
            windowIds.push_back(progress.windowId);
            return std::optional<bool>(false); // asking to stop never ends the run
        });
    EXPECT_EQ(result.text(), "hello world");
    EXPECT_EQ(seen, (std::vector<std::string>{"post0", "post480000"}));
    EXPECT_EQ(task->preprocessed, (std::vector<int64_t>{0, 480000}));
    EXPECT_EQ(windowIds, (std::vector<int>{0, 1}));
    EXPECT_EQ(result.segments().at(0).tokens.size(), 3u);

    // A second run adds to the first run's counts and keeps its start time.
    const double firstStart = result.timings().pipelineStart;
    auto again = task->run(countingSamples(k45s));
    EXPECT_EQ(again.timings().totalDecodingWindows, 4);
    EXPECT_EQ(again.timings().pipelineStart, firstStart);

    // Window ids follow a timing record handed in between runs.
    TranscriptionTimings carried;
    carried.totalDecodingWindows = 10;
    carried.totalDecodingFallbacks = 3;
    task->setTimings(carried);
    windowIds.clear();
    task->run(countingSamples(100000), std::nullopt, [&](const TranscriptionProgress& progress) {
        windowIds.push_back(progress.windowId);
        return std::optional<bool>();
    });
    EXPECT_EQ(windowIds, (std::vector<int>{7}));
}

TEST(TranscribeTaskResult, AnAbsentAudioProcessorIsTheDefaultOne) {
    Pipeline p;
    // The default processor hands the feature extractor a multi-array; the
    // fake encoder would not understand it, so stop at the mel stage.
    auto task =
        std::make_shared<TranscribeTask>(TranscriptionTimings(), nullptr, nullptr, p.encoder, p.mel,
                                         p.seeker, p.decoder, p.tokenizer);
    p.mel->onMel = [] { throw std::runtime_error("stop here"); };
    EXPECT_THROW(task->run(countingSamples(k45s)), std::runtime_error);
    EXPECT_TRUE(task->progress());
}

} // namespace
} // namespace murmex
