#include "platform/audio/AudioFile.h"

#include "platform/audio/AudioFixtures.h"
#include "platform/system/SystemError.h"

#include <fstream>
#include <gtest/gtest.h>

namespace platform::audio {
namespace {

using platform::system::SystemError;

std::vector<float> readAll(AudioFile& file, uint32_t channel = 0) {
    auto buffer = PcmBuffer::make(file.processingFormat(), 100'000);
    std::vector<float> samples;
    do {
        file.read(*buffer, buffer->frameCapacity());
        samples.insert(samples.end(), buffer->channel(channel),
                       buffer->channel(channel) + buffer->frameLength());
    } while (buffer->frameLength() > 0);
    return samples;
}

/// Formats encoded on first use from the shared sine (louder on the left).
std::string make(const std::string& name, const std::string& options) {
    const std::string path = zvtest::sineFolder().file(name);
    if (!std::filesystem::exists(path)) {
        EXPECT_TRUE(zvtest::ffmpegEncode(zvtest::sineFolder().file("sine.wav"), path, options))
            << name;
    }
    return path;
}

TEST(AudioFileFormats, EveryFormatReadsWithExactLengthAndTone) {
    struct Case {
        const char* name;
        const char* options;
        int rate;
        double tolerance; // of the left channel's level, 0.5 / sqrt(2) when exact
    };
    const Case cases[] = {
        {"s16.wav", "-c:a pcm_s16le", 44100, 1e-4},
        {"s24.wav", "-c:a pcm_s24le", 44100, 1e-4},
        {"s32.wav", "-c:a pcm_s32le", 44100, 1e-4},
        {"f32.wav", "-c:a pcm_f32le", 44100, 1e-4},
        {"u8.wav", "-c:a pcm_u8", 44100, 5e-3},
        {"a.aiff", "", 44100, 1e-4},
        {"a.caf", "", 44100, 1e-4},
        {"a.flac", "", 44100, 1e-4},
        {"a.mp3", "-b:a 192k", 44100, 2e-2},
        {"a.m4a", "-c:a aac -b:a 160k", 44100, 2e-2},
        {"a.ogg", "-c:a libopus -b:a 96k", 48000, 2e-2},
        {"video.mp4",
         "-f lavfi -i testsrc=size=64x64:rate=10:duration=5 -map 1:v -map 0:a -c:v mpeg4 -c:a aac",
         44100, 2e-2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto file = AudioFile::open(make(c.name, c.options));
        EXPECT_EQ(file->sampleRate(), c.rate);
        EXPECT_EQ(file->channelCount(), 2u);
        // Compressed containers may count the encoder's padding in the length;
        // reads deliver exactly the audio.
        EXPECT_GE(file->length(), 5 * c.rate);
        EXPECT_LE(file->length(), 5 * c.rate + c.rate / 20);
        const std::vector<float> left = readAll(*file, 0);
        EXPECT_EQ(int64_t(left.size()), 5 * c.rate);
        EXPECT_NEAR(zvtest::toneFrequency(left, c.rate), 440.0, 0.5);
        EXPECT_NEAR(zvtest::rms(left, left.size() / 10, left.size() * 9 / 10), 0.5 / std::sqrt(2.0),
                    c.tolerance);
        EXPECT_EQ(file->framePosition(), 5 * c.rate);
    }
}

TEST(AudioFileFormats, ReadingFromAPositionGivesTheSameFramesAsAFullRead) {
    // PCM seeks through the demuxer; compressed files decode up to the frame.
    for (const char* name : {"s16.wav", "a.flac", "a.mp3"}) {
        SCOPED_TRACE(name);
        const std::string format = name;
        const std::string options = format == "a.mp3"    ? "-b:a 192k"
                                    : format == "a.flac" ? "-c:a flac"
                                                         : "-c:a pcm_s16le";
        const std::string path = make(name, options);
        auto file = AudioFile::open(path);
        const std::vector<float> all = readAll(*file);
        for (int64_t start : {int64_t(100'000), int64_t(1), int64_t(150'001), int64_t(0)}) {
            file->setFramePosition(start);
            auto buffer = PcmBuffer::make(file->processingFormat(), 5000);
            file->read(*buffer, 3000);
            ASSERT_EQ(buffer->frameLength(), 3000u);
            for (uint32_t i = 0; i < 3000; ++i)
                ASSERT_EQ(buffer->channel(0)[i], all[size_t(start) + i]) << start;
            EXPECT_EQ(file->framePosition(), start + 3000);
        }
        file->setFramePosition(int64_t(all.size()) - 10);
        auto buffer = PcmBuffer::make(file->processingFormat(), 100);
        file->read(*buffer, 100);
        EXPECT_EQ(buffer->frameLength(), 10u);
        file->setFramePosition(file->length() + 5);
        file->read(*buffer, 100);
        EXPECT_EQ(buffer->frameLength(), 0u);
    }
}

TEST(AudioFile, SixteenBitSamplesReadAsExactFractions) {
    zvtest::TempFolder folder;
    const std::string path = folder.file("values.wav");
    const std::vector<float> written = {0.0f, -1.0f, 0.5f, 0.25f, -0.125f, 32767.0f / 32768.0f};
    zvtest::writeWav(path, 16000, 1, written);
    auto file = AudioFile::open(path);
    EXPECT_EQ(file->length(), 6);
    auto buffer = PcmBuffer::make(file->processingFormat(), 16);
    file->read(*buffer, 16);
    ASSERT_EQ(buffer->frameLength(), 6u);
    // Written as round(x * 32767), read back as n / 32768.
    for (size_t i = 0; i < written.size(); ++i) {
        EXPECT_EQ(buffer->channel(0)[i],
                  float(std::lround(std::clamp(written[i], -1.0f, 1.0f) * 32767.0f)) / 32768.0f);
    }
}

TEST(AudioFile, AHeaderThatClaimsMoreThanTheFileHoldsIsBoundedByTheBytes) {
    zvtest::TempFolder folder;
    const std::string path = folder.file("liar.wav");
    zvtest::writeWav(path, 44100, 2, zvtest::sine(440, 44100, 1000, 2), false, 0x7ffffff0);
    auto file = AudioFile::open(path);
    EXPECT_EQ(file->length(), 1000);
}

TEST(AudioFile, FilesThatAreNotAudioFailWithAMessageNamingTheFile) {
    zvtest::TempFolder folder;
    const std::string text = folder.file("notes.wav");
    std::ofstream(text) << "these are not the samples you are looking for\n";
    const std::string empty = folder.file("empty.flac");
    std::ofstream{empty};
    const std::string image = folder.file("picture.png");
    ASSERT_EQ(
        std::system(
            ("ffmpeg -nostdin -loglevel error -y -f lavfi -i color=c=red:s=8x8 -frames:v 1 '" +
             image + "'")
                .c_str()),
        0);
    for (const std::string& path : {text, empty, image, folder.file("missing.wav")}) {
        SCOPED_TRACE(path);
        try {
            AudioFile::open(path);
            ADD_FAILURE() << "opened";
        } catch (const SystemError& error) {
            EXPECT_EQ(error.domain(), AudioFile::errorDomain);
            EXPECT_NE(std::string(error.what()).find(path), std::string::npos) << error.what();
        }
    }
}

} // namespace
} // namespace platform::audio
