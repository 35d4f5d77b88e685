// The recorder over a capture backend whose microphone is the test.

#include "halvex_zovuruv/desktop/AudioRecorder.h"

#include "platform/system/SystemError.h"
#include "support/FakeCaptureBackend.h"

#include <cmath>
#include <gtest/gtest.h>

using halvex::AudioRecorder;
using platform::audio::AudioFormat;

namespace {

std::vector<float> tone(size_t frames, double rate, float level = 0.5f) {
    std::vector<float> samples(frames);
    for (size_t i = 0; i < frames; ++i)
        samples[i] = level * float(std::sin(2 * M_PI * 440 * double(i) / rate));
    return samples;
}

} // namespace

TEST(AudioRecorderTest, AFortyEightKilohertzRecordingComesOutWholeAtSixteen) {
    auto backend = std::make_shared<zvtest::FakeCaptureBackend>();
    backend->deviceFormat = AudioFormat::standard(48000, 2);
    AudioRecorder recorder(backend);
    recorder.start();
    const size_t buffers = 10, frames = 4096;
    for (size_t i = 0; i < buffers; ++i) {
        const auto left = tone(frames, 48000);
        ASSERT_TRUE(backend->deliver(std::vector<std::vector<float>>{left, left}));
    }
    const auto samples = recorder.stop();
    // Every input frame counts, the resampler's held-back tail included.
    EXPECT_NEAR(double(samples.size()), buffers * frames / 3.0, 1.0);
    float peak = 0;
    for (float s : samples)
        peak = std::max(peak, std::fabs(s));
    EXPECT_NEAR(peak, 0.5f, 0.05f);
    EXPECT_FALSE(backend->streamRunning());
}

TEST(AudioRecorderTest, EachRecordingHoldsOnlyItsOwnSamples) {
    auto backend = std::make_shared<zvtest::FakeCaptureBackend>();
    backend->deviceFormat = AudioFormat::standard(16000, 1);
    AudioRecorder recorder(backend);
    recorder.start();
    backend->deliver(std::vector<float>(1600, 0.25f));
    backend->deliver(std::vector<float>(1600, 0.25f));
    EXPECT_EQ(recorder.stop().size(), 3200u);

    recorder.start();
    backend->deliver(std::vector<float>(800, -0.5f));
    const auto second = recorder.stop();
    ASSERT_EQ(second.size(), 800u);
    EXPECT_EQ(second.front(), -0.5f);

    // Stopping right after starting gives an empty recording, and stopping
    // again gives nothing more.
    recorder.start();
    EXPECT_TRUE(recorder.stop().empty());
    EXPECT_TRUE(recorder.stop().empty());
}

TEST(AudioRecorderTest, AFailedStartLeavesTheRecorderUsable) {
    auto backend = std::make_shared<zvtest::FakeCaptureBackend>();
    backend->deviceFormat = AudioFormat::standard(16000, 1);
    AudioRecorder recorder(backend);

    const auto devices = backend->devices;
    backend->devices.clear();
    try {
        recorder.start();
        FAIL() << "no microphone, no recording";
    } catch (const platform::system::SystemError& e) {
        EXPECT_EQ(e.domain(), "HalvexZovuruv");
        EXPECT_EQ(e.code(), 1);
        EXPECT_STREQ(e.what(), "Микрофон недоступен");
    }
    backend->devices = devices;

    backend->startFailure = -9986;
    EXPECT_THROW(recorder.start(), platform::system::SystemError);
    EXPECT_EQ(backend->streamsOpen(), 0);
    backend->startFailure.reset();

    recorder.start();
    backend->deliver(std::vector<float>(400, 0.1f));
    EXPECT_EQ(recorder.stop().size(), 400u);
}
