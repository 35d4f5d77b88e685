#include "murmex/base/WhisperError.h"
#include "murmex/core/Murmex.h"
#include "murmex/core/audio/EnergyVAD.h"
#include "murmex/support/EngineFixture.h"
#include "murmex/support/LogCapture.h"
#include "platform/audio/AudioFixtures.h"
#include "platform/system/Cancellation.h"

#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <thread>

namespace murmex {
namespace {

using testing::EngineFixture;
using testing::FakeSegmentSeeker;
using Outcome = Murmex::TranscriptionOutcome;

/// Array k of a batch: samples whose first value is 1000 x k + 1, so that the
/// fake decoder (which reads the first sample as the window's seek) knows it.
std::vector<std::vector<float>> arrays(size_t count, size_t length = 48000) {
    std::vector<std::vector<float>> made;
    for (size_t k = 0; k < count; ++k)
        made.push_back(std::vector<float>(length, float(1000 * k + 1)));
    return made;
}
size_t arrayOf(int64_t seek) {
    return size_t((seek - 1) / 1000);
}

std::string failureText(const Outcome& outcome) {
    try {
        outcome.get();
    } catch (const std::exception& error) {
        return error.what();
    }
    return "(no error)";
}

/// Records when each array's decoding starts and ends, and how many run at once.
struct Timeline {
    std::mutex mutex;
    std::vector<std::pair<size_t, bool>> events; // array, started (else ended)
    int running = 0, mostAtOnce = 0;

    void attach(EngineFixture& f) {
        f.decoder->onDecode = [this](int64_t seek) {
            {
                std::lock_guard lock(mutex);
                events.emplace_back(arrayOf(seek), true);
                mostAtOnce = std::max(mostAtOnce, ++running);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            std::lock_guard lock(mutex);
            --running;
            events.emplace_back(arrayOf(seek), false);
        };
    }
};

TEST(MurmexBatch, CountMismatchesEmptyListsAndNegativeWorkerCounts) {
    EngineFixture f;
    auto engine = Murmex::create(f.config(true));
    EXPECT_TRUE(engine->transcribeWithResults(std::vector<std::vector<float>>{}).empty());

    auto mismatched = engine->transcribeWithOptions(arrays(2), {DecodingOptions{}, {}, {}});
    ASSERT_EQ(mismatched.size(), 1u);
    EXPECT_EQ(failureText(mismatched[0]),
              "The number of audio arrays and decoding options must be balanced.");
    auto offsets = engine->transcribeWithOptions(arrays(2), {{}, {}}, std::vector<int64_t>{0});
    ASSERT_EQ(offsets.size(), 1u);
    EXPECT_EQ(failureText(offsets[0]),
              "The number of audio arrays and seek offset indexes must be balanced.");

    // A negative worker count: one failure per array, nothing transcribed.
    auto negative =
        engine->transcribeWithResults(arrays(3), DecodingOptions{.concurrentWorkerCount = -2});
    ASSERT_EQ(negative.size(), 3u);
    for (const Outcome& outcome : negative)
        EXPECT_EQ(failureText(outcome), "The concurrent worker count must not be negative.");
    EXPECT_TRUE(f.decoder->triesSnapshot().empty());
}

TEST(MurmexBatch, BatchesOfTheWorkerCountRunOneAfterAnotherInInputOrder) {
    EngineFixture f;
    auto engine = Murmex::create(f.config(true));
    Timeline timeline;
    timeline.attach(f);
    // Array 7 fails; the others succeed in their places.
    f.decoder->script = [](int64_t seek, float) {
        if (arrayOf(seek) == 7) throw WhisperError::decodingFailed("array 7 broke");
        return DecodingResult{};
    };
    std::vector<std::optional<DecodingOptions>> options(20, DecodingOptions{});
    for (size_t k = 0; k < 20; ++k)
        options[k]->language = "l" + std::to_string(k);
    std::mutex mutex;
    std::map<int, int> reports; // windowId -> reports
    const auto outcomes = engine->transcribeWithOptions(arrays(20), options, std::nullopt,
                                                        [&](const TranscriptionProgress& progress) {
                                                            std::lock_guard lock(mutex);
                                                            ++reports[progress.windowId];
                                                            return std::optional<bool>();
                                                        });
    ASSERT_EQ(outcomes.size(), 20u);
    for (size_t k = 0; k < 20; ++k) {
        EXPECT_EQ(outcomes[k].ok(), k != 7) << k;
        if (outcomes[k].ok()) {
            EXPECT_EQ(outcomes[k].get().size(), 1u);
        }
    }
    EXPECT_EQ(failureText(outcomes[7]), "array 7 broke");
    // Every array reported progress under its own index, with its own options.
    EXPECT_EQ(reports.size(), 20u);
    EXPECT_EQ(reports.count(16), 1u);
    for (const auto& attempt : f.decoder->triesSnapshot())
        EXPECT_EQ(attempt.language, "l" + std::to_string(arrayOf(attempt.seek)));
    // The second batch (arrays 16 to 19) starts when all of the first have ended.
    size_t lastFirstBatchEnd = 0, firstSecondBatchStart = SIZE_MAX;
    for (size_t i = 0; i < timeline.events.size(); ++i) {
        const auto [array, started] = timeline.events[i];
        if (array < 16 && !started) lastFirstBatchEnd = i;
        if (array >= 16 && started) firstSecondBatchStart = std::min(firstSecondBatchStart, i);
    }
    EXPECT_LT(lastFirstBatchEnd, firstSecondBatchStart);
    EXPECT_LE(timeline.mostAtOnce, 16);
}

TEST(MurmexBatch, WithoutAWorkerCountOneBatchRunsButNotAllAtOnce) {
    EngineFixture f;
    auto engine = Murmex::create(f.config(true));
    Timeline timeline;
    timeline.attach(f);
    const size_t count = 4 * std::max(1u, std::thread::hardware_concurrency());
    const auto results = engine->transcribeAudioArrays(arrays(count));
    ASSERT_EQ(results.size(), count);
    for (const auto& result : results)
        EXPECT_TRUE(result);
    EXPECT_LE(timeline.mostAtOnce, int(std::max(1u, std::thread::hardware_concurrency())));
}

TEST(MurmexBatch, SeekOffsetsRaiseTheSeekOfDiscoveredSegmentsOnly) {
    EngineFixture f;
    auto engine = Murmex::create(f.config(true));
    std::mutex mutex;
    std::vector<TranscriptionSegment> discovered;
    engine->segmentDiscoveryCallback = [&](const std::vector<TranscriptionSegment>& segments) {
        std::lock_guard lock(mutex);
        discovered.insert(discovered.end(), segments.begin(), segments.end());
    };
    const auto outcomes =
        engine->transcribeWithOptions(arrays(2), {{}, {}}, std::vector<int64_t>{0, 480000});
    ASSERT_EQ(outcomes.size(), 2u);
    ASSERT_EQ(discovered.size(), 2u);
    std::sort(discovered.begin(), discovered.end(),
              [](const auto& a, const auto& b) { return a.seek < b.seek; });
    EXPECT_EQ(discovered[1].seek, 480000);
    EXPECT_EQ(discovered[1].start, 0.0f);
    // The results themselves keep the array's own time line.
    EXPECT_EQ(outcomes[1].get()[0].segments()[0].seek, 0);
}

TEST(MurmexBatch, FilesAreLoadedThenTranscribedAndFailuresKeepTheirPlace) {
    EngineFixture f;
    auto engine = Murmex::create(f.config(true));
    std::vector<TranscriptionState> reported;
    engine->transcriptionStateCallback = [&](TranscriptionState state) {
        reported.push_back(state);
    };
    const std::string present = (f.temp.path / "one.wav").string();
    zvtest::writeWav(present, 16000, 1, zvtest::sine(300, 16000, 16000), true);
    const std::string missing = (f.temp.path / "missing.wav").string();
    const auto outcomes = engine->transcribeWithResults(std::vector<std::string>{missing, present});
    ASSERT_EQ(outcomes.size(), 2u);
    EXPECT_EQ(failureText(outcomes[0]), "Resource path does not exist " + missing);
    EXPECT_TRUE(outcomes[1].ok());
    EXPECT_EQ(reported,
              (std::vector{TranscriptionState::convertingAudio, TranscriptionState::transcribing,
                           TranscriptionState::finished}));
    const auto optional = engine->transcribeAudioPaths({missing, missing});
    EXPECT_EQ(optional.size(), 2u);
    EXPECT_FALSE(optional[0]);
    EXPECT_FALSE(optional[1]);
}

/// Speech-like noise with a silence every `every` seconds.
std::vector<float> recording(double seconds, double every = 20) {
    std::vector<float> samples(size_t(seconds * 16000), 0.5f);
    for (double at = every; at < seconds; at += every)
        std::fill(samples.begin() + int64_t(at * 16000),
                  samples.begin() + int64_t((at + 1) * 16000), 0.0f);
    return samples;
}

DecodingOptions vadOptions() {
    DecodingOptions options;
    options.chunkingStrategy = ChunkingStrategy::vad;
    return options;
}

TEST(MurmexChunked, OnlyAudioLongerThanOneWindowIsChunked) {
    EngineFixture f;
    auto engine = Murmex::create(f.config(true));
    EXPECT_EQ(engine->transcribeAudioArray(std::vector<float>(480000, 0.5f), vadOptions()).size(),
              1u);
    EXPECT_EQ(f.seeker->callsSnapshot().size(), 1u);
    const auto results =
        engine->transcribeAudioArray(std::vector<float>(480001, 0.5f), vadOptions());
    // No silence: a hard cut that leaves the last chunk more than a second.
    ASSERT_EQ(results.size(), 2u);
    EXPECT_FLOAT_EQ(*results[1].seekTime(), 462401.0f / 16000);
    ASSERT_EQ(results[1].segments().size(), 1u);
    EXPECT_EQ(results[1].segments()[0].seek, 462401);
    EXPECT_FLOAT_EQ(results[1].segments()[0].start, 462401.0f / 16000);
}

TEST(MurmexChunked, ChunksAreCutAtSilencesAndTheirResultsMovedIntoPlace) {
    EngineFixture f;
    auto engine = Murmex::create(f.config(true));
    int callerSegmentCalls = 0;
    std::mutex mutex;
    std::vector<int> discoveredSeeks;
    engine->segmentDiscoveryCallback = [&](const std::vector<TranscriptionSegment>& segments) {
        std::lock_guard lock(mutex);
        for (const auto& segment : segments)
            discoveredSeeks.push_back(segment.seek);
    };
    // While the chunks run, the parent progress counts all five of them, also
    // between batches of two.
    std::vector<int64_t> totals;
    f.decoder->onDecode = [&](int64_t) {
        std::lock_guard lock(mutex);
        totals.push_back(engine->progress()->totalUnitCount());
    };
    DecodingOptions options = vadOptions();
    options.concurrentWorkerCount = 2;
    options.clipTimestamps = {0.0f, 100.0f}; // for the chunking only
    const auto results = engine->transcribeAudioArray(
        recording(100), options, {},
        [&](const std::vector<TranscriptionSegment>&) { ++callerSegmentCalls; });
    // Cuts in the silences at 20, 40, 60 and 80 s (each the longest of its
    // window's second half), in their middle frame.
    ASSERT_EQ(results.size(), 5u);
    std::vector<float> seekTimes;
    for (const auto& result : results)
        seekTimes.push_back(*result.seekTime());
    EXPECT_EQ(seekTimes, (std::vector<float>{0.0f, 20.5f, 40.5f, 60.5f, 80.5f}));
    EXPECT_FLOAT_EQ(results[2].segments()[0].start, 40.5f);
    EXPECT_EQ(results[2].segments()[0].seek, 648000);
    EXPECT_EQ(callerSegmentCalls, 0);
    std::sort(discoveredSeeks.begin(), discoveredSeeks.end());
    EXPECT_EQ(discoveredSeeks, (std::vector<int>{0, 328000, 648000, 968000, 1288000}));
    // Every chunk was transcribed from its own start: no clip times.
    for (const auto& call : f.seeker->callsSnapshot())
        EXPECT_EQ(call.seek, 0);
    EXPECT_EQ(totals, std::vector<int64_t>(5, 5));
    // Finished, the parent was replaced.
    EXPECT_EQ(engine->progress()->totalUnitCount(), 0);
}

TEST(MurmexChunked, TheEnginesDetectorDecidesTheCuts) {
    EngineFixture f;
    // A detector that hears speech everywhere: hard cuts only.
    struct Deaf : EnergyVAD {
        Deaf() : EnergyVAD(16000, 1600, 0, -1.0f) {}
    };
    MurmexConfig config = f.config(true);
    config.voiceActivityDetector = std::make_shared<Deaf>();
    auto engine = Murmex::create(config);
    const auto results = engine->transcribeAudioArray(recording(70), vadOptions());
    std::vector<float> seekTimes;
    for (const auto& result : results)
        seekTimes.push_back(*result.seekTime());
    EXPECT_EQ(seekTimes, (std::vector<float>{0.0f, 30.0f, 60.0f}));
}

TEST(MurmexChunked, ACallWhoseEveryChunkFailsFails) {
    EngineFixture f;
    auto engine = Murmex::create(f.config(true));
    f.decoder->script = [](int64_t, float) -> DecodingResult {
        throw WhisperError::decodingFailed("no chunk decodes");
    };
    try {
        engine->transcribeAudioArray(recording(70), vadOptions());
        ADD_FAILURE() << "no error";
    } catch (const WhisperError& error) {
        EXPECT_EQ(error.message(), "no chunk decodes");
    }
    // One failing chunk among good ones is left out and logged.
    int calls = 0;
    std::mutex mutex;
    f.decoder->script = [&](int64_t, float) {
        std::lock_guard lock(mutex);
        if (calls++ == 1) throw WhisperError::decodingFailed("one chunk broke");
        return DecodingResult{};
    };
    DecodingOptions sequential = vadOptions();
    sequential.concurrentWorkerCount = 1;
    testing::LogCapture log;
    EXPECT_EQ(engine->transcribeAudioArray(recording(70), sequential).size(), 3u - 1);
    EXPECT_TRUE(log.contains("Error transcribing chunk 1: one chunk broke"));

    // A cancelled call fails with the cancellation.
    f.decoder->script = {};
    std::stop_source stop;
    stop.request_stop();
    platform::system::CancellationScope scope(stop.get_token());
    EXPECT_THROW(engine->transcribeAudioArray(recording(70), vadOptions()),
                 platform::system::CancellationError);
}

} // namespace
} // namespace murmex
