#include "platform/audio/AudioFileReader.h"

#include "platform/audio/AudioFixtures.h"
#include "platform/audio/AudioReadError.h"

#include <gtest/gtest.h>

namespace platform::audio {
namespace {

/// Counts what the reader announces.
struct CountingObserver : AudioFileReader::Observer {
    int conversions = 0;
    std::vector<std::pair<int64_t, int64_t>> pieces;
    void conversionStarting(int64_t, double) override { ++conversions; }
    void pieceReading(int64_t from, int64_t to, double) override { pieces.emplace_back(from, to); }
};

template <typename Fn> AudioReadError readErrorOf(Fn&& fn) {
    try {
        fn();
    } catch (const AudioReadError& error) {
        return error;
    }
    ADD_FAILURE() << "no AudioReadError thrown";
    return AudioReadError(AudioReadError::Kind::outOfMemory, "none");
}

const zvtest::TempFolder& folder() {
    static const zvtest::TempFolder made;
    return made;
}

/// Ten seconds of a stereo two-tone signal at 44.1 kHz.
const std::string& stereoFile() {
    static const std::string path = [] {
        std::string file = folder().file("stereo.wav");
        std::vector<float> samples = zvtest::sine(440, 44100, 10 * 44100, 2);
        const std::vector<float> other = zvtest::sine(1234, 44100, 10 * 44100, 2, 0.3f);
        for (size_t i = 1; i < samples.size(); i += 2)
            samples[i] = other[i];
        zvtest::writeWav(file, 44100, 2, samples);
        return file;
    }();
    return path;
}

std::vector<float> readWhole(std::optional<uint32_t> pieceFrames, CountingObserver* observer) {
    auto file = AudioFile::open(stereoFile());
    // One channel: a sum is rescaled piece by piece, a copy is not.
    AudioFileReader reader(*file, 16000, MonoMix::channel(0), observer);
    std::vector<float> samples;
    reader.appendRange(std::nullopt, std::nullopt, true, samples, pieceFrames);
    return samples;
}

TEST(AudioFileReader, SmallPiecesReadAheadGiveTheSameSamplesAsOnePiece) {
    const std::vector<float> whole = readWhole(std::nullopt, nullptr);
    ASSERT_EQ(whole.size(), 160000u);
    CountingObserver observer;
    // 10,000-frame pieces: 45 reads, most of them on the read-ahead thread.
    const std::vector<float> pieces = readWhole(10000, &observer);
    EXPECT_EQ(pieces, whole);
    EXPECT_EQ(observer.conversions, 1);
    ASSERT_EQ(observer.pieces.size(), 45u);
    EXPECT_EQ(observer.pieces.front(), (std::pair<int64_t, int64_t>{0, 10000}));
    EXPECT_EQ(observer.pieces.back(), (std::pair<int64_t, int64_t>{440000, 441000}));
}

TEST(AudioFileReader, ConsecutiveRangesContinueOneStream) {
    const std::vector<float> whole = readWhole(std::nullopt, nullptr);
    auto file = AudioFile::open(stereoFile());
    AudioFileReader reader(*file, 16000, MonoMix::channel(0));
    std::vector<float> samples;
    for (double start = 0; start < 10; start += 2.5)
        reader.appendRange(start, start + 2.5, start + 2.5 >= 10, samples, 20000);
    ASSERT_EQ(samples.size(), whole.size());
    for (size_t i = 0; i < samples.size(); ++i)
        ASSERT_NEAR(samples[i], whole[i], 1e-6f) << i;
}

TEST(AudioFileReader, ConversionToAnotherFormatEndsItsStream) {
    auto file = AudioFile::open(stereoFile());
    AudioFileReader reader(*file, 16000, MonoMix::channel(1));
    file->setFramePosition(44100);
    const PcmBuffer buffer = reader.convert(*AudioFormat::standard(8000, 2), 2 * 44100, 30000);
    EXPECT_EQ(buffer.format(), *AudioFormat::standard(8000, 2));
    EXPECT_EQ(buffer.frameLength(), 16000u);
    std::vector<float> right(buffer.channel(1), buffer.channel(1) + buffer.frameLength());
    EXPECT_NEAR(zvtest::toneFrequency(right, 8000), 1234.0, 1.0);
}

TEST(AudioFileReader, FailuresSayWhichStepFailedAndWhy) {
    using Kind = AudioReadError::Kind;
    auto file = AudioFile::open(stereoFile());
    AudioFileReader reader(*file, 16000);
    std::vector<float> samples;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::pair<std::optional<double>, std::optional<double>> ranges[] = {
        {-1.0, std::nullopt}, {nan, 2.0}, {0.0, -1.0}, {3.0, 2.0}};
    for (auto [start, end] : ranges) {
        const AudioReadError error =
            readErrorOf([&] { reader.appendRange(start, end, true, samples); });
        EXPECT_EQ(error.kind(), Kind::invalidRange) << error.what();
    }
    EXPECT_TRUE(samples.empty());

    // A file whose every compressed packet is damaged opens, but reading it
    // fails with the decoder's reason.
    const std::string damaged = folder().file("damaged.mka");
    ASSERT_TRUE(zvtest::ffmpegEncode(stereoFile(), damaged, "-c:a flac -bsf:a noise=amount=2"));
    auto broken = AudioFile::open(damaged);
    AudioFileReader brokenReader(*broken, 16000);
    const AudioReadError error =
        readErrorOf([&] { brokenReader.appendRange(std::nullopt, std::nullopt, true, samples); });
    EXPECT_EQ(error.kind(), Kind::readFailed);
    EXPECT_EQ(
        std::string(error.what()).rfind("Error reading audio file: Error decoding " + damaged, 0),
        0u)
        << error.what();
    EXPECT_TRUE(samples.empty());
}

} // namespace
} // namespace platform::audio
