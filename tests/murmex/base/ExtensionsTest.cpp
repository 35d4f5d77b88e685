#include "murmex/base/Extensions.h"

#include "murmex/base/EngineSignposts.h"
#include "tessary_core/Logging.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <mutex>
#include <stdexcept>

using namespace murmex;
using platform::system::Outcome;

TEST(ExtensionsTest, TrimmingSpecialTokenCharacters) {
    EXPECT_EQ(trimmingSpecialTokenCharacters("<|en|>"), "en");
    EXPECT_EQ(trimmingSpecialTokenCharacters("a<|b"), "a<|b");
    EXPECT_EQ(trimmingSpecialTokenCharacters("<||>"), "");
    EXPECT_EQ(trimmingSpecialTokenCharacters(""), "");
}

TEST(ExtensionsTest, Normalized) {
    const std::pair<const char*, const char*> cases[] = {
        {"Hello,  World-Wide!", "hello world wide"},
        {" . . . ", ""},
        {"  Привет, МИР!\n", "привет мир"},
        {"don't stop", "dont stop"},
        {"«Ёлка» — 2024", "ёлка 2024"},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(normalized(text), expected) << text;
}

TEST(ExtensionsTest, ToOptionalArraysKeepsOrderAndDropsFailures) {
    using Results = std::vector<int>;
    std::vector<Outcome<Results>> outcomes{
        Results{1, 2}, std::make_exception_ptr(std::runtime_error("x")), Results{}};
    auto values = toOptionalArrays(outcomes);
    ASSERT_EQ(values.size(), 3u);
    EXPECT_EQ(values[0], (Results{1, 2}));
    EXPECT_FALSE(values[1]);
    EXPECT_EQ(values[2], Results{});
}

TEST(ExtensionsTest, ResolveAbsolutePath) {
    EXPECT_EQ(resolveAbsolutePath("/a/b"), "/a/b");
    EXPECT_EQ(resolveAbsolutePath("name"), std::filesystem::current_path().string() + "/name");
}

TEST(ExtensionsTest, SignpostsReachTheEngineLoggerOnlyAtDebugLevel) {
    using tessary::Logging;
    std::vector<std::string> lines;
    std::mutex mutex;
    Logging::shared().setLoggingCallback([&](const std::string& line) {
        std::lock_guard lock(mutex);
        lines.push_back(line);
    });
    const auto& signposter = Signposts::TranscribeTask::signposter();

    Logging::shared().setLogLevel(Logging::LogLevel::info);
    auto quiet = Signposts::beginSignpost("Decode", signposter);
    Signposts::endSignpost("Decode", quiet, signposter);
    EXPECT_TRUE(lines.empty());

    Logging::shared().setLogLevel(Logging::LogLevel::debug);
    auto interval = Signposts::beginSignpost("TranscribeAudio", signposter);
    Signposts::endSignpost("TranscribeAudio", interval, signposter);
    Signposts::endSignpost("TranscribeAudio", interval, signposter);
    Logging::shared().setLoggingCallback({});
    Logging::shared().setLogLevel(Logging::LogLevel::none);

    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].rfind("[TranscribeTask] TranscribeAudio [", 0), 0u) << lines[0];
    EXPECT_NE(lines[1].find("[Error] Interval already ended"), std::string::npos);
    EXPECT_EQ(Signposts::AudioEncoding::signposter().category(), "AudioEncoding");
    EXPECT_EQ(Signposts::FeatureExtractor::signposter().category(), "FeatureExtractor");
}
