#include "platform/audio/AudioConverter.h"

#include "platform/audio/AudioFixtures.h"

#include <gtest/gtest.h>

namespace platform::audio {
namespace {

AudioFormat format(double rate, uint32_t channels) {
    return *AudioFormat::standard(rate, channels);
}

/// Converts mono `input` in pieces of `piece` frames into output slices of at
/// most `room` frames, then flushes.
std::vector<float> convertInPieces(const std::vector<float>& input, uint32_t piece, uint32_t room) {
    auto converter = AudioConverter::make(format(44100, 1), format(16000, 1));
    std::vector<float> output;
    std::vector<float> slice(room);
    float* out[] = {slice.data()};
    for (size_t at = 0; at < input.size(); at += piece) {
        const float* in[] = {input.data() + at};
        const auto frames = uint32_t(std::min<size_t>(piece, input.size() - at));
        int64_t written = converter->convert(in, frames, out, room);
        EXPECT_GE(written, 0);
        output.insert(output.end(), slice.begin(), slice.begin() + written);
        // Whatever did not fit comes out on later calls without new input.
        while (written == room) {
            written = converter->convert(in, 0, out, room);
            output.insert(output.end(), slice.begin(), slice.begin() + written);
        }
    }
    for (int64_t written; (written = converter->flush(out, room)) > 0;) {
        output.insert(output.end(), slice.begin(), slice.begin() + written);
        if (written < room) break;
    }
    return output;
}

TEST(AudioConverter, PiecesJoinWithoutSeamsAndEveryFrameIsUsedOnce) {
    const std::vector<float> input = zvtest::sine(440, 44100, 441'000);
    const std::vector<float> whole =
        convertInPieces(input, uint32_t(input.size()), uint32_t(input.size()));
    EXPECT_EQ(whole.size(), 160'000u);
    for (auto [piece, room] :
         {std::pair{1000u, 100'000u}, {4410u, 97u}, {1u, 3u}, {77'777u, 160'000u}}) {
        SCOPED_TRACE(testing::Message() << piece << " " << room);
        const std::vector<float> pieces = convertInPieces(input, piece, room);
        ASSERT_EQ(pieces.size(), whole.size());
        for (size_t i = 0; i < whole.size(); ++i)
            ASSERT_NEAR(pieces[i], whole[i], 1e-6f) << i;
    }
    EXPECT_NEAR(zvtest::toneFrequency(whole, 16000), 440.0, 0.1);
}

TEST(AudioConverter, ConversionAddsNoDelay) {
    std::vector<float> input(44100 * 4, 0.0f);
    input[88200] = 1.0f; // two seconds in
    const std::vector<float> output = convertInPieces(input, 10'000, 50'000);
    const auto peak = std::max_element(
        output.begin(), output.end(), [](float a, float b) { return std::fabs(a) < std::fabs(b); });
    EXPECT_EQ(peak - output.begin(), 32000);
}

TEST(AudioConverter, ManyChannelsToOneAverageThem) {
    auto converter = AudioConverter::make(format(16000, 2), format(16000, 1));
    ASSERT_TRUE(converter);
    auto stereo = PcmBuffer::make(format(16000, 2), 4);
    const float left[] = {0.5f, -0.5f, 0.25f, 1.0f}, right[] = {0.5f, 0.5f, 0.75f, 0.0f};
    std::copy(left, left + 4, stereo->channel(0));
    std::copy(right, right + 4, stereo->channel(1));
    stereo->setFrameLength(4);
    auto mono = PcmBuffer::make(format(16000, 1), 8);
    EXPECT_EQ(converter->convert(*stereo, *mono, true), 4);
    ASSERT_EQ(mono->frameLength(), 4u);
    const float expected[] = {0.5f, 0.0f, 0.5f, 0.5f};
    for (int i = 0; i < 4; ++i)
        EXPECT_FLOAT_EQ(mono->channel(0)[i], expected[i]);
}

TEST(AudioConverter, BufferConversionAppendsBehindTheFramesHeldAndStopsAtCapacity) {
    auto converter = AudioConverter::make(format(44100, 1), format(16000, 1));
    auto source = PcmBuffer::make(format(44100, 1), 441);
    std::fill(source->channel(0), source->channel(0) + 441, 0.25f);
    source->setFrameLength(441);
    auto destination = PcmBuffer::make(format(16000, 1), 250);
    destination->setFrameLength(100);
    EXPECT_EQ(converter->convert(*source, *destination, true), 150);
    EXPECT_EQ(destination->frameLength(), 250u);
    // Mismatched channel counts are refused.
    auto stereo = PcmBuffer::make(format(44100, 2), 10);
    EXPECT_LT(converter->convert(*stereo, *destination, true), 0);
}

} // namespace
} // namespace platform::audio
