#include "murmex/base/WhisperError.h"
#include "murmex/core/audio/AudioProcessor.h"
#include "murmex/support/LogCapture.h"
#include "platform/system/SystemError.h"
#include "support/FakeCaptureBackend.h"
#include "support/PulseAudioServer.h"
#include "support/SignalMatch.h"

#include <chrono>
#include <cmath>
#include <gtest/gtest.h>
#include <numbers>
#include <random>
#include <thread>

namespace murmex {
namespace {

using testing::LogCapture;
using zvtest::FakeCaptureBackend;

/// `count` samples of a steady tone whose root mean square is `rms`.
std::vector<float> toneWithRms(float rms, size_t count = 1600) {
    std::vector<float> samples(count);
    for (size_t i = 0; i < count; ++i)
        samples[i] =
            rms * std::sqrt(2.0f) * float(std::sin(2 * std::numbers::pi * 440 * double(i) / 16000));
    return samples;
}

template <typename Predicate> bool waitFor(Predicate&& done) {
    for (int i = 0; i < 1000 && !done(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return done();
}

TEST(AudioEnergy, RelativeEnergyPlacesTheLevelBetweenReferenceAndFullScale) {
    struct Case {
        float rms;
        std::optional<float> reference;
        float expected;
    };
    const Case cases[] = {
        {0.001f, std::nullopt, 0.0f},      // -60 dB: the default reference
        {0.1f, std::nullopt, 2.0f / 3.0f}, // -20 dB
        {0.0316228f, 0.001f, 0.5f},        // 30 dB above a -60 dB reference
        {0.5f, 1.0f, 0.0f},                // a reference at full scale
        {0.0f, std::nullopt, 0.0f},        // silence
        {0.01f, std::numeric_limits<float>::infinity(), 0.0f},
        {0.0f, 0.0f, 0.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.rms << " " << c.reference.value_or(-1));
        EXPECT_NEAR(AudioProcessor::calculateRelativeEnergy(toneWithRms(c.rms), c.reference),
                    c.expected, 1e-4);
    }
    // Over full scale with a full-scale reference.
    EXPECT_EQ(AudioProcessor::calculateRelativeEnergy(std::vector<float>(100, 2.0f), 1.0f), 1.0f);

    const std::vector<float> signal = {0.5f, -1.0f, 0.25f, 0.0f};
    const AudioProcessor::Energy energy = AudioProcessor::calculateEnergy(signal);
    EXPECT_NEAR(energy.avg, std::sqrt((0.25 + 1 + 0.0625) / 4), 1e-6);
    EXPECT_EQ(energy.max, 1.0f);
    EXPECT_EQ(energy.min, 0.0f);
    EXPECT_EQ(AudioProcessor::calculateAverageEnergy({}), 0.0f);
    EXPECT_EQ(AudioProcessor::calculateEnergy({}).max, 0.0f);
}

TEST(AudioEnergy, VoiceDetectionLooksAtTheRecentRecordsButTheNewestTen) {
    // Record i is loud only at the positions given.
    auto records = [](size_t count, std::vector<size_t> loud) {
        std::vector<float> values(count, 0.1f);
        for (size_t i : loud)
            values[i] = 0.9f;
        return values;
    };
    struct Case {
        size_t count;
        std::vector<size_t> loud;
        float seconds;
        bool detected;
    };
    const Case cases[] = {
        {30, {19}, 3.0f, true},  // values 0..19 are considered
        {30, {20}, 3.0f, false}, // the newest ten are not
        {30, {5}, 2.0f, false},  // the last 20 are 10..29, of which 10..19 count
        {30, {12}, 2.0f, true},           {15, {9}, 3.0f, true}, // 15 values: the oldest ten
        {15, {10}, 3.0f, false},          {5, {4}, 3.0f, true},  // 5 values: all of them
        {30, {0, 19}, -1.0f, false},                             // a negative time looks at nothing
        {30, {19}, std::nanf(""), false}, {0, {}, 3.0f, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.count << " " << c.seconds);
        EXPECT_EQ(AudioProcessor::isVoiceDetected(records(c.count, c.loud), c.seconds, 0.5f),
                  c.detected);
    }
}

TEST(AudioEnergy, ChunkActivityMeasuresEachFrameWithItsOverlap) {
    std::vector<float> signal(3200, 0.0f);
    std::fill(signal.begin() + 1600, signal.begin() + 2000, 0.5f); // loud from 1600 to 2000
    using Flags = std::vector<bool>;
    EXPECT_EQ(AudioProcessor::calculateVoiceActivityInChunks(signal, 2, 1600, 0, 0.1f),
              (Flags{false, true}));
    // With an overlap of 400 the first frame reaches 2000: [0, 2000) has rms
    // 0.5 x sqrt(400 / 2000) = 0.22; the second, [1600, 3200), 0.25.
    EXPECT_EQ(AudioProcessor::calculateVoiceActivityInChunks(signal, 2, 1600, 400, 0.1f),
              (Flags{true, true}));
    EXPECT_EQ(AudioProcessor::calculateVoiceActivityInChunks(signal, 2, 1600, 400, 0.24f),
              (Flags{false, true}));
    // Chunks past the end are silent; a negative count gives none.
    EXPECT_EQ(AudioProcessor::calculateVoiceActivityInChunks(signal, 4, 1600, 0, 0.1f),
              (Flags{false, true, false, false}));
    EXPECT_TRUE(AudioProcessor::calculateVoiceActivityInChunks(signal, -1, 1600, 0, 0.1f).empty());
    // Silence is never speech, not even with threshold 0.
    EXPECT_EQ(
        AudioProcessor::calculateVoiceActivityInChunks(std::vector<float>(1600), 1, 1600, 0, 0.0f),
        (Flags{false}));

    std::vector<float> speech(8000, 0.0f);
    std::fill(speech.begin() + 1600, speech.begin() + 4800, 0.5f);
    std::fill(speech.begin() + 6400, speech.end(), 0.5f);
    EXPECT_EQ(AudioProcessor::calculateNonSilentChunks(speech),
              (std::vector<std::pair<int64_t, int64_t>>{{1600, 4800}, {6400, 8000}}));
}

TEST(AudioEnergy, WaveformImageHoldsTheSampleBytesAsPixels) {
    const std::vector<float> samples = {1.0f, -2.0f, 0.5f, 0.0f, 3.0f, 4.0f};
    const auto image = AudioProcessor::createWaveformImage(samples, 2.9, 3);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width, 2);
    EXPECT_EQ(image->height, 3);
    EXPECT_EQ(image->bytesPerRow, 8);
    ASSERT_EQ(image->bytes.size(), 24u);
    // 1.0f is 0x3F800000: bytes 00 00 80 3F (blue, green, red, alpha).
    EXPECT_EQ(image->bytes[2], 0x80);
    EXPECT_EQ(image->bytes[3], 0x3F);
    EXPECT_FALSE(AudioProcessor::createWaveformImage(samples, 3, 3));
    EXPECT_FALSE(AudioProcessor::createWaveformImage(samples, -1, 3));
    EXPECT_FALSE(AudioProcessor::createWaveformImage(samples, std::nan(""), 1));
}

class LiveCapture : public ::testing::Test {
protected:
    std::shared_ptr<FakeCaptureBackend> backend = [] {
        auto made = std::make_shared<FakeCaptureBackend>();
        made->devices = {{3, "Built-in", 1, 16000}, {5, "Headset", 1, 16000}};
        return made;
    }();

    /// Delivers buffers and waits until the processor has metered them.
    void deliver(AudioProcessor& processor, const std::vector<std::vector<float>>& buffers) {
        const size_t before = processor.audioEnergy().size();
        for (const auto& buffer : buffers)
            ASSERT_TRUE(backend->deliver(buffer));
        ASSERT_TRUE(
            waitFor([&] { return processor.audioEnergy().size() == before + buffers.size(); }));
    }
};

TEST_F(LiveCapture, EveryBufferIsMeteredAgainstTheQuietestOfTheLastTwenty) {
    AudioProcessor processor(backend);
    std::vector<std::vector<float>> seen;
    std::mutex mutex;
    processor.startRecordingLive(std::nullopt, [&](const std::vector<float>& buffer) {
        std::lock_guard lock(mutex);
        seen.push_back(buffer);
    });
    EXPECT_TRUE(processor.isRecording());
    deliver(processor, {toneWithRms(0.001f), toneWithRms(0.5f), std::vector<float>(1600, 0.0f),
                        toneWithRms(0.0316228f), std::vector<float>(1600, 1.0f)});
    const std::vector<float> rel = processor.relativeEnergy();
    ASSERT_EQ(rel.size(), 5u);
    EXPECT_EQ(rel[0], 0.0f); // the first record of a capture
    EXPECT_GT(rel[1], 0.5f);
    EXPECT_EQ(rel[2], 0.0f); // silence after louder buffers
    // The quietest of the previous buffers is silent (clamped to -160 dB):
    // 30 dB of level above -160 dB.
    EXPECT_NEAR(rel[3], (-30.0 + 160.0) / 160.0, 1e-3);
    EXPECT_EQ(rel[4], 1.0f); // full scale
    const std::vector<AudioEnergy> records = processor.audioEnergy();
    EXPECT_NEAR(records[1].avg, 0.5f, 1e-3);
    EXPECT_NEAR(records[1].max, 0.5f * std::sqrt(2.0f), 1e-3);
    EXPECT_EQ(processor.audioSampleCount(), 5u * 1600);
    processor.stopRecording();
    EXPECT_FALSE(processor.isRecording());
    EXPECT_EQ(seen.size(), 5u);
    EXPECT_EQ(seen[4], std::vector<float>(1600, 1.0f));
    // Stopping keeps the recording readable.
    EXPECT_EQ(processor.audioSamples().size(), 5u * 1600);
    EXPECT_EQ(processor.relativeEnergy().size(), 5u);

    // A quiet buffer 30 dB above a -60 dB floor of the last twenty: 0.5.
    processor.startRecordingLive();
    EXPECT_TRUE(processor.audioSamples().empty());
    deliver(processor, {toneWithRms(0.001f), toneWithRms(0.001f), toneWithRms(0.0316228f)});
    EXPECT_NEAR(processor.relativeEnergy()[2], 0.5f, 1e-3);
}

TEST_F(LiveCapture, PauseResumeAndDeviceChangesFollowTheLastDevice) {
    AudioProcessor processor(backend);
    processor.startRecordingLive(3);
    deliver(processor, {std::vector<float>(1600, 0.1f)});
    processor.pauseRecording();
    EXPECT_FALSE(backend->deliver(std::vector<float>(1600, 0.1f)));
    processor.resumeRecordingLive(3); // same device: the paused capture goes on
    deliver(processor, {std::vector<float>(1600, 0.1f)});
    processor.pauseRecording();
    processor.resumeRecordingLive(5); // another device: a new capture, samples kept
    deliver(processor, {std::vector<float>(1600, 0.1f)});
    processor.pauseRecording();
    processor.resumeRecordingLive(3); // device 5 was the last one: a new capture on 3
    EXPECT_EQ(backend->openedDevices, (std::vector<std::optional<uint32_t>>{3u, 5u, 3u}));
    EXPECT_EQ(backend->streamsOpen(), 1);
    deliver(processor, {std::vector<float>(1600, 0.1f)});
    EXPECT_EQ(processor.audioSampleCount(), 4u * 1600);

    processor.stopRecording();
    EXPECT_EQ(backend->streamsOpen(), 0);
    processor.resumeRecordingLive(3); // stopped, same device: nothing starts
    EXPECT_FALSE(processor.isRecording());
    processor.pauseRecording(); // harmless when stopped
    processor.stopRecording();
}

TEST_F(LiveCapture, SuppressedInputStillArrivesAsSilence) {
    AudioProcessor processor(backend);
    processor.setInputSuppressed(true);
    std::vector<float> received;
    processor.startRecordingLive(std::nullopt,
                                 [&](const std::vector<float>& buffer) { received = buffer; });
    deliver(processor, {std::vector<float>(1600, 0.7f)});
    processor.stopRecording();
    EXPECT_EQ(received, std::vector<float>(1600, 0.0f));
    EXPECT_EQ(processor.audioEnergy().back().avg, 0.0f);
}

TEST_F(LiveCapture, AnUnknownDeviceFallsBackToTheDefaultInput) {
    AudioProcessor processor(backend);
    LogCapture log;
    processor.startRecordingLive(42);
    EXPECT_TRUE(log.contains("Error setting Audio Unit property: -9996"));
    EXPECT_EQ(backend->openedDevices.back(), std::nullopt);
    processor.startRecordingLive(5);
    EXPECT_TRUE(log.contains("Successfully set input device."));
    EXPECT_EQ(backend->openedDevices.back(), 5u);
}

TEST_F(LiveCapture, AFailedStartIsThrownAndLeavesNoCapture) {
    AudioProcessor processor(backend);
    backend->startFailure = -9985;
    EXPECT_THROW(processor.startRecordingLive(), platform::system::SystemError);
    EXPECT_FALSE(processor.isRecording());
    EXPECT_EQ(backend->streamsOpen(), 0);
    processor.setMinBufferLength(0);
    backend->startFailure.reset();
    EXPECT_THROW(processor.startRecordingLive(), WhisperError);
}

TEST_F(LiveCapture, APeriodOfZeroNeverDividesAndTheProgressLineComesAtMultiples) {
    AudioProcessor processor(backend);
    LogCapture log;
    processor.setRelativeEnergyWindow(2);
    processor.startRecordingLive();
    deliver(processor, {std::vector<float>(1600, 0.5f), std::vector<float>(1600, 0.5f)});
    // The progress line is written after the buffer's energy record, so the
    // metering wait above can end before it: wait for the line itself.
    EXPECT_TRUE(waitFor([&] {
        return log.count("Current audio size: 3200 samples, most recent buffer: 1600 samples, "
                         "most recent energy: (0.0, 0.5, 0.5, 0.5)") == 1;
    }));
    processor.setRelativeEnergyWindow(0);
    deliver(processor, {std::vector<float>(1600, 0.5f), std::vector<float>(1600, 0.5f)});
    EXPECT_EQ(log.count("Current audio size: "), 1);
}

TEST_F(LiveCapture, PurgingKeepsTheNewestSamples) {
    AudioProcessor processor(backend);
    processor.startRecordingLive();
    std::vector<float> counting(1600);
    for (size_t i = 0; i < counting.size(); ++i)
        counting[i] = float(i);
    deliver(processor, {counting});
    for (int64_t keep : {5000, 1600}) {
        processor.purgeAudioSamples(keep);
        EXPECT_EQ(processor.audioSampleCount(), 1600u);
    }
    processor.purgeAudioSamples(3);
    EXPECT_EQ(processor.audioSamples(), (std::vector<float>{1597, 1598, 1599}));
    processor.purgeAudioSamples(0);
    EXPECT_EQ(processor.audioSampleCount(), 0u);
    EXPECT_EQ(processor.audioEnergy().size(), 1u);
    processor.purgeAudioSamples(-4);
    EXPECT_EQ(processor.audioSampleCount(), 0u);
}

TEST_F(LiveCapture, TheStreamCarriesEveryBufferAndEndingItStopsTheCapture) {
    AudioProcessor processor(backend);
    auto [stream, continuation] = processor.startStreamingRecordingLive();
    ASSERT_TRUE(backend->deliver(std::vector<float>(1600, 0.25f)));
    ASSERT_TRUE(backend->deliver(std::vector<float>(800, 0.5f)));
    EXPECT_EQ(stream.next(), std::vector<float>(1600, 0.25f));
    EXPECT_EQ(stream.next(), std::vector<float>(800, 0.5f));
    stream.cancel();
    EXPECT_FALSE(processor.isRecording());
    EXPECT_FALSE(processor.audioBufferCallback());

    // A capture that cannot start finishes its stream with the error.
    backend->startFailure = -9985;
    auto [failed, failedContinuation] = processor.startStreamingRecordingLive();
    EXPECT_THROW(failed.next(), platform::system::SystemError);
}

TEST_F(LiveCapture, DevicesAndPermissionComeFromTheBackend) {
    EXPECT_EQ(AudioProcessor::getAudioDevices(*backend),
              (std::vector<AudioDevice>{{3, "Built-in"}, {5, "Headset"}}));
    EXPECT_TRUE(AudioProcessor::requestRecordPermission(*backend));
    backend->devices.clear();
    LogCapture log;
    EXPECT_FALSE(AudioProcessor::requestRecordPermission(*backend));
    EXPECT_TRUE(log.contains("Microphone access denied"));
}

TEST(LiveCaptureMicrophone, ThePulseAudioMicrophoneIsRecordedMeteredPausedAndStopped) {
    zvtest::PulseAudioServer server;
    if (!server.running()) GTEST_SKIP() << "PulseAudio cannot start here: " << server.failure();
    ASSERT_TRUE(AudioProcessor::requestRecordPermission());
    ASSERT_FALSE(AudioProcessor::getAudioDevices().empty());

    // Three seconds of a gliding tone under noise, in syllable-like bursts.
    std::vector<float> fed(3 * 16000);
    std::mt19937 random(5);
    std::normal_distribution<float> noise(0, 0.02f);
    for (size_t i = 0; i < fed.size(); ++i) {
        const double t = double(i) / 16000;
        const double envelope = 0.5 + 0.5 * std::sin(2 * std::numbers::pi * 3 * t);
        fed[i] = float(0.4 * envelope * std::sin(2 * std::numbers::pi * (150 * t + 200 * t * t))) +
                 noise(random);
    }
    AudioProcessor processor;
    std::atomic<int> buffers = 0;
    processor.startRecordingLive(std::nullopt,
                                 [&](const std::vector<float>&) { buffers.fetch_add(1); });
    server.feed(fed);
    server.waitForFeed();
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    processor.pauseRecording();
    const size_t paused = processor.audioSampleCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    // Nothing was captured while paused but the buffers already in flight.
    EXPECT_LE(processor.audioSampleCount(), paused + 2 * 1600);
    processor.resumeRecordingLive();
    ASSERT_TRUE(waitFor([&] { return processor.audioSampleCount() > paused + 3 * 1600; }));
    processor.stopRecording();

    const std::vector<float> captured = processor.audioSamples();
    EXPECT_GT(zvtest::alignedCorrelation(captured, fed), 0.99);
    // One record per delivered buffer, each a tenth of a second.
    const std::vector<AudioEnergy> records = processor.audioEnergy();
    EXPECT_EQ(records.size(), size_t(buffers.load()));
    EXPECT_EQ(captured.size(), records.size() * 1600);
    const size_t count = processor.audioSampleCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(processor.audioSampleCount(), count); // nothing after stop
}

} // namespace
} // namespace murmex
