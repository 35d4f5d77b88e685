#include "murmex/core/audio/AudioStreamTranscriber.h"

#include "murmex/base/WhisperError.h"
#include "murmex/core/audio/AudioProcessor.h"
#include "murmex/support/FakeEngineStages.h"
#include "murmex/support/LogCapture.h"
#include "murmex/support/ScriptedTokenizer.h"
#include "platform/system/SystemError.h"
#include "support/FakeCaptureBackend.h"

#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace murmex {
namespace {

using testing::FakeAudioEncoder;
using testing::FakeSegmentSeeker;
using testing::FakeTextDecoder;
using testing::FakeWindow;
using testing::LogCapture;
using testing::ScriptedTokenizer;
using State = AudioStreamTranscriber::State;

template <typename Predicate> bool waitFor(Predicate&& done, int milliseconds = 10000) {
    for (int i = 0; i < milliseconds / 5 && !done(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return done();
}

/// Hands the real processor's window on as the fakes' window.
class WindowFeatureExtractor : public testing::FakeFeatureExtractor {
public:
    std::optional<FeatureExtractorOutputType>
    logMelSpectrogram(const AudioProcessorOutputType& audio) override {
        const auto& array = std::any_cast<const platform::ml::MultiArray&>(audio);
        const float* data = array.data<float>();
        return FeatureExtractorOutputType(
            FakeWindow{{data, data + array.count()}, int64_t(array.count())});
    }
};

/// One segment per second of the window, its text naming the second.
std::pair<int, std::optional<std::vector<TranscriptionSegment>>> secondsOf(int seek, int size) {
    std::vector<TranscriptionSegment> segments;
    for (int start = seek; start < seek + size; start += 16000) {
        TranscriptionSegment segment;
        segment.seek = seek;
        segment.start = float(start) / 16000.f;
        segment.end = float(std::min(start + 16000, seek + size)) / 16000.f;
        segment.text = " s" + std::to_string(start / 16000);
        segment.tokens = {1};
        segments.push_back(segment);
    }
    return {seek + size, segments};
}

/// The real processor, but the transcriber sees only the samples the test
/// has revealed, so each pass starts exactly where the test wants it to.
class GatedProcessor : public AudioProcessor {
public:
    using AudioProcessor::AudioProcessor;
    std::atomic<size_t> visible = 0;

    size_t audioSampleCount() const override {
        return std::min(AudioProcessor::audioSampleCount(), visible.load());
    }
    std::vector<float> audioSamples() const override {
        std::vector<float> samples = AudioProcessor::audioSamples();
        samples.resize(std::min(samples.size(), visible.load()));
        return samples;
    }
    std::vector<float> relativeEnergy() const override {
        std::vector<float> energy = AudioProcessor::relativeEnergy();
        energy.resize(std::min(energy.size(), (visible.load() + 1599) / 1600));
        return energy;
    }
};

/// A transcriber over the fakes, capturing from a test microphone whose
/// samples count up (so the fake decoder knows each window's start).
struct Stream {
    std::shared_ptr<zvtest::FakeCaptureBackend> backend = [] {
        auto made = std::make_shared<zvtest::FakeCaptureBackend>();
        made->devices = {{1, "Test microphone", 1, 16000}};
        return made;
    }();
    std::shared_ptr<GatedProcessor> processor = std::make_shared<GatedProcessor>(backend);
    std::shared_ptr<FakeTextDecoder> decoder = std::make_shared<FakeTextDecoder>();
    std::shared_ptr<FakeSegmentSeeker> seeker = std::make_shared<FakeSegmentSeeker>();
    std::mutex mutex;
    std::vector<std::pair<State, State>> changes;
    std::unique_ptr<AudioStreamTranscriber> transcriber;
    std::thread loop;
    std::exception_ptr loopError;
    int64_t fed = 0;

    explicit Stream(bool useVAD = false, int64_t required = 2,
                    std::shared_ptr<FakeTextDecoder> customDecoder = nullptr) {
        if (customDecoder) decoder = std::move(customDecoder);
        auto tokenizer = std::make_shared<ScriptedTokenizer>();
        decoder->setTokenizer(tokenizer);
        seeker->script = secondsOf;
        transcriber = std::make_unique<AudioStreamTranscriber>(
            std::make_shared<FakeAudioEncoder>(), std::make_shared<WindowFeatureExtractor>(),
            seeker, decoder, tokenizer, processor, DecodingOptions{}, required, 0.3f, 60, useVAD,
            [this](const State& before, const State& after) {
                std::lock_guard lock(mutex);
                changes.emplace_back(before, after);
            });
    }
    ~Stream() {
        transcriber->stopStreamTranscription();
        if (loop.joinable()) loop.join();
    }

    void start() {
        loop = std::thread([this] {
            try {
                transcriber->startStreamTranscription();
            } catch (...) {
                loopError = std::current_exception();
            }
        });
        ASSERT_TRUE(waitFor([&] { return processor->isRecording(); }));
    }
    /// Speaks `samples` samples, in buffers of a tenth of a second.
    void speak(int64_t samples) {
        while (samples > 0) {
            std::vector<float> buffer(size_t(std::min<int64_t>(samples, 1600)));
            for (float& sample : buffer)
                sample = float(fed++);
            ASSERT_TRUE(backend->deliver(buffer));
            samples -= int64_t(buffer.size());
        }
        reveal();
    }
    /// Lets the transcriber see everything spoken so far at once.
    void reveal() {
        ASSERT_TRUE(
            waitFor([&] { return int64_t(processor->AudioProcessor::audioSampleCount()) == fed; }));
        processor->visible = size_t(fed);
    }
    void silence(int64_t samples) {
        for (; samples > 0; samples -= 1600) {
            ASSERT_TRUE(backend->deliver(std::vector<float>(1600, 0.0f)));
            fed += 1600;
        }
        reveal();
    }
    /// Waits until a pass over everything spoken so far has been taken in.
    bool passDone() {
        return waitFor([&] {
            const State state = transcriber->state();
            const float end = float(fed) / 16000.f;
            return !state.unconfirmedSegments.empty() &&
                   state.unconfirmedSegments.back().end == end;
        });
    }
    static std::string text(const std::vector<TranscriptionSegment>& segments) {
        std::string joined;
        for (const auto& segment : segments)
            joined += segment.text;
        return joined;
    }
};

TEST(AudioStreamTranscriber, APassNeedsMoreThanOneSecondOfNewAudio) {
    Stream stream;
    stream.start();
    stream.speak(16000);
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_TRUE(stream.seeker->callsSnapshot().empty());
    EXPECT_EQ(stream.transcriber->state().currentText, "Waiting for speech...");
    stream.speak(1);
    ASSERT_TRUE(stream.passDone());
    EXPECT_EQ(stream.transcriber->state().lastBufferSize, 16001);
}

TEST(AudioStreamTranscriber, AllButTheLastSegmentsAreConfirmedOnceAndInOrder) {
    Stream stream;
    stream.start();
    // 1.5 s: two segments, both still open.
    stream.speak(24000);
    ASSERT_TRUE(stream.passDone());
    State state = stream.transcriber->state();
    EXPECT_TRUE(state.confirmedSegments.empty());
    EXPECT_EQ(Stream::text(state.unconfirmedSegments), " s0 s1");
    // 5 s: five segments; the first three are confirmed.
    stream.speak(56000);
    ASSERT_TRUE(stream.passDone());
    state = stream.transcriber->state();
    EXPECT_EQ(Stream::text(state.confirmedSegments), " s0 s1 s2");
    EXPECT_EQ(Stream::text(state.unconfirmedSegments), " s3 s4");
    EXPECT_EQ(state.lastConfirmedSegmentEndSeconds, 3.0f);
    // The next pass starts where the confirmed text ends.
    stream.speak(24000);
    ASSERT_TRUE(stream.passDone());
    EXPECT_EQ(stream.seeker->callsSnapshot().back().seek, 48000);
    state = stream.transcriber->state();
    EXPECT_EQ(Stream::text(state.confirmedSegments), " s0 s1 s2 s3 s4");
    EXPECT_EQ(Stream::text(state.unconfirmedSegments), " s5 s6");

    stream.transcriber->stopStreamTranscription();
    stream.loop.join();
    EXPECT_FALSE(stream.processor->isRecording());
    EXPECT_FALSE(stream.transcriber->state().isRecording);
    // Every change was reported with the state before and after it.
    std::lock_guard lock(stream.mutex);
    ASSERT_FALSE(stream.changes.empty());
    EXPECT_FALSE(stream.changes.front().first.isRecording);
    EXPECT_TRUE(stream.changes.front().second.isRecording);
    for (size_t i = 1; i < stream.changes.size(); ++i)
        EXPECT_EQ(stream.changes[i].first, stream.changes[i - 1].second) << i;
    EXPECT_EQ(stream.changes.back().second, stream.transcriber->state());
}

TEST(AudioStreamTranscriber, ACandidateRunAlreadyConfirmedIsNotAddedAgain) {
    // The seeker always answers the same three segments ending at 1, 2 and 3 s.
    Stream stream(false, 1);
    stream.seeker->script = [](int seek, int size) {
        auto [next, segments] = secondsOf(0, 48000);
        return std::pair{seek + size, segments};
    };
    stream.start();
    stream.speak(17600);
    ASSERT_TRUE(waitFor([&] { return !stream.transcriber->state().confirmedSegments.empty(); }));
    // Two more seconds: the pass starts at 2 s, more than a second before the end.
    stream.speak(32000);
    ASSERT_TRUE(waitFor([&] { return stream.seeker->callsSnapshot().size() >= 2; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const State state = stream.transcriber->state();
    EXPECT_EQ(Stream::text(state.confirmedSegments), " s0 s1");
    EXPECT_EQ(state.lastConfirmedSegmentEndSeconds, 2.0f);
}

TEST(AudioStreamTranscriber, VoiceGatingWaitsForSpeechWithoutMovingTheBuffer) {
    Stream stream(true);
    stream.start();
    stream.silence(48000);
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_TRUE(stream.seeker->callsSnapshot().empty());
    State state = stream.transcriber->state();
    EXPECT_EQ(state.currentText, "Waiting for speech...");
    EXPECT_EQ(state.lastBufferSize, 0);
    // Speech after the silence; the newest second is not listened to, so it
    // takes two. The pass covers the silence too.
    stream.speak(16000);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(stream.seeker->callsSnapshot().empty());
    // Each buffer brought the loudness records the transcriber may see.
    EXPECT_TRUE(waitFor([&] { return stream.transcriber->state().bufferEnergy.size() >= 30; }));
    stream.speak(16000);
    ASSERT_TRUE(stream.passDone());
    EXPECT_EQ(stream.transcriber->state().lastBufferSize, 80000);
}

/// Reports scripted progress before each window's decoding.
class ProgressDecoder : public FakeTextDecoder {
public:
    std::vector<std::pair<std::string, int>> progress; // text, fallbacks

    DecodingResult decodeText(const platform::ml::MultiArray& encoderOutput, DecodingInputs& inputs,
                              TokenSampling& sampler, const DecodingOptions& options,
                              const DecodingCallback& callback) override {
        for (const auto& [text, fallbacks] : progress) {
            TranscriptionProgress report;
            report.text = text;
            report.timings.totalDecodingFallbacks = fallbacks;
            if (callback) callback(report);
        }
        return FakeTextDecoder::decodeText(encoderOutput, inputs, sampler, options, {});
    }
};

TEST(AudioStreamTranscriber, ShorterProgressTextStartsANewWindowOrReportsAFallback) {
    auto decoder = std::make_shared<ProgressDecoder>();
    decoder->progress = {{"one", 0}, {"one two", 0}, {"x", 0}, {"xy z", 0}, {"q", 1}};
    Stream stream(false, 2, decoder);
    LogCapture log;
    stream.start();
    stream.speak(17600);
    ASSERT_TRUE(stream.passDone());
    ASSERT_TRUE(waitFor([&] { return log.contains("Fallback occured: 1"); }));
    std::lock_guard lock(stream.mutex);
    // "one two" is kept when "x" begins a new window; the waiting placeholder
    // before "one" is not; "q" comes with a fallback and keeps nothing.
    bool sawWindowText = false;
    for (const auto& [before, after] : stream.changes) {
        sawWindowText |= after.unconfirmedText == std::vector<std::string>{"one two"};
        EXPECT_LE(after.unconfirmedText.size(), 2u);
        for (const std::string& text : after.unconfirmedText)
            EXPECT_NE(text, "Waiting for speech...");
    }
    EXPECT_TRUE(sawWindowText);
}

TEST(AudioStreamTranscriber, FailuresStopTheCaptureAndLeaveNothingRunning) {
    {
        // A pass that fails ends the loop and the capture.
        Stream stream;
        stream.decoder->script = [](int64_t, float) -> DecodingResult {
            throw WhisperError::decodingFailed("decoder broke");
        };
        LogCapture log;
        stream.start();
        stream.speak(17600);
        stream.loop.join();
        EXPECT_TRUE(log.contains("Error: decoder broke"));
        EXPECT_FALSE(stream.transcriber->state().isRecording);
        EXPECT_FALSE(stream.processor->isRecording());
    }
    {
        // A capture that cannot start is thrown, and recording is off again.
        Stream stream;
        stream.backend->startFailure = -9985;
        EXPECT_THROW(stream.transcriber->startStreamTranscription(), platform::system::SystemError);
        EXPECT_FALSE(stream.transcriber->state().isRecording);
    }
    {
        // Without an input device recording is not allowed.
        Stream stream;
        stream.backend->devices.clear();
        LogCapture log;
        stream.transcriber->startStreamTranscription();
        EXPECT_TRUE(log.contains("Microphone access was not granted."));
        EXPECT_FALSE(stream.transcriber->state().isRecording);
    }
    {
        // A second start while running returns at once.
        Stream stream;
        stream.start();
        stream.transcriber->startStreamTranscription();
        EXPECT_EQ(stream.backend->openedDevices.size(), 1u);
    }
}

TEST(AudioStreamTranscriber, EarlyStopLooksAtTheRecentTokensAndTheAverageLogProbability) {
    std::vector<int> repetitive(100, 7);
    std::vector<int> varied(100);
    for (int i = 0; i < 100; ++i)
        varied[size_t(i)] = i * 37 + 1000;
    std::vector<int> repeatsThenVaried = repetitive;
    std::copy(varied.begin() + 40, varied.end(), repeatsThenVaried.begin() + 40);
    auto progress = [](std::vector<int> tokens, std::optional<float> logprob = std::nullopt) {
        TranscriptionProgress report;
        report.tokens = std::move(tokens);
        report.avgLogprob = logprob;
        return report;
    };
    DecodingOptions options;
    DecodingOptions noThresholds;
    noThresholds.compressionRatioThreshold.reset();
    noThresholds.logProbThreshold.reset();
    struct Case {
        const char* name;
        TranscriptionProgress report;
        const DecodingOptions* options;
        int64_t window;
        std::optional<bool> expected;
    };
    const Case cases[] = {
        {"repeating tokens stop the window", progress(repetitive), &options, 60, false},
        {"only the last 60 tokens count", progress(repeatsThenVaried), &options, 60, std::nullopt},
        {"60 tokens or fewer are not checked",
         progress({repetitive.begin(), repetitive.begin() + 60}), &options, 60, std::nullopt},
        {"no threshold, no check", progress(repetitive), &noThresholds, 60, std::nullopt},
        {"no window, no check", progress(repetitive), &options, 0, std::nullopt},
        {"a low average log-probability stops", progress({1, 2}, -2.0f), &options, 60, false},
        {"an average above the threshold goes on", progress({1, 2}, -0.5f), &options, 60,
         std::nullopt},
        {"no log-probability threshold", progress({1, 2}, -9.0f), &noThresholds, 60, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(AudioStreamTranscriber::shouldStopEarly(c.report, *c.options, c.window),
                  c.expected);
    }
}

} // namespace
} // namespace murmex
