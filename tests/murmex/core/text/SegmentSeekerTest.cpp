#include "murmex/core/text/SegmentSeeker.h"

#include "murmex/base/WhisperError.h"
#include "murmex/support/ScriptedTokenizer.h"

#include <cmath>
#include <gtest/gtest.h>
#include <set>

using namespace murmex;
using murmex::testing::ScriptedTokenizer;
using platform::ml::ElementType;
using platform::ml::MultiArray;

namespace {

constexpr int T = ScriptedTokenizer::kTimeTokenBegin;
constexpr int kEnd = 10;
constexpr int kHello = 0, kWorld = 1, kComma = 2;
constexpr int kWindow = 480000;

DecodingResult resultWith(std::vector<int> tokens) {
    DecodingResult result;
    for (int token : tokens)
        result.tokenLogProbs.push_back({{token, -0.1f}});
    result.tokens = std::move(tokens);
    result.avgLogProb = -0.2f;
    result.temperature = 0.2f;
    result.compressionRatio = 1.5f;
    return result;
}

struct Seeked {
    int seek;
    std::optional<std::vector<TranscriptionSegment>> segments;
};

Seeked seekPoint(const DecodingResult& result, int currentSeek = 0, DecodingOptions options = {},
                 int already = 0) {
    ScriptedTokenizer tokenizer;
    auto [seek, segments] = SegmentSeeker().findSeekPointAndSegments(
        result, options, already, currentSeek, kWindow, 16000, T, kEnd, tokenizer);
    return {seek, std::move(segments)};
}

WordTiming word(std::string text, float start, float end, std::vector<int> tokens = {1}) {
    return WordTiming{std::move(text), std::move(tokens), start, end, 0.9f};
}

std::vector<std::string> wordsOf(const std::vector<WordTiming>& timings) {
    std::vector<std::string> words;
    for (const auto& timing : timings)
        words.push_back(timing.word);
    return words;
}

} // namespace

TEST(SegmentSeeker, SegmentsAndSeekPointTable) {
    struct Case {
        const char* name;
        std::vector<int> tokens;
        int currentSeek;
        std::vector<std::pair<float, float>> times;
        std::vector<size_t> tokenCounts;
        int seek;
    };
    const Case cases[] = {
        {"double then single timestamp ending",
         {T, kHello, kWorld, T + 100, T + 100, kComma, T + 150, kEnd},
         0,
         {{0.0f, 2.0f}, {2.0f, 3.0f}},
         {4, 3},
         48000},
        {"window ends inside an unfinished segment",
         {T, kHello, T + 100, T + 100, kWorld, kEnd},
         0,
         {{0.0f, 2.0f}},
         {3},
         32000},
        {"no second timestamp: the whole window",
         {T, kHello, kWorld, kComma, kEnd},
         160000,
         {{10.0f, 40.0f}},
         {5},
         160000 + kWindow},
        {"single closing timestamp: up to it",
         {T, kHello, T + 250, kEnd},
         16000,
         {{1.0f, 6.0f}},
         {4},
         16000 + kWindow},
        {"pair then text to the end",
         {T, kHello, T + 50, T + 50, kWorld, kComma, kEnd},
         0,
         {{0.0f, 1.0f}, {1.0f, 1.0f}},
         {3, 4},
         kWindow},
    };
    for (const auto& c : cases) {
        Seeked out = seekPoint(resultWith(c.tokens), c.currentSeek);
        ASSERT_TRUE(out.segments) << c.name;
        EXPECT_EQ(out.seek, c.seek) << c.name;
        ASSERT_EQ(out.segments->size(), c.times.size()) << c.name;
        for (size_t i = 0; i < c.times.size(); ++i) {
            const auto& segment = (*out.segments)[i];
            EXPECT_FLOAT_EQ(segment.start, c.times[i].first) << c.name << " #" << i;
            EXPECT_FLOAT_EQ(segment.end, c.times[i].second) << c.name << " #" << i;
            EXPECT_EQ(segment.tokens.size(), c.tokenCounts[i]) << c.name << " #" << i;
            EXPECT_EQ(segment.tokenLogProbs.size(), c.tokenCounts[i]) << c.name << " #" << i;
            EXPECT_EQ(segment.seek, c.currentSeek);
            EXPECT_FLOAT_EQ(segment.temperature, 0.2f);
            EXPECT_FLOAT_EQ(segment.avgLogprob, -0.2f);
        }
    }
}

TEST(SegmentSeeker, SilenceSkipUnlessConfident) {
    DecodingOptions options; // no-speech 0.6, log-prob -1.0
    DecodingResult result = resultWith({T, kHello, T + 20, kEnd});
    result.noSpeechProb = 0.9f;
    result.avgLogProb = -0.5f;
    EXPECT_TRUE(seekPoint(result, 0, options).segments);
    result.avgLogProb = -1.5f;
    Seeked skipped = seekPoint(result, 32000, options);
    EXPECT_FALSE(skipped.segments);
    EXPECT_EQ(skipped.seek, 32000 + kWindow);
    options.noSpeechThreshold.reset();
    EXPECT_TRUE(seekPoint(result, 0, options).segments);
}

TEST(SegmentSeeker, IdsContinueAndSpecialTokensCanBeLeftOutOfTheText) {
    DecodingResult result = resultWith({T, kHello, T + 100, T + 100, kWorld, T + 150, kEnd});
    Seeked plain = seekPoint(result, 0, {}, 7);
    ASSERT_EQ(plain.segments->size(), 2u);
    EXPECT_EQ((*plain.segments)[0].id, 7);
    EXPECT_EQ((*plain.segments)[1].id, 8);
    EXPECT_EQ((*plain.segments)[0].text, "<|0.00|> hello<|2.00|>");

    Seeked skipped = seekPoint(result, 0, DecodingOptions{.skipSpecialTokens = true});
    EXPECT_EQ((*skipped.segments)[0].text, " hello");
    EXPECT_EQ((*skipped.segments)[1].text, " world");
    EXPECT_EQ((*skipped.segments)[1].tokens, (std::vector<int>{T + 100, kWorld, T + 150}));
}

TEST(SegmentSeeker, DynamicTimeWarpingFollowsTheHeaviestPath) {
    SegmentSeeker seeker;
    MultiArray single({1, 1}, ElementType::float16);
    auto one = seeker.dynamicTimeWarping(single);
    EXPECT_EQ(one.textIndices, std::vector<int>{0});
    EXPECT_EQ(one.timeIndices, std::vector<int>{0});

    // Token 0 holds frames 0-1, token 1 frame 2; on equal costs the path
    // prefers moving along time.
    auto path = SegmentSeeker::dynamicTimeWarping({1, 1, 0, 0, 0, 1}, 2, 3);
    EXPECT_EQ(path.textIndices, (std::vector<int>{0, 0, 1, 1}));
    EXPECT_EQ(path.timeIndices, (std::vector<int>{0, 1, 1, 2}));

    // Three tokens owning two frames each: the path is monotonic, runs from
    // corner to corner and collects every weight.
    std::vector<float> stairs(18, 0.0f);
    for (int f = 0; f < 6; ++f)
        stairs[static_cast<size_t>((f / 2) * 6 + f)] = 1.0f;
    auto walk = SegmentSeeker::dynamicTimeWarping(stairs, 3, 6);
    ASSERT_FALSE(walk.textIndices.empty());
    EXPECT_EQ(walk.textIndices.front(), 0);
    EXPECT_EQ(walk.timeIndices.front(), 0);
    EXPECT_EQ(walk.textIndices.back(), 2);
    EXPECT_EQ(walk.timeIndices.back(), 5);
    std::set<std::pair<int, int>> visited;
    for (size_t p = 0; p < walk.textIndices.size(); ++p) {
        if (p > 0) {
            EXPECT_LE(walk.textIndices[p] - walk.textIndices[p - 1], 1);
            EXPECT_GE(walk.textIndices[p], walk.textIndices[p - 1]);
            EXPECT_GE(walk.timeIndices[p], walk.timeIndices[p - 1]);
        }
        visited.insert({walk.textIndices[p], walk.timeIndices[p]});
    }
    for (int f = 0; f < 6; ++f)
        EXPECT_TRUE(visited.count({f / 2, f})) << "frame " << f;

    EXPECT_THROW(seeker.dynamicTimeWarping(MultiArray({2, 2, 2}, ElementType::float16)),
                 WhisperError);
}

TEST(SegmentSeeker, WordDurationConstraintsAndTruncation) {
    SegmentSeeker seeker;
    auto four = seeker.calculateWordDurationConstraints({word("a", 0, 0.1f), word("b", 1, 1.2f),
                                                         word("c", 2, 2.3f), word("d", 3, 3.5f),
                                                         word("e", 4, 4)});
    EXPECT_NEAR(four.median, 0.3f, 1e-6);
    EXPECT_NEAR(four.max, 0.6f, 1e-6);
    auto capped = seeker.calculateWordDurationConstraints({word("long", 0, 2.0f)});
    EXPECT_FLOAT_EQ(capped.median, 0.7f);
    EXPECT_FLOAT_EQ(capped.max, 1.4f);

    auto truncated = seeker.truncateLongWordsAtSentenceBoundaries(
        {word(".", 0, 3.0f), word(" hi", 3, 4), word(".", 4, 7), word(" next", 7, 10),
         word("?", 10, 10.2f), word(" after", 10.2f, 13.2f)},
        1.4f);
    EXPECT_FLOAT_EQ(truncated[0].end, 3.0f); // the first word is never shortened
    EXPECT_FLOAT_EQ(truncated[2].end, 5.4f);
    EXPECT_FLOAT_EQ(truncated[3].start, 10.0f - 1.4f); // right after a sentence end
    EXPECT_FLOAT_EQ(truncated[5].start, 13.2f - 1.4f);
}

TEST(SegmentSeeker, PunctuationMergesIntoTheRunningWord) {
    SegmentSeeker seeker;
    const std::string prepended = "\"'\u201C\u00A1\u00BF([{-";
    const std::string appended = "\"'.\u3002,\uFF0C!\uFF01?\uFF1F:\uFF1A\u201D)]}\u3001";

    auto opened = seeker.mergePunctuations(
        {word(" (", 0, 0.1f, {4}), word("hello", 0.2f, 0.5f, {0}), word(",", 0.5f, 0.6f, {2})},
        prepended, appended);
    ASSERT_EQ(wordsOf(opened), std::vector<std::string>{" (hello,"});
    EXPECT_FLOAT_EQ(opened[0].start, 0.2f);
    EXPECT_FLOAT_EQ(opened[0].end, 0.5f);
    EXPECT_EQ(opened[0].tokens, (std::vector<int>{4, 0, 2}));

    EXPECT_EQ(wordsOf(seeker.mergePunctuations({word("Hi", 0, 1), word(" ,", 1, 2)}, prepended,
                                               appended)),
              std::vector<std::string>{"Hi ,"});
    // Chains of marks keep every word.
    EXPECT_EQ(wordsOf(seeker.mergePunctuations(
                  {word(" hello", 0, 1), word(",", 1, 2), word("!", 2, 3), word(" world", 3, 4)},
                  prepended, appended)),
              (std::vector<std::string>{" hello,!", " world"}));
    EXPECT_EQ(wordsOf(seeker.mergePunctuations(
                  {word(" (", 0, 1), word(" \"", 1, 2), word("hi", 2, 3)}, prepended, appended)),
              std::vector<std::string>{" ( \"hi"});
    // A lone hyphen between words is not merged and is dropped.
    EXPECT_EQ(wordsOf(seeker.mergePunctuations(
                  {word(" a", 0, 1), word("-", 1, 2), word(" b", 2, 3)}, prepended, appended)),
              (std::vector<std::string>{" a", " b"}));
    EXPECT_TRUE(seeker.mergePunctuations({word(" (", 0, 1)}, prepended, appended).empty());
}

TEST(SegmentSeeker, SegmentBoundariesFollowTheirWords) {
    SegmentSeeker seeker;
    ScriptedTokenizer tokenizer;
    TranscriptionSegment segment;
    segment.start = 1.0f;
    segment.end = 3.0f;
    segment.tokens = {T + 50, kHello, kWorld, T + 150};

    // The first word starts 0.1 s after the segment: the segment follows it.
    auto near = seeker.updateSegmentsWithWordTimings(
        {segment}, {word(" hello", 1.1f, 1.6f, {kHello}), word(" world", 1.6f, 2.9f, {kWorld})}, 0,
        1.0f, 0.5f, 1.0f, tokenizer);
    ASSERT_EQ(near[0].words->size(), 2u);
    EXPECT_FLOAT_EQ(near[0].start, 1.1f);
    EXPECT_FLOAT_EQ(near[0].end, 2.9f);

    // A first word starting 0.7 s before the segment is pulled in instead.
    auto early = seeker.updateSegmentsWithWordTimings(
        {segment}, {word(" hello", 0.3f, 1.6f, {kHello}), word(" world", 1.6f, 2.9f, {kWorld})}, 0,
        0.3f, 0.5f, 2.0f, tokenizer);
    EXPECT_FLOAT_EQ(early[0].start, 1.0f);
    EXPECT_FLOAT_EQ((*early[0].words)[0].start, 1.0f); // max(0, min(1.6 - 0.5, 1.0))

    // Special-token-only segments take no word and keep their times; the
    // next segment continues with the shared word list, shifted by the seek.
    TranscriptionSegment markers;
    markers.start = 0.0f;
    markers.end = 1.0f;
    markers.tokens = {11, 13};
    auto shifted = seeker.updateSegmentsWithWordTimings(
        {markers, segment},
        {word(" hello", 1.1f, 1.6f, {kHello}), word(" world", 1.6f, 2.9f, {kWorld})}, 16000, 1.0f,
        0.5f, 1.0f, tokenizer);
    EXPECT_TRUE(shifted[0].words->empty());
    EXPECT_FLOAT_EQ(shifted[0].end, 1.0f);
    EXPECT_FLOAT_EQ((*shifted[1].words)[0].start, 2.1f);
}

TEST(SegmentSeeker, WordTimestampsFromAlignmentWeights) {
    ScriptedTokenizer tokenizer;
    // Tokens: <|0.00|> " hello" "," " world" <|1.00|> <|endoftext|>; attention
    // walks frames 0..49 with each token owning a stretch.
    std::vector<int> tokens{T, kHello, kComma, kWorld, T + 50, kEnd};
    Seeked seeked = seekPoint(resultWith(tokens));
    ASSERT_TRUE(seeked.segments);
    const std::vector<std::pair<int, int>> stretches{{0, 10},  {10, 40}, {40, 50},
                                                     {50, 80}, {80, 95}, {95, 100}};
    MultiArray weights({8, 100}, ElementType::float16);
    for (size_t t = 0; t < stretches.size(); ++t) {
        for (int f = stretches[t].first; f < stretches[t].second; ++f) {
            weights.setValueAt({static_cast<int64_t>(t), f}, 1.0);
        }
    }
    auto words = SegmentSeeker().addWordTimestamps(*seeked.segments, weights, tokenizer, 32000,
                                                   kWindow, "\"'([{-", "\"'.,!?:)]}", 2.0f, {}, {});
    ASSERT_TRUE(words);
    ASSERT_EQ(words->size(), 1u);
    const auto& timed = *(*words)[0].words;
    ASSERT_EQ(wordsOf(timed), (std::vector<std::string>{" hello,", " world"}));
    // Seek 2.0 s plus the frames (within one frame: on equal costs the path
    // steps into the next token's row a frame early); the comma keeps the
    // times of its word.
    constexpr float kFrame = 0.021f;
    EXPECT_NEAR(timed[0].start, 2.2f, kFrame);
    EXPECT_NEAR(timed[0].end, 2.8f, kFrame);
    EXPECT_NEAR(timed[1].start, 3.0f, kFrame);
    EXPECT_NEAR(timed[1].end, 3.6f, kFrame);
    EXPECT_FLOAT_EQ((*words)[0].start, timed[0].start);
    EXPECT_FLOAT_EQ((*words)[0].end, timed[1].end);
    EXPECT_NEAR(timed[0].probability, std::exp(-0.1f), 0.01f);
    EXPECT_EQ(timed[0].tokens, (std::vector<int>{kHello, kComma}));

    EXPECT_THROW(SegmentSeeker().addWordTimestamps(*seeked.segments,
                                                   MultiArray({3, 100}, ElementType::float16),
                                                   tokenizer, 0, kWindow, "", "", 0, {}, {}),
                 WhisperError);
}
