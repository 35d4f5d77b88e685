#include "platform/audio/AudioCapture.h"

#include "platform/audio/AudioFixtures.h"
#include "platform/system/SystemError.h"
#include "support/FakeCaptureBackend.h"
#include "support/PulseAudioServer.h"
#include "support/SignalMatch.h"

#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <numbers>
#include <random>
#include <thread>

namespace platform::audio {
namespace {

/// What a capture handed over, buffer by buffer.
struct Collected {
    std::mutex mutex;
    std::vector<std::vector<float>> buffers;
    std::vector<std::thread::id> threads;

    AudioCapture::SampleHandler handler() {
        return [this](std::span<const float> samples) {
            std::lock_guard lock(mutex);
            buffers.emplace_back(samples.begin(), samples.end());
            threads.push_back(std::this_thread::get_id());
        };
    }
    std::vector<float> all() {
        std::lock_guard lock(mutex);
        std::vector<float> joined;
        for (const auto& buffer : buffers)
            joined.insert(joined.end(), buffer.begin(), buffer.end());
        return joined;
    }
};

std::vector<float> tone(double frequency, double rate, size_t first, size_t count,
                        float amplitude) {
    std::vector<float> samples(count);
    for (size_t i = 0; i < count; ++i)
        samples[i] = amplitude *
                     float(std::sin(2 * std::numbers::pi * frequency * double(first + i) / rate));
    return samples;
}

TEST(AudioCapture, DeviceBuffersAreConvertedByOneConverterAndTheTailArrivesAtStop) {
    zvtest::FakeCaptureBackend backend;
    backend.deviceFormat = AudioFormat::standard(48000, 2);
    Collected collected;
    AudioCapture capture(backend, {.device = 7}, collected.handler());
    EXPECT_EQ(backend.openedDevices, (std::vector<std::optional<uint32_t>>{7u}));
    EXPECT_EQ(capture.deviceFormat(), *AudioFormat::standard(48000, 2));
    // Ten seconds in buffers of a tenth of a second; the right channel is the
    // same tone, so the mono mix is the tone itself.
    for (size_t b = 0; b < 100; ++b) {
        const std::vector<float> left = tone(440, 48000, b * 4800, 4800, 0.5f);
        ASSERT_TRUE(backend.deliver({left, left}));
    }
    capture.stop();
    const std::vector<float> samples = collected.all();
    ASSERT_EQ(samples.size(), 160000u);
    for (size_t i = 100; i + 100 < samples.size(); ++i)
        ASSERT_NEAR(samples[i], 0.5 * std::sin(2 * std::numbers::pi * 440 * double(i) / 16000),
                    2e-3)
            << i;
    // One delivery per captured buffer, then the converter's tail; none on
    // the audio (here: the test's) thread.
    EXPECT_EQ(collected.buffers.size(), 101u);
    for (std::thread::id id : collected.threads)
        EXPECT_NE(id, std::this_thread::get_id());
    EXPECT_FALSE(backend.deliver(tone(440, 48000, 0, 4800, 0.5f)));
    EXPECT_EQ(capture.droppedBuffers(), 0u);
}

TEST(AudioCapture, AMicrophoneAtTheTargetFormatIsPassedThroughUntouched) {
    zvtest::FakeCaptureBackend backend;
    Collected collected;
    AudioCapture capture(backend, {}, collected.handler());
    std::mt19937 random(7);
    std::uniform_real_distribution<float> noise(-1, 1);
    std::vector<std::vector<float>> sent;
    for (uint32_t size : {1600u, 1600u, 800u, 5000u}) { // the last spans several queue slots
        std::vector<float> buffer(size);
        for (float& sample : buffer)
            sample = noise(random);
        sent.push_back(buffer);
        ASSERT_TRUE(backend.deliver(buffer));
    }
    capture.stop();
    std::vector<float> expected;
    for (const auto& buffer : sent)
        expected.insert(expected.end(), buffer.begin(), buffer.end());
    EXPECT_EQ(collected.all(), expected);
    EXPECT_EQ(collected.buffers[0].size(), 1600u);
    EXPECT_EQ(collected.buffers[2].size(), 800u);
}

TEST(AudioCapture, PausedCaptureTakesNothingAndResumesTheSameRecording) {
    zvtest::FakeCaptureBackend backend;
    Collected collected;
    AudioCapture capture(backend, {}, collected.handler());
    ASSERT_TRUE(backend.deliver(std::vector<float>(1600, 0.1f)));
    capture.pause();
    EXPECT_FALSE(backend.deliver(std::vector<float>(1600, 0.2f)));
    capture.resume();
    ASSERT_TRUE(backend.deliver(std::vector<float>(1600, 0.3f)));
    capture.stop();
    capture.stop(); // harmless
    EXPECT_THROW(capture.resume(), system::SystemError);
    ASSERT_EQ(collected.buffers.size(), 2u);
    EXPECT_EQ(collected.buffers[1].front(), 0.3f);
}

TEST(AudioCapture, AStartFailureClosesTheStreamAndReachesTheCaller) {
    zvtest::FakeCaptureBackend backend;
    backend.startFailure = -9985;
    Collected collected;
    try {
        AudioCapture capture(backend, {}, collected.handler());
        ADD_FAILURE() << "no error";
    } catch (const system::SystemError& error) {
        EXPECT_EQ(error.domain(), CaptureBackend::errorDomain);
        EXPECT_EQ(error.code(), -9985);
    }
    EXPECT_EQ(backend.streamsOpen(), 0);
    backend.devices.clear();
    EXPECT_THROW(AudioCapture(backend, {}, collected.handler()), system::SystemError);
    EXPECT_THROW(AudioCapture(backend, {.sampleRate = 0}, collected.handler()),
                 system::SystemError);
}

TEST(AudioCapture, ASlowConsumerLosesNewBuffersInsteadOfBlockingTheAudioThread) {
    zvtest::FakeCaptureBackend backend;
    std::mutex mutex;
    std::condition_variable changed;
    bool release = false;
    int handled = 0;
    AudioCapture capture(backend, {.queueLength = 4}, [&](std::span<const float>) {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return release; });
        ++handled;
    });
    // The first buffer is taken and held by the handler; four more fill the
    // queue; the rest are dropped without waiting.
    for (int i = 0; i < 10; ++i)
        ASSERT_TRUE(backend.deliver(std::vector<float>(1600, 0.1f)));
    {
        std::lock_guard lock(mutex);
        release = true;
    }
    changed.notify_all();
    capture.stop();
    EXPECT_GE(capture.droppedBuffers(), 4u);
    EXPECT_EQ(uint64_t(handled) + capture.droppedBuffers(), 10u);
}

TEST(AudioCapture, StoppingFromInsideTheHandlerDoesNotWait) {
    zvtest::FakeCaptureBackend backend;
    std::atomic<int> calls = 0;
    std::unique_ptr<AudioCapture> capture;
    std::mutex mutex;
    std::condition_variable stopped;
    capture = std::make_unique<AudioCapture>(backend, AudioCapture::Options{},
                                             [&](std::span<const float>) {
                                                 ++calls;
                                                 capture->stop();
                                                 stopped.notify_all();
                                             });
    ASSERT_TRUE(backend.deliver(std::vector<float>(1600, 0.1f)));
    std::unique_lock lock(mutex);
    ASSERT_TRUE(stopped.wait_for(lock, std::chrono::seconds(10), [&] { return calls > 0; }));
    lock.unlock();
    EXPECT_FALSE(backend.deliver(std::vector<float>(1600, 0.1f)));
    capture.reset();
    EXPECT_EQ(calls, 1);
}

TEST(AudioCaptureMicrophone, ThePulseAudioMicrophoneDeliversWhatItIsFed) {
    zvtest::PulseAudioServer server;
    if (!server.running()) GTEST_SKIP() << "PulseAudio cannot start here: " << server.failure();
    auto backend = CaptureBackend::system();
    const auto device = backend->defaultInputDevice();
    ASSERT_TRUE(device) << "the sound server's microphone is not the default input";
    const auto devices = backend->inputDevices();
    EXPECT_NE(std::find(devices.begin(), devices.end(), *device), devices.end());

    // Two seconds of a gliding tone under noise: no lag but the true one fits.
    std::vector<float> fed(2 * 16000);
    std::mt19937 random(11);
    std::normal_distribution<float> noise(0, 0.05f);
    for (size_t i = 0; i < fed.size(); ++i) {
        const double t = double(i) / 16000;
        fed[i] =
            float(0.4 * std::sin(2 * std::numbers::pi * (200 * t + 300 * t * t))) + noise(random);
    }
    Collected collected;
    AudioCapture capture(*backend, {}, collected.handler());
    server.feed(fed);
    server.waitForFeed();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    capture.stop();
    const std::vector<float> captured = collected.all();
    ASSERT_GE(captured.size(), fed.size() / 2);
    EXPECT_GT(zvtest::alignedCorrelation(captured, fed), 0.99);
}

} // namespace
} // namespace platform::audio
