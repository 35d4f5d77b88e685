#include "murmex/records/DecodingOptions.h"

#include "murmex/base/JsonCoding.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

using murmex::ChunkingStrategy;
using murmex::DecodingOptions;
using murmex::DecodingTask;
using murmex::json::CodingError;

namespace {
std::string replaced(std::string text, const std::string& from, const std::string& to) {
    size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}
} // namespace

TEST(DecodingOptionsTest, DefaultsMatchTheDocumentedValues) {
    DecodingOptions o;
    EXPECT_FALSE(o.verbose);
    EXPECT_EQ(o.task, DecodingTask::transcribe);
    EXPECT_FALSE(o.language);
    EXPECT_EQ(o.temperature, 0.0f);
    EXPECT_EQ(o.temperatureIncrementOnFallback, 0.2f);
    EXPECT_EQ(o.temperatureFallbackCount, 5);
    EXPECT_EQ(o.sampleLength, 224);
    EXPECT_EQ(o.topK, 5);
    EXPECT_TRUE(o.usePrefillPrompt);
    EXPECT_TRUE(o.usePrefillCache);
    EXPECT_FALSE(o.detectLanguage);
    EXPECT_FALSE(o.skipSpecialTokens);
    EXPECT_FALSE(o.withoutTimestamps);
    EXPECT_FALSE(o.wordTimestamps);
    EXPECT_FALSE(o.maxInitialTimestamp);
    EXPECT_FALSE(o.maxWindowSeek);
    EXPECT_TRUE(o.clipTimestamps.empty());
    EXPECT_EQ(o.windowClipTime, 1.0f);
    EXPECT_FALSE(o.promptTokens);
    EXPECT_FALSE(o.prefixTokens);
    EXPECT_FALSE(o.suppressBlank);
    EXPECT_TRUE(o.supressTokens.empty());
    EXPECT_EQ(o.compressionRatioThreshold, 2.4f);
    EXPECT_EQ(o.logProbThreshold, -1.0f);
    EXPECT_EQ(o.firstTokenLogProbThreshold, -1.5f);
    EXPECT_EQ(o.noSpeechThreshold, 0.6f);
    EXPECT_EQ(o.concurrentWorkerCount, 16);
    EXPECT_FALSE(o.chunkingStrategy);
}

TEST(DecodingOptionsTest, DetectLanguageFollowsThePrefillPromptUnlessGiven) {
    EXPECT_TRUE((DecodingOptions{.usePrefillPrompt = false}.detectLanguage));
    EXPECT_FALSE(
        (DecodingOptions{.usePrefillPrompt = false, .detectLanguage = false}.detectLanguage));
    EXPECT_TRUE((DecodingOptions{.detectLanguage = true}.detectLanguage));
}

TEST(DecodingOptionsTest, EncodesPresentOptionalsOnly) {
    std::string json = DecodingOptions{}.toJson();
    for (const char* absent : {"\"language\"", "\"maxInitialTimestamp\"", "\"maxWindowSeek\"",
                               "\"promptTokens\"", "\"prefixTokens\"", "\"chunkingStrategy\""}) {
        EXPECT_EQ(json.find(absent), std::string::npos) << absent;
    }
    EXPECT_NE(json.find("\"supressTokens\":[]"), std::string::npos);
    EXPECT_NE(json.find("\"task\":{\"transcribe\":{}}"), std::string::npos);
    EXPECT_NE(json.find("\"compressionRatioThreshold\":2.4,"), std::string::npos);
    EXPECT_NE(json.find("\"logProbThreshold\":-1.0,"), std::string::npos);
    EXPECT_NE(json.find("\"temperatureIncrementOnFallback\":0.2,"), std::string::npos);
    EXPECT_NE(json.find("\"noSpeechThreshold\":0.6,"), std::string::npos);
}

TEST(DecodingOptionsTest, RoundTripsEveryField) {
    DecodingOptions o{.verbose = true,
                      .task = DecodingTask::translate,
                      .language = "ru",
                      .temperature = 0.4f,
                      .sampleLength = 100,
                      .usePrefillPrompt = false,
                      .detectLanguage = false,
                      .maxInitialTimestamp = 1.0f,
                      .maxWindowSeek = 960000,
                      .clipTimestamps = {0.5f, 12.25f},
                      .promptTokens = std::vector<int>{1, 2},
                      .prefixTokens = std::vector<int>{},
                      .supressTokens = {220, 50257},
                      .logProbThreshold = std::nullopt,
                      .concurrentWorkerCount = 3,
                      .chunkingStrategy = ChunkingStrategy::vad};
    DecodingOptions d = DecodingOptions::fromJson(o.toJson());
    EXPECT_TRUE(d.verbose);
    EXPECT_EQ(d.task, DecodingTask::translate);
    EXPECT_EQ(d.language, "ru");
    EXPECT_EQ(d.temperature, 0.4f);
    EXPECT_EQ(d.sampleLength, 100);
    EXPECT_FALSE(d.usePrefillPrompt);
    EXPECT_FALSE(d.detectLanguage);
    EXPECT_EQ(d.maxInitialTimestamp, 1.0f);
    EXPECT_EQ(d.maxWindowSeek, 960000);
    EXPECT_EQ(d.clipTimestamps, (std::vector<float>{0.5f, 12.25f}));
    EXPECT_EQ(d.promptTokens, (std::vector<int>{1, 2}));
    EXPECT_EQ(d.prefixTokens, std::vector<int>{});
    EXPECT_EQ(d.supressTokens, (std::vector<int>{220, 50257}));
    EXPECT_FALSE(d.logProbThreshold);
    EXPECT_EQ(d.compressionRatioThreshold, 2.4f);
    EXPECT_EQ(d.concurrentWorkerCount, 3);
    EXPECT_EQ(d.chunkingStrategy, ChunkingStrategy::vad);
}

TEST(DecodingOptionsTest, DecodingRequiresNonOptionalKeysAndResolvesNothing) {
    std::string json = DecodingOptions{}.toJson();
    std::string withoutWorkers = replaced(json, ",\"concurrentWorkerCount\":16", "");
    try {
        DecodingOptions::fromJson(withoutWorkers);
        FAIL() << "missing key accepted";
    } catch (const CodingError& error) {
        EXPECT_EQ(error.kind(), CodingError::Kind::keyNotFound);
    }

    std::string wrongType = replaced(json, "\"topK\":5", "\"topK\":\"5\"");
    EXPECT_THROW(DecodingOptions::fromJson(wrongType), CodingError);

    std::string badStrategy = json;
    badStrategy.insert(badStrategy.size() - 1, ",\"chunkingStrategy\":\"VAD\"");
    EXPECT_THROW(DecodingOptions::fromJson(badStrategy), CodingError);

    // A decoded usePrefillPrompt false keeps the decoded detectLanguage.
    std::string noPrompt =
        replaced(json, "\"usePrefillPrompt\":true", "\"usePrefillPrompt\":false");
    EXPECT_FALSE(DecodingOptions::fromJson(noPrompt).detectLanguage);
}

TEST(DecodingOptionsTest, DecodingTaskCodingUsesOneKeyObjects) {
    DecodingOptions translate{.task = DecodingTask::translate};
    EXPECT_NE(translate.toJson().find("\"task\":{\"translate\":{}}"), std::string::npos);

    std::string json = DecodingOptions{}.toJson();
    for (const char* task : {"{\"transcribe\":{},\"translate\":{}}", "{}"}) {
        std::string bad = replaced(json, "{\"transcribe\":{}}", task);
        try {
            DecodingOptions::fromJson(bad);
            FAIL() << task;
        } catch (const CodingError& error) {
            EXPECT_EQ(error.kind(), CodingError::Kind::typeMismatch);
            EXPECT_STREQ(error.what(), "Invalid number of keys found, expected one.");
        }
    }
    // The nested object's contents are ignored.
    std::string extra = replaced(json, "{\"transcribe\":{}}", "{\"translate\":{\"x\":1}}");
    EXPECT_EQ(DecodingOptions::fromJson(extra).task, DecodingTask::translate);
}

TEST(DecodingOptionsTest, ChunkingStrategyRawValuesAreExact) {
    EXPECT_EQ(murmex::chunkingStrategyFromRawValue("vad"), ChunkingStrategy::vad);
    EXPECT_EQ(murmex::chunkingStrategyFromRawValue("none"), ChunkingStrategy::none);
    EXPECT_FALSE(murmex::chunkingStrategyFromRawValue("VAD"));
    EXPECT_EQ(murmex::description(DecodingTask::translate), "translate");
}

TEST(DecodingOptionsTest, PrepareSeekClips) {
    using Clips = std::vector<std::pair<int64_t, int64_t>>;
    struct Case {
        std::vector<float> times;
        Clips expected;
    };
    const int64_t n = 1000;
    const Case cases[] = {
        {{}, {{0, n}}},
        {{1.5f}, {{24000, n}}},
        {{0.0f, 10.0f, 20.0f}, {{0, 160000}, {320000, n}}},
        {{0.00003f}, {{0, n}}},           // 0.48 samples
        {{0.0000313f}, {{1, n}}},         // 0.5008 samples
        {{5.0f, 2.0f}, {{80000, 32000}}}, // not validated
        {{-0.0000313f}, {{-1, n}}},       // halves away from zero
    };
    for (const Case& c : cases) {
        DecodingOptions o{.clipTimestamps = c.times};
        EXPECT_EQ(o.prepareSeekClips(n), c.expected);
    }
}

TEST(DecodingOptionsTest, PrepareSeekClipsClampsNonFiniteAndHugeTimes) {
    const int64_t limit = int64_t{1} << 62;
    const float inf = std::numeric_limits<float>::infinity();
    DecodingOptions o{.clipTimestamps = {std::nanf(""), inf, -inf, 1e30f, -1e30f, 1e13f}};
    auto clips = o.prepareSeekClips(1000);
    ASSERT_EQ(clips.size(), 3u);
    EXPECT_EQ(clips[0], std::make_pair(int64_t{0}, limit));
    EXPECT_EQ(clips[1], std::make_pair(-limit, limit));
    EXPECT_EQ(clips[2].first, -limit);
    EXPECT_EQ(clips[2].second, static_cast<int64_t>(1e13f * 16000.0f));
}
