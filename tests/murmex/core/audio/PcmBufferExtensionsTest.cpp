#include "murmex/core/audio/PcmBufferExtensions.h"

#include "tessary_core/Logging.h"

#include <gtest/gtest.h>

using murmex::appendContents;
using platform::audio::AudioFormat;
using platform::audio::PcmBuffer;

namespace {

PcmBuffer buffer(uint32_t channels, uint32_t capacity, uint32_t filled, float base) {
    PcmBuffer b = *PcmBuffer::make(*AudioFormat::standard(16000, channels), capacity);
    for (uint32_t c = 0; c < channels; ++c) {
        for (uint32_t i = 0; i < filled; ++i)
            b.channel(c)[i] = base + float(c * 1000 + i);
    }
    b.setFrameLength(filled);
    return b;
}

} // namespace

TEST(PcmBufferExtensionsTest, AppendsEveryChannelAndCutsToTheRoomLeft) {
    PcmBuffer destination = buffer(2, 45, 5, 0);
    PcmBuffer source = buffer(2, 200, 200, 10000);

    std::vector<std::string> lines;
    tessary::Logging::shared().setLogLevel(tessary::Logging::LogLevel::debug);
    tessary::Logging::shared().setLoggingCallback(
        [&](const std::string& line) { lines.push_back(line); });
    EXPECT_TRUE(appendContents(destination, source, 0, 0));
    EXPECT_EQ(destination.frameLength(), 5u);
    EXPECT_TRUE(appendContents(destination, source, 50, 100)); // room for 40 only
    tessary::Logging::shared().setLoggingCallback({});
    tessary::Logging::shared().setLogLevel(tessary::Logging::LogLevel::none);

    EXPECT_EQ(lines, std::vector<std::string>{
                         "Insufficient space in buffer, reducing frame count to fit"});
    EXPECT_EQ(destination.frameLength(), 45u);
    EXPECT_EQ(destination.channel(0)[4], 4.0f);
    EXPECT_EQ(destination.channel(0)[5], 10050.0f);
    EXPECT_EQ(destination.channel(0)[44], 10089.0f);
    EXPECT_EQ(destination.channel(1)[5], 11050.0f);
}

TEST(PcmBufferExtensionsTest, RefusesMismatchedFormatsAndShortSources) {
    PcmBuffer destination = buffer(1, 100, 3, 0);
    PcmBuffer stereo = buffer(2, 100, 100, 0);
    PcmBuffer shortSource = buffer(1, 100, 10, 0);
    EXPECT_FALSE(appendContents(destination, stereo, 0, 1));
    EXPECT_FALSE(appendContents(destination, shortSource, 5, 6));
    EXPECT_FALSE(appendContents(destination, shortSource, -1, 2));
    EXPECT_EQ(destination.frameLength(), 3u);
    EXPECT_TRUE(appendContents(destination, shortSource, 5, 5));
    EXPECT_EQ(destination.frameLength(), 8u);
}
