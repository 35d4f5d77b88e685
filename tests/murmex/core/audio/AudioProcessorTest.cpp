#include "murmex/core/audio/AudioProcessor.h"

#include "murmex/base/JsonCoding.h"
#include "murmex/base/WhisperError.h"
#include "murmex/support/LogCapture.h"
#include "platform/audio/AudioFixtures.h"
#include "tessary_core/Logging.h"

#include <cmath>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <numbers>
#include <random>

namespace murmex {
namespace {

using testing::LogCapture;

using platform::audio::AudioFormat;
using platform::audio::PcmBuffer;
using ChannelMode = AudioInputConfig::ChannelMode;

std::shared_ptr<PcmBuffer> stereoBuffer(const std::vector<float>& left,
                                        const std::vector<float>& right) {
    auto buffer = PcmBuffer::make(*AudioFormat::standard(44100, 2), uint32_t(left.size()));
    std::copy(left.begin(), left.end(), buffer->channel(0));
    std::copy(right.begin(), right.end(), buffer->channel(1));
    buffer->setFrameLength(uint32_t(left.size()));
    return std::make_shared<PcmBuffer>(std::move(*buffer));
}

std::vector<float> channel0(const PcmBuffer& buffer) {
    return {buffer.channel(0), buffer.channel(0) + buffer.frameLength()};
}

template <typename Fn> WhisperError whisperErrorOf(Fn&& fn) {
    try {
        fn();
    } catch (const WhisperError& error) {
        return error;
    }
    ADD_FAILURE() << "no WhisperError thrown";
    return WhisperError::initializationError("none");
}

/// A file in the test program's shared folder, beside "sine.wav" (five
/// seconds of 440 Hz at 44.1 kHz stereo).
std::string file(const std::string& name) {
    return zvtest::sineFolder().file(name);
}

TEST(AudioProcessorFiles, StereoFilesOfEveryFormatLoadAsSixteenKilohertzMono) {
    struct Case {
        const char* name;
        const char* options;
        double levelTolerance; // lossy codecs move the peaks the down-mix is scaled by
    };
    const Case cases[] = {{"sine16.wav", "-c:a pcm_s16le", 0.005},
                          {"sine24.wav", "-c:a pcm_s24le", 0.005},
                          {"sinef.wav", "-c:a pcm_f32le", 0.005},
                          {"sine.flac", "", 0.005},
                          {"sine.aiff", "", 0.005},
                          {"sine.caf", "", 0.005},
                          {"sine.mp3", "-b:a 192k", 0.1},
                          {"sine.m4a", "-c:a aac -b:a 160k", 0.1},
                          {"sine.ogg", "-c:a libopus", 0.1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(zvtest::ffmpegEncode(file("sine.wav"), file(c.name), c.options));
        const std::vector<float> samples = AudioProcessor::loadAudioAsFloatArray(file(c.name));
        EXPECT_NEAR(double(samples.size()), 5 * 16000, 1.0);
        EXPECT_NEAR(zvtest::toneFrequency(samples, 16000), 440.0, 0.5);
        // The sum of both channels is rescaled to the louder channel's peak.
        EXPECT_NEAR(zvtest::rms(samples, 8000, 72000), 0.5 / std::sqrt(2.0), c.levelTolerance);
    }
}

TEST(AudioProcessorFiles, SixteenKilohertzMonoComesBackExactlyForTheRange) {
    const std::string path = file("mono16k.wav");
    const std::vector<float> written = zvtest::sine(300, 16000, 3 * 16000);
    zvtest::writeWav(path, 16000, 1, written, true);
    auto buffer = AudioProcessor::loadAudio(path, ChannelMode::sumChannels(), 1.0, 2.5);
    ASSERT_EQ(buffer->frameLength(), 24000u);
    EXPECT_EQ(buffer->format(), *AudioFormat::standard(16000, 1));
    for (uint32_t i = 0; i < buffer->frameLength(); ++i)
        ASSERT_EQ(buffer->channel(0)[i], written[16000 + i]) << i;
    // An end past the file is clamped to it.
    EXPECT_EQ(AudioProcessor::loadAudio(path, ChannelMode::sumChannels(), 2.0, 99.0)->frameLength(),
              16000u);
}

TEST(AudioProcessorFiles, ATwoMinuteFileIsConvertedInThirtySecondPiecesWithoutSeams) {
    const std::string path = file("two-minutes.wav");
    zvtest::writeWav(path, 44100, 2, zvtest::sine(440, 44100, 120 * 44100, 2));
    LogCapture log;
    auto file = platform::audio::AudioFile::open(path);
    auto buffer = AudioProcessor::loadAudio(*file);
    EXPECT_EQ(log.count("Resampling "), 5); // the total, then four pieces
    EXPECT_TRUE(log.contains("Resampling 120.00 seconds of audio"));
    EXPECT_TRUE(log.contains("Resampling 90.00s - 120.00s"));
    EXPECT_TRUE(log.contains("Audio source details - Sample Rate: 44100.0 Hz, Channel Count: 2, "
                             "Frame Length: 5292000, Duration: 120.0s"));
    EXPECT_TRUE(log.contains("Audio buffer details - Sample Rate: 16000.0 Hz, Channel Count: 1, "
                             "Frame Length: 1920000, Duration: 120.0s"));
    ASSERT_EQ(buffer->frameLength(), 1'920'000u);
    // The tone continues through every piece boundary: compare with the
    // ideal tone around each one.
    const double amplitude = 0.5;
    for (int boundary : {480'000, 960'000, 1'440'000}) {
        for (int i = boundary - 50; i < boundary + 50; ++i) {
            const double ideal = amplitude * std::sin(2 * std::numbers::pi * 440 * i / 16000.0);
            ASSERT_NEAR(buffer->channel(0)[i], ideal, 2e-3) << i;
        }
    }
}

TEST(AudioProcessorFiles, TenMinuteStretchesJoinWithoutGapOrSeam) {
    // 1,250 seconds at 8 kHz: three stretches of 600, 600 and 50 seconds.
    const std::string path = file("long.wav");
    zvtest::writeWav(path, 8000, 1, zvtest::sine(440, 8000, 1250 * 8000), true);
    const std::vector<float> samples = AudioProcessor::loadAudioAsFloatArray(path);
    ASSERT_EQ(samples.size(), 1250u * 16000);
    for (int boundary : {9'600'000, 19'200'000}) {
        for (int i = boundary - 50; i < boundary + 50; ++i) {
            const double ideal = 0.5 * std::sin(2 * std::numbers::pi * 440 * i / 16000.0);
            ASSERT_NEAR(samples[i], ideal, 2e-3) << i;
        }
    }
    // A range inside the file gives the same samples as the whole.
    const std::vector<float> range =
        AudioProcessor::loadAudioAsFloatArray(path, ChannelMode::sumChannels(), 599, 601);
    ASSERT_EQ(range.size(), 32000u);
    for (size_t i = 100; i < range.size() - 100; ++i)
        ASSERT_NEAR(range[i], samples[599 * 16000 + i], 1e-4) << i;
}

TEST(AudioProcessorFiles, TimeRangesOutsideTheFile) {
    const std::string path = file("sine.wav");
    EXPECT_TRUE(
        AudioProcessor::loadAudioAsFloatArray(path, ChannelMode::sumChannels(), 6.0).empty());
    EXPECT_TRUE(
        AudioProcessor::loadAudioAsFloatArray(path, ChannelMode::sumChannels(), 3.0, 3.0).empty());
    EXPECT_EQ(
        AudioProcessor::loadAudioAsFloatArray(path, ChannelMode::sumChannels(), 4.0, 100.0).size(),
        16000u);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const std::pair<std::optional<double>, std::optional<double>> invalid[] = {
        {-1.0, std::nullopt}, {nan, std::nullopt}, {inf, std::nullopt}, {0.0, nan}, {0.0, -inf}};
    for (auto [start, end] : invalid) {
        SCOPED_TRACE(::testing::Message() << start.value_or(0) << " " << end.value_or(0));
        EXPECT_EQ(whisperErrorOf([&] {
                      AudioProcessor::loadAudioAsFloatArray(path, ChannelMode::sumChannels(), start,
                                                            end);
                  }).kind(),
                  WhisperError::Kind::loadAudioFailed);
        EXPECT_EQ(whisperErrorOf([&] {
                      AudioProcessor::loadAudio(path, ChannelMode::sumChannels(), start, end);
                  }).kind(),
                  WhisperError::Kind::loadAudioFailed);
    }
    // A range that ends before it starts, or starts past the end, cannot be
    // read; a huge start does not overflow a frame position.
    for (auto [start, end] : {std::pair{3.0, 2.0}, {6.0, 7.0}, {1e300, 2e300}}) {
        EXPECT_EQ(whisperErrorOf([&] {
                      AudioProcessor::loadAudio(path, ChannelMode::sumChannels(), start, end);
                  }).kind(),
                  WhisperError::Kind::loadAudioFailed);
    }
    EXPECT_TRUE(
        AudioProcessor::loadAudioAsFloatArray(path, ChannelMode::sumChannels(), 1e300, 2e300)
            .empty());
}

TEST(AudioProcessorFiles, MissingAndBrokenFilesFailWithLoadAudioFailed) {
    const std::string missing = file("nowhere.wav");
    const WhisperError error =
        whisperErrorOf([&] { AudioProcessor::loadAudioAsFloatArray(missing); });
    EXPECT_EQ(error, WhisperError::loadAudioFailed("Resource path does not exist " + missing));
    EXPECT_EQ(whisperErrorOf([&] { AudioProcessor::loadAudio(missing); }), error);
    EXPECT_EQ(whisperErrorOf([&] { AudioProcessing::loadAudioAsync(missing); }), error);

    const std::string text = file("readme.mp3");
    std::ofstream(text) << "not audio at all";
    const WhisperError broken =
        whisperErrorOf([&] { AudioProcessor::loadAudioAsFloatArray(text); });
    EXPECT_EQ(broken.kind(), WhisperError::Kind::loadAudioFailed);
    EXPECT_NE(broken.message().find(text), std::string::npos) << broken.message();

    // A file that opens but cannot be decoded fails with the decoder's
    // reason, not a generic message (ten seconds: enough damaged packets in
    // a row to give up).
    const std::string source = file("ten-seconds.wav");
    zvtest::writeWav(source, 44100, 2, zvtest::sine(440, 44100, 10 * 44100, 2));
    const std::string damaged = file("damaged.mka");
    ASSERT_TRUE(zvtest::ffmpegEncode(source, damaged, "-c:a flac -bsf:a noise=amount=2"));
    const WhisperError unreadable =
        whisperErrorOf([&] { AudioProcessor::loadAudioAsFloatArray(damaged); });
    EXPECT_EQ(unreadable.kind(), WhisperError::Kind::loadAudioFailed);
    EXPECT_EQ(unreadable.message().rfind("Error reading audio file: Error decoding " + damaged, 0),
              0u)
        << unreadable.message();
}

TEST(AudioProcessorFiles, MutatedFilesNeverCrashTheLoader) {
    // A short stereo WAV and FLAC, damaged at random a few hundred times:
    // each load either succeeds or throws loadAudioFailed.
    const std::string wav = file("fuzz-source.wav");
    zvtest::writeWav(wav, 22050, 2, zvtest::sine(440, 22050, 4000, 2));
    ASSERT_TRUE(zvtest::ffmpegEncode(wav, file("fuzz-source.flac"), ""));
    std::mt19937 random(20261210);
    int loaded = 0, failed = 0;
    for (const std::string& source : {wav, file("fuzz-source.flac")}) {
        std::ifstream in(source, std::ios::binary);
        const std::string original((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
        for (int round = 0; round < 150; ++round) {
            std::string bytes = original;
            const int edits = 1 + int(random() % 8);
            for (int e = 0; e < edits; ++e) {
                const size_t at =
                    random() % std::min<size_t>(bytes.size(), round % 2 ? bytes.size() : 64);
                bytes[at] = char(random());
            }
            if (round % 10 == 9) bytes.resize(random() % bytes.size());
            const std::string path = file("fuzz-" + std::to_string(round) + ".bin");
            std::ofstream(path, std::ios::binary) << bytes;
            try {
                (void)AudioProcessor::loadAudioAsFloatArray(path);
                ++loaded;
            } catch (const WhisperError& error) {
                EXPECT_EQ(error.kind(), WhisperError::Kind::loadAudioFailed) << error.message();
                ++failed;
            }
        }
    }
    EXPECT_GT(loaded, 0);
    EXPECT_GT(failed, 0);
}

TEST(AudioProcessorFiles, SeveralFilesLoadInPathOrderAndAFailureStaysInItsPlace) {
    zvtest::writeWav(file("short.wav"), 8000, 1, zvtest::sine(200, 8000, 4000));
    const std::vector<std::string> paths = {file("sine.wav"), file("absent.wav"),
                                            file("short.wav")};
    const auto results = AudioProcessor::loadAudioAt(paths);
    ASSERT_EQ(results.size(), 3u);
    ASSERT_TRUE(results[0].ok());
    EXPECT_EQ(results[0].get().size(), 80000u);
    ASSERT_FALSE(results[1].ok());
    EXPECT_EQ(whisperErrorOf([&] { results[1].get(); }),
              WhisperError::loadAudioFailed("Resource path does not exist " + paths[1]));
    ASSERT_TRUE(results[2].ok());
    EXPECT_EQ(results[2].get().size(), 8000u);
}

TEST(AudioProcessor, ChannelModesMakeMonoAsSpecified) {
    const std::vector<float> quiet = {0.1f, -0.2f, 0.3f, -0.1f};
    const std::vector<float> loud = {0.4f, 0.8f, -0.6f, 0.2f};
    const std::vector<float> negated = {-0.1f, 0.2f, -0.3f, 0.1f};
    struct Case {
        const char* name;
        std::vector<float> left, right;
        ChannelMode mode;
        std::vector<float> expected;
        bool defaultMessage;
    };
    const Case cases[] = {
        {"identical channels come back unchanged", quiet, quiet, ChannelMode::sumChannels(), quiet,
         false},
        {"an empty list means all channels", quiet, quiet,
         ChannelMode::sumChannels(std::vector<int>{}), quiet, false},
        {"cancelling channels give silence",
         quiet,
         negated,
         ChannelMode::sumChannels(),
         {0, 0, 0, 0},
         false},
        {"no valid index copies channel 0", quiet, loud,
         ChannelMode::sumChannels(std::vector<int>{5}), quiet, true},
        {"a repeated channel is rescaled to its peak", quiet, loud,
         ChannelMode::sumChannels(std::vector<int>{1, 1}), loud, false},
        {"a specific channel", quiet, loud, ChannelMode::specificChannel(1), loud, false},
        {"a channel out of range means channel 0", quiet, loud, ChannelMode::specificChannel(7),
         quiet, false},
        {"a negative channel means channel 0", quiet, loud, ChannelMode::specificChannel(-1), quiet,
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log;
        auto mono = AudioProcessor::convertToMono(stereoBuffer(c.left, c.right), c.mode);
        ASSERT_TRUE(mono);
        ASSERT_EQ(mono->format().channelCount(), 1u);
        const std::vector<float> samples = channel0(*mono);
        ASSERT_EQ(samples.size(), c.expected.size());
        for (size_t i = 0; i < samples.size(); ++i)
            EXPECT_NEAR(samples[i], c.expected[i], 1e-6f) << i;
        EXPECT_EQ(log.contains("No valid channel indices provided, defaulting to first channel"),
                  c.defaultMessage);
    }
    // The sum of different channels peaks at the loudest channel's peak.
    auto mixed =
        AudioProcessor::convertToMono(stereoBuffer(quiet, loud), ChannelMode::sumChannels());
    const std::vector<float> samples = channel0(*mixed);
    EXPECT_FLOAT_EQ(*std::max_element(samples.begin(), samples.end(),
                                      [](float a, float b) { return std::fabs(a) < std::fabs(b); }),
                    0.8f);
    // A mono buffer is handed back as it is.
    auto mono = PcmBuffer::make(*AudioFormat::standard(16000, 1), 4);
    auto shared = std::make_shared<PcmBuffer>(std::move(*mono));
    EXPECT_EQ(AudioProcessor::convertToMono(shared, ChannelMode::sumChannels()), shared);
}

TEST(AudioProcessor, PadOrTrimCutsOrPadsTheWindow) {
    std::vector<float> hundred(100);
    for (size_t i = 0; i < hundred.size(); ++i)
        hundred[i] = float(i + 1);
    std::vector<float> million(1'000'000);
    for (size_t i = 0; i < million.size(); ++i)
        million[i] = float(i);
    struct Case {
        const std::vector<float>* samples;
        int64_t startAt, length;
        int64_t copied; // samples taken from startAt on; -1 for no window
    };
    const std::vector<float> empty;
    const Case cases[] = {
        {&hundred, 0, 480000, 100}, {&hundred, 100, 480000, -1}, {&hundred, -1, 480000, -1},
        {&hundred, 10, 50, 50},     {&hundred, 99, 5, 1},        {&million, 480000, 480000, 480000},
        {&empty, 0, 480000, -1},    {&hundred, 0, 0, -1},        {&hundred, 0, -5, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << c.samples->size() << " " << c.startAt << " " << c.length);
        LogCapture log;
        auto window = AudioProcessing::padOrTrimAudio(*c.samples, c.startAt, c.length);
        if (c.copied < 0) {
            EXPECT_FALSE(window);
            continue;
        }
        ASSERT_TRUE(window);
        ASSERT_EQ(window->shape(), std::vector<int64_t>{c.length});
        const float* values = window->data<float>();
        for (int64_t i = 0; i < c.length; ++i) {
            const float expected = i < c.copied ? (*c.samples)[size_t(c.startAt + i)] : 0.0f;
            ASSERT_EQ(values[i], expected) << i;
        }
    }
    {
        LogCapture log;
        EXPECT_FALSE(AudioProcessing::padOrTrimAudio(hundred, 100, 10));
        EXPECT_TRUE(log.contains("startIndex is outside the buffer size"));
    }
    AudioProcessor processor;
    auto output = processor.padOrTrim(hundred, 0, 480000);
    ASSERT_TRUE(output);
    const auto* array = std::any_cast<platform::ml::MultiArray>(&*output);
    ASSERT_TRUE(array);
    EXPECT_EQ(array->count(), 480000);
    EXPECT_FALSE(processor.padOrTrim(hundred, 200, 480000));
}

TEST(AudioProcessor, BufferConversionRoundsItsCapacityAndFeedsEachBufferOnce) {
    const auto input = *AudioFormat::standard(44100, 1);
    const auto output = *AudioFormat::standard(16000, 1);
    auto buffer = [&](uint32_t frames, double phase) {
        auto made = std::make_shared<PcmBuffer>(std::move(*PcmBuffer::make(input, frames)));
        for (uint32_t i = 0; i < frames; ++i)
            made->channel(0)[i] =
                float(0.5 * std::sin(2 * std::numbers::pi * 440 * (phase + i) / 44100));
        made->setFrameLength(frames);
        return made;
    };
    {
        LogCapture log;
        auto converter = platform::audio::AudioConverter::make(input, output);
        EXPECT_EQ(AudioProcessor::resampleBuffer(*buffer(441, 0), *converter)->frameCapacity(),
                  160u);
        EXPECT_FALSE(log.contains("Rounding"));
        EXPECT_EQ(AudioProcessor::resampleBuffer(*buffer(100, 0), *converter)->frameCapacity(),
                  36u);
        EXPECT_TRUE(log.contains(
            "Rounding buffer frame capacity from 36.281179138321995 to 36.0 to better fit new "
            "sample rate"));
    }
    // A stream of tapped buffers through one converter: nothing is repeated,
    // so the output is as long as the input and the tone runs on smoothly.
    auto converter = platform::audio::AudioConverter::make(input, output);
    std::vector<float> stream;
    for (int i = 0; i < 100; ++i) {
        auto converted = AudioProcessor::resampleBuffer(*buffer(4410, 4410.0 * i), *converter);
        stream.insert(stream.end(), converted->channel(0),
                      converted->channel(0) + converted->frameLength());
    }
    auto end = AudioProcessor::resampleBuffer(*buffer(0, 0), *converter);
    stream.insert(stream.end(), end->channel(0), end->channel(0) + end->frameLength());
    EXPECT_EQ(stream.size(), 160000u);
    for (size_t i = 100; i + 100 < stream.size(); ++i) {
        ASSERT_NEAR(stream[i], 0.5 * std::sin(2 * std::numbers::pi * 440 * double(i) / 16000), 2e-3)
            << i;
    }
    // A one-off conversion of a whole buffer includes the filter's tail.
    auto whole = AudioProcessor::resampleAudio(*buffer(44100, 0), 16000, 1);
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->frameLength(), 16000u);
    EXPECT_FALSE(AudioProcessor::resampleAudio(*buffer(10, 0), 0.0, 1));
}

TEST(AudioProcessor, BufferToArrayCopiesChannelZeroAndLeavesSilence) {
    auto buffer = stereoBuffer(zvtest::sine(440, 44100, 3000), zvtest::sine(220, 44100, 3000));
    const std::vector<float> before = channel0(*buffer);
    for (int chunk : {1024, 1, 0}) {
        auto copy = stereoBuffer(before, before);
        EXPECT_EQ(AudioProcessor::convertBufferToArray(*copy, chunk), before);
        EXPECT_EQ(channel0(*copy), std::vector<float>(3000, 0.0f));
    }
}

TEST(AudioInputConfig, ChannelModeJsonForms) {
    const std::pair<ChannelMode, const char*> forms[] = {
        {ChannelMode::specificChannel(1), R"({"specificChannel":{"_0":1}})"},
        {ChannelMode::sumChannels(std::vector<int>{0, 2}), R"({"sumChannels":{"_0":[0,2]}})"},
        {ChannelMode::sumChannels(), R"({"sumChannels":{}})"},
    };
    for (const auto& [mode, text] : forms) {
        json::Writer writer;
        EXPECT_EQ(writer.write(mode.encode(writer)), text);
        json::Document document(text);
        EXPECT_EQ(ChannelMode::decode(document.root()), mode);
    }
    json::Document nullList(R"({"sumChannels":{"_0":null}})");
    EXPECT_EQ(ChannelMode::decode(nullList.root()), ChannelMode::sumChannels());
    for (const char* text :
         {R"({"specificChannel":{"_0":1},"sumChannels":{}})", "{}", R"({"other":{}})"}) {
        json::Document document(text);
        try {
            ChannelMode::decode(document.root());
            ADD_FAILURE() << text;
        } catch (const json::CodingError& error) {
            EXPECT_EQ(error.kind(), json::CodingError::Kind::typeMismatch);
            EXPECT_STREQ(error.what(), "Invalid number of keys found, expected one.");
        }
    }
    json::Document noIndex(R"({"specificChannel":{}})");
    EXPECT_THROW(ChannelMode::decode(noIndex.root()), json::CodingError);

    EXPECT_NE(ChannelMode::sumChannels(), ChannelMode::sumChannels(std::vector<int>{}));
    EXPECT_EQ(std::hash<ChannelMode>{}(ChannelMode::specificChannel(2)),
              std::hash<ChannelMode>{}(ChannelMode::specificChannel(2)));
    EXPECT_EQ(AudioInputConfig{}.channelMode, ChannelMode::sumChannels());
}

} // namespace
} // namespace murmex
