#include "murmex/utilities/Extensions.h"

#include "murmex/core/AudioChunk.h"
#include "murmex/core/MurmexConfig.h"
#include "murmex/utilities/EngineSignposts.h"
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

TEST(ExtensionsTest, ContainsSegmentComparesStartsOnly) {
    TranscriptionSegment a;
    a.start = 1.5f;
    a.text = "a";
    TranscriptionSegment b = a;
    b.text = "other";
    b.end = 9;
    EXPECT_FALSE(containsSegment({}, a));
    EXPECT_TRUE(containsSegment({b}, a));
    b.start = 1.6f;
    EXPECT_FALSE(containsSegment({b}, a));
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

TEST(ExtensionsTest, ConfigurationDefaultsAskTheEngineForItsOwn) {
    MurmexConfig config;
    EXPECT_FALSE(config.model);
    EXPECT_FALSE(config.modelRepo);
    EXPECT_FALSE(config.computeOptions);
    EXPECT_FALSE(config.audioInputConfig);
    EXPECT_FALSE(config.textDecoder);
    EXPECT_FALSE(config.logitsFilters);
    EXPECT_FALSE(config.prewarm);
    EXPECT_FALSE(config.load);
    EXPECT_TRUE(config.verbose);
    EXPECT_EQ(config.logLevel, tessary::Logging::LogLevel::info);

    MurmexConfig given{.modelFolder = "/m",
                       .logitsFilters = std::vector<std::shared_ptr<LogitsFiltering>>{},
                       .verbose = false,
                       .download = false};
    EXPECT_EQ(given.modelFolder, "/m");
    EXPECT_TRUE(given.logitsFilters && given.logitsFilters->empty());
    EXPECT_FALSE(given.download);

    AudioChunk chunk{480000, {0.5f}};
    EXPECT_EQ(chunk.seekOffsetIndex, 480000);
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
