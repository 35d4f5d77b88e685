#include "platform/system/LogSink.h"
#include "platform/system/Signpost.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace platform::system;

TEST(LogSink, WritesWholeLinesToStandardErrorOnly) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    LogSink::write(LogType::error, "Tessary", "model missing");
    std::string err = testing::internal::GetCapturedStderr();
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(err, "[Tessary] error: model missing\n");
    EXPECT_EQ(out, "");
}

TEST(Signpost, IntervalsEndOnceAndRespectTheSwitch) {
    std::vector<std::string> lines;
    bool enabled = true;
    Signposter signposter(
        "TranscribeTask", [&] { return enabled; },
        [&](std::string_view line) { lines.emplace_back(line); });
    SignpostInterval interval = signposter.beginInterval("Decode");
    EXPECT_TRUE(interval.isOpen());
    signposter.endInterval("Decode", interval);
    EXPECT_FALSE(interval.isOpen());
    signposter.endInterval("Decode", interval);
    ASSERT_EQ(lines.size(), 2u);
    std::string prefix = "Decode [" + std::to_string(interval.id()) + "]: ";
    EXPECT_TRUE(lines[0].starts_with(prefix) && lines[0].ends_with(" ms")) << lines[0];
    EXPECT_EQ(lines[1], prefix + "[Error] Interval already ended");

    enabled = false;
    { ScopedSignpost scoped(signposter, "EncodeAudio"); }
    EXPECT_EQ(lines.size(), 2u);
    enabled = true;
    { ScopedSignpost scoped(signposter, "EncodeAudio"); }
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(lines[2].starts_with("EncodeAudio [")) << lines[2];

    EXPECT_EQ(Signposter::intervalLine("X", 7, std::chrono::microseconds(1500)), "X [7]: 1.500 ms");
    EXPECT_NE(signposter.beginInterval("a").id(), signposter.beginInterval("a").id());
}
