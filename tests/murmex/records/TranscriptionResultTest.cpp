#include "murmex/records/TranscriptionResult.h"

#include "murmex/base/JsonCoding.h"
#include "murmex/records/TranscriptionProgress.h"
#include "murmex/records/TranscriptionState.h"
#include "tessary_core/Logging.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_set>

using namespace murmex;
using json::CodingError;
using tessary::Logging;

namespace {

WordTiming word(std::string text, float start, float end) {
    return WordTiming{std::move(text), {1, 2}, start, end, 0.9f};
}

TranscriptionSegment segment(int id, float start, float end, std::string text,
                             std::optional<std::vector<WordTiming>> words = std::nullopt) {
    return TranscriptionSegment{id,
                                0,
                                start,
                                end,
                                std::move(text),
                                {50364, 100, 200},
                                {{{100, -0.25f}}, {{200, -0.5f}}},
                                0.0f,
                                -0.375f,
                                1.5f,
                                0.1f,
                                std::move(words)};
}

// Captures every emitted log line while alive.
class LogCapture {
public:
    explicit LogCapture(Logging::LogLevel level) : previousLevel_(Logging::shared().logLevel()) {
        Logging::shared().setLogLevel(level);
        Logging::shared().setLoggingCallback([this](const std::string& line) {
            std::lock_guard lock(mutex_);
            lines_.push_back(line);
        });
    }
    ~LogCapture() {
        Logging::shared().setLoggingCallback({});
        Logging::shared().setLogLevel(previousLevel_);
    }
    std::vector<std::string> lines() {
        std::lock_guard lock(mutex_);
        return lines_;
    }

private:
    Logging::LogLevel previousLevel_;
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

} // namespace

TEST(TranscriptionTimingsTest, DefaultsAndDerivedValues) {
    TranscriptionTimings t;
    EXPECT_EQ(t.pipelineStart, std::numeric_limits<double>::max());
    EXPECT_EQ(t.firstTokenTime, std::numeric_limits<double>::max());
    EXPECT_EQ(t.inputAudioSeconds, 0.001);
    EXPECT_EQ(t.fullPipeline, 0);
    EXPECT_EQ(t.totalDecodingWindows, 0);
    EXPECT_FALSE(std::isfinite(t.tokensPerSecond()));
    EXPECT_FALSE(std::isfinite(t.speedFactor()));

    t.fullPipeline = 2;
    EXPECT_DOUBLE_EQ(t.realTimeFactor(), 2000);
    EXPECT_DOUBLE_EQ(t.speedFactor(), 0.0005);
}

TEST(TranscriptionTimingsTest, JsonRoundTripKeepsEveryFieldAndRequiresAllKeys) {
    TranscriptionTimings t;
    t.decodingWordTimestamps = 0.125;
    t.totalDecodingLoops = 42;
    t.fullPipeline = 3.5;
    std::string json = t.toJson();
    EXPECT_NE(json.find("\"pipelineStart\":1.7976931348623157e+308"), std::string::npos) << json;
    EXPECT_NE(json.find("\"decodingWordTimestamps\":0.125"), std::string::npos);
    EXPECT_NE(json.find("\"totalDecodingLoops\":42.0"), std::string::npos);
    EXPECT_EQ(TranscriptionTimings::fromJson(json), t);

    std::string missing = json.substr(0, json.find(",\"fullPipeline\"")) + "}";
    EXPECT_THROW(TranscriptionTimings::fromJson(missing), CodingError);
}

TEST(TranscriptionTimingsTest, AddingAWindowsDecodingFiguresLeavesTheRunsOwnAlone) {
    TranscriptionTimings run;
    run.firstTokenTime = 50;
    run.decodingPredictions = 1;
    run.decodingLoop = 7;
    run.totalDecodingWindows = 2;
    TranscriptionTimings window;
    window.firstTokenTime = 40;
    window.decodingPredictions = 0.5;
    window.decodingFiltering = 0.25;
    window.decodingSampling = 0.125;
    window.decodingKvCaching = 2;
    window.decodingNonPrediction = 3;
    window.totalDecodingLoops = 10;
    window.totalKVUpdateRuns = 9;
    window.decodingLoop = 100;
    window.totalDecodingWindows = 100;

    run.addDecodingTimings(window);
    EXPECT_EQ(run.firstTokenTime, 40);
    EXPECT_EQ(run.decodingPredictions, 1.5);
    EXPECT_EQ(run.decodingFiltering, 0.25);
    EXPECT_EQ(run.decodingSampling, 0.125);
    EXPECT_EQ(run.decodingKvCaching, 2);
    EXPECT_EQ(run.decodingNonPrediction, 3);
    EXPECT_EQ(run.totalDecodingLoops, 10);
    EXPECT_EQ(run.totalKVUpdateRuns, 9);
    EXPECT_EQ(run.decodingLoop, 7);
    EXPECT_EQ(run.totalDecodingWindows, 2);

    window.firstTokenTime = 60; // a later first token keeps the earlier one
    run.addDecodingTimings(window);
    EXPECT_EQ(run.firstTokenTime, 40);
    EXPECT_EQ(run.totalDecodingLoops, 20);
}

TEST(TranscriptionSegmentTest, ContainsSegmentComparesStartsOnly) {
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

TEST(TranscriptionResultTest, JsonRoundTripOfEveryRecord) {
    TranscriptionSegment withWords = segment(
        0, 0.0f, 4.5f, " Hello world", std::vector{word(" Hello", 0, 1), word(" world", 1, 2)});
    TranscriptionSegment withoutWords = segment(1, 4.5f, 6.1f, " Again");
    TranscriptionTimings timings;
    timings.fullPipeline = 1.25;

    // The shared result: seekTime absent is written as null and reads back absent.
    TranscriptionResult result(" Hello world Again", {withWords, withoutWords}, "en", timings);
    std::string json = result.toJson();
    EXPECT_NE(json.find("\"seekTime\":null"), std::string::npos);
    EXPECT_NE(json.find("\"tokenLogProbs\":[{\"100\":-0.25},{\"200\":-0.5}]"), std::string::npos);
    EXPECT_NE(json.find("\"end\":6.1,"), std::string::npos); // a float prints from its float value
    TranscriptionResult decoded = TranscriptionResult::fromJson(json);
    EXPECT_EQ(decoded.text(), result.text());
    EXPECT_EQ(decoded.segments(), result.segments());
    EXPECT_EQ(decoded.language(), "en");
    EXPECT_EQ(decoded.timings(), timings);
    EXPECT_FALSE(decoded.seekTime());

    result.setSeekTime(12.5f);
    EXPECT_EQ(TranscriptionResult::fromJson(result.toJson()).seekTime(), 12.5f);

    // The plain struct leaves an absent seekTime out and accepts it missing.
    TranscriptionResultStruct plain{"t", {withoutWords}, "en", timings};
    std::string plainJson = plain.toJson();
    EXPECT_EQ(plainJson.find("seekTime"), std::string::npos);
    TranscriptionResultStruct plainBack = TranscriptionResultStruct::fromJson(plainJson);
    EXPECT_FALSE(plainBack.seekTime);
    EXPECT_EQ(plainBack.segments, plain.segments);
    EXPECT_THROW(TranscriptionResult::fromJson(plainJson),
                 CodingError); // the shared form requires the key

    // Segments without words have no "words" key; absent and empty differ.
    std::string segmentJson = withoutWords.toJson();
    EXPECT_EQ(segmentJson.find("\"words\""), std::string::npos);
    EXPECT_FALSE(TranscriptionSegment::fromJson(segmentJson).words);
    TranscriptionSegment emptyWords = withoutWords;
    emptyWords.words.emplace();
    EXPECT_NE(emptyWords, withoutWords);
    EXPECT_EQ(TranscriptionSegment::fromJson(emptyWords.toJson()), emptyWords);

    WordTiming w = word(" hi", 0.1f, 0.3f);
    EXPECT_EQ(WordTiming::fromJson(w.toJson()), w);
    EXPECT_THROW(WordTiming::fromJson(R"({"word":"a","tokens":[],"start":0,"end":1})"),
                 CodingError);
}

TEST(TranscriptionResultTest, MalformedDocumentsFailWithoutBuildingAnything) {
    const char* documents[] = {
        "not json",
        R"({"text":"a","segments":[],"language":"en","timings":{},"seekTime":null})",
        R"({"text":1,"segments":[],"language":"en","timings":{},"seekTime":null})",
        R"([1,2])",
    };
    for (const char* document : documents)
        EXPECT_THROW(TranscriptionResult::fromJson(document), CodingError) << document;
    std::string badKey = segment(0, 0, 1, "x").toJson();
    badKey.replace(badKey.find("\"100\""), 5, "\"1x0\"");
    EXPECT_THROW(TranscriptionSegment::fromJson(badKey), CodingError);
}

TEST(TranscriptionResultTest, NonFiniteNumbersAreAnEncodingError) {
    TranscriptionSegment bad = segment(0, 0, 1, "x");
    bad.avgLogprob = -std::numeric_limits<float>::infinity();
    try {
        bad.toJson();
        FAIL();
    } catch (const CodingError& error) {
        EXPECT_EQ(error.kind(), CodingError::Kind::invalidValue);
    }
}

TEST(TranscriptionResultTest, EqualityAndHashingCoverEveryField) {
    TranscriptionSegment a = segment(0, 0, 1, "x");
    TranscriptionSegment b = a;
    EXPECT_EQ(std::hash<TranscriptionSegment>{}(a), std::hash<TranscriptionSegment>{}(b));
    b.tokenLogProbs[0][100] = -0.3f;
    EXPECT_NE(a, b);
    std::unordered_set<TranscriptionSegment> set{a, b, a};
    EXPECT_EQ(set.size(), 2u);
    EXPECT_FLOAT_EQ(a.duration(), 1.0f);
    EXPECT_FLOAT_EQ(word("w", 1.0f, 1.5f).duration(), 0.5f);
}

TEST(TranscriptionResultTest, AllWordsConcatenatesSegmentWords) {
    WordTiming w1 = word("a", 0, 1), w2 = word("b", 1, 2), w3 = word("c", 3, 4);
    TranscriptionResult result("",
                               {segment(0, 0, 2, "", std::vector{w1, w2}), segment(1, 2, 3, ""),
                                segment(2, 3, 4, "", std::vector{w3})},
                               "en", {});
    EXPECT_EQ(result.allWords(), (std::vector{w1, w2, w3}));
    EXPECT_TRUE(TranscriptionResult("", {}, "en", {}).allWords().empty());
}

TEST(TranscriptionResultTest, ConcurrentSegmentAppendsAreNeverLost) {
    auto result = std::make_shared<TranscriptionResult>("", std::vector<TranscriptionSegment>{},
                                                        "en", TranscriptionTimings{});
    constexpr int kThreads = 4, kAppends = 500;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&result, t] {
            for (int i = 0; i < kAppends; ++i) {
                result->modifySegments([&](auto& segments) {
                    segments.push_back(segment(t * kAppends + i, 0, 1, ""));
                });
                result->modifyTimings(
                    [](TranscriptionTimings& timings) { timings.totalDecodingWindows += 1; });
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(result->segments().size(), size_t{kThreads * kAppends});
    EXPECT_EQ(result->timings().totalDecodingWindows, kThreads * kAppends);
}

TEST(TranscriptionResultTest, LogSegmentsWritesOneDebugLinePerSegment) {
    TranscriptionResult result(
        "", {segment(7, 0.0f, 4.5f, " Hello"), segment(8, 4.5f, 10.125f, "world")}, "en", {});
    {
        LogCapture capture(Logging::LogLevel::debug);
        result.logSegments();
        EXPECT_EQ(capture.lines(),
                  (std::vector<std::string>{"[Segment 0] [0.00 --> 4.50]  Hello",
                                            "[Segment 1] [4.50 --> 10.12] world"}));
    }
    {
        LogCapture capture(Logging::LogLevel::debug);
        TranscriptionResult("", {}, "en", {}).logSegments();
        EXPECT_TRUE(capture.lines().empty());
    }
}

TEST(TranscriptionResultTest, TimingReportGolden) {
    TranscriptionTimings t;
    t.pipelineStart = 100;
    t.firstTokenTime = 100.25;
    t.inputAudioSeconds = 8.0;
    t.modelLoading = 1.234;
    t.prewarmLoadTime = 0.5;
    t.encoderLoadTime = 0.3;
    t.decoderLoadTime = 0.4;
    t.tokenizerLoadTime = 0.05;
    t.audioLoading = 0.1;
    t.audioProcessing = 0.02;
    t.logmels = 0.03;
    t.encoding = 0.2;
    t.prefill = 0.01;
    t.decodingInit = 0.005;
    t.decodingLoop = 1.5;
    t.decodingPredictions = 1.0;
    t.decodingFiltering = 0.1;
    t.decodingSampling = 0.05;
    t.decodingWindowing = 0.04;
    t.decodingKvCaching = 0.08;
    t.decodingWordTimestamps = 0.01;
    t.decodingNonPrediction = 0.3;
    t.totalAudioProcessingRuns = 1;
    t.totalLogmelRuns = 1;
    t.totalEncodingRuns = 1;
    t.totalDecodingLoops = 40;
    t.totalKVUpdateRuns = 40;
    t.totalTimestampAlignmentRuns = 1;
    t.totalDecodingFallbacks = 2;
    t.totalDecodingWindows = 1;
    t.fullPipeline = 2.0;
    TranscriptionSegment four = segment(1, 1, 2, "");
    four.tokens = {1, 2, 3, 4};
    TranscriptionResult result("", {segment(0, 0, 1, ""), four}, "en", t);

    const std::string expected =
        "---- Transcription Timings ----\n"
        "Audio Load:            100.00 ms /      1 runs (  100.00 ms/run)  5.00%\n"
        "Audio Processing:       20.00 ms /      1 runs (   20.00 ms/run)  1.00%\n"
        "Mels:                   30.00 ms /      1 runs (   30.00 ms/run)  1.50%\n"
        "Encoding:              200.00 ms /      1 runs (  200.00 ms/run) 10.00%\n"
        "Matrices Init:           5.00 ms /      1 runs (    5.00 ms/run)  0.25%\n"
        "Prefill:                10.00 ms /      1 runs (   10.00 ms/run)  0.50%\n"
        "Decoding:             1000.00 ms /     40 runs (   25.00 ms/run) 50.00%\n"
        "Non-inference:         300.00 ms /     40 runs (    7.50 ms/run) 15.00%\n"
        "- Logit Filtering:     100.00 ms /     40 runs (    2.50 ms/run)  5.00%\n"
        "- Sampling:             50.00 ms /     40 runs (    1.25 ms/run)  2.50%\n"
        "- Kv Caching:           80.00 ms /     40 runs (    2.00 ms/run)  4.00%\n"
        "- Word Timestamps:      10.00 ms /      1 runs (   10.00 ms/run)  0.50%\n"
        "- Windowing:            30.00 ms /      1 runs (   30.00 ms/run)  1.50%\n"
        "Fallbacks:               0.00 ms /      2 runs (    0.00 ms/run)  0.00%\n"
        "Decoding Full Loop:   1500.00 ms /     40 runs (   37.50 ms/run) 75.00%\n"
        "-------------------------------\n"
        "Model Load Time:               1.23 seconds\n"
        "- Prewarm:                     0.50 seconds\n"
        "- Encoder:                     0.30 seconds\n"
        "- Decoder:                     0.40 seconds\n"
        "- Tokenizer:                   0.05 seconds\n"
        "Inference Duration (Global):   2.00 seconds\n"
        "- Decoding Loop (Avg/window):  1.50 seconds\n"
        "- Audio Windows:               1.00\n"
        "Time to first token:           0.25 seconds\n"
        "Total Tokens:                  7\n"
        "Tokens per Second:             20.00 tok/s\n"
        "Real Time Factor:              0.250\n"
        "Speed Factor:                  4.000\n"
        "Fallbacks:                     2.0";
    EXPECT_EQ(result.timingReport(), expected);

    LogCapture capture(Logging::LogLevel::info);
    result.logTimings();
    EXPECT_EQ(capture.lines(), std::vector<std::string>{expected});
}

TEST(TranscriptionResultTest, TimingReportOfDefaultTimingsNeverFails) {
    TranscriptionResult result("", {segment(0, 0, 1, "")}, "en", {});
    std::string report = result.timingReport();
    EXPECT_NE(report.find("Time to first token:           0.00 seconds\n"), std::string::npos);
    EXPECT_NE(report.find("Total Tokens:                  3\n"), std::string::npos);
    EXPECT_NE(report.find("- Decoding Loop (Avg/window):  nan seconds\n"), std::string::npos);
    EXPECT_NE(report.find("Tokens per Second:             nan tok/s\n"), std::string::npos);
    EXPECT_NE(report.find("Speed Factor:                  inf\n"), std::string::npos);
    EXPECT_NE(report.find("Fallbacks:                     0.0"), std::string::npos);
}

TEST(TranscriptionResultTest, ProgressAndStateDefaults) {
    TranscriptionProgress progress{{}, "text", {1}};
    EXPECT_FALSE(progress.temperature);
    EXPECT_FALSE(progress.avgLogprob);
    EXPECT_FALSE(progress.compressionRatio);
    EXPECT_EQ(progress.windowId, 0);
    EXPECT_EQ(description(TranscriptionState::transcribing), "Transcribing");
    EXPECT_EQ(description(TranscriptionState::convertingAudio), "Converting Audio");
}
