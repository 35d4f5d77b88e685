#include "murmex/output/TranscriptionUtilities.h"

#include <gtest/gtest.h>

using namespace murmex;

namespace {

WordTiming word(std::string text, float start = 0, float end = 1) {
    return WordTiming{std::move(text), {1}, start, end, 0.5f};
}

TranscriptionSegment segment(int id, float start, float end, std::string text) {
    TranscriptionSegment s;
    s.id = id;
    s.start = start;
    s.end = end;
    s.text = std::move(text);
    return s;
}

std::vector<std::string> textsOf(const std::vector<WordTiming>& words) {
    std::vector<std::string> texts;
    for (const auto& w : words)
        texts.push_back(w.word);
    return texts;
}

} // namespace

TEST(TranscriptionUtilities, MovesASegmentAndItsWords) {
    TranscriptionSegment s = segment(3, 0.0f, 1.0f, " hi");
    s.words = std::vector<WordTiming>{word(" hi", 0.25f, 0.75f)};
    TranscriptionSegment moved = updateSegmentTimings(s, 2.5f);
    EXPECT_EQ(moved.seek, 40000);
    EXPECT_FLOAT_EQ(moved.start, 2.5f);
    EXPECT_FLOAT_EQ(moved.end, 3.5f);
    EXPECT_FLOAT_EQ((*moved.words)[0].start, 2.75f);
    EXPECT_FLOAT_EQ((*moved.words)[0].end, 3.25f);
    EXPECT_EQ(moved.text, s.text);
    EXPECT_EQ(moved.id, 3);
}

TEST(TranscriptionUtilities, FormatsSegmentLines) {
    std::vector<TranscriptionSegment> segments{segment(0, 1.5f, 3.25f, " hello")};
    EXPECT_EQ(formatSegments(segments, true), std::vector<std::string>{"[1.50 --> 3.25]  hello"});
    EXPECT_EQ(formatSegments(segments, false), std::vector<std::string>{" hello"});
}

TEST(TranscriptionUtilities, CommonPrefixIgnoresCasePunctuationAndHyphens) {
    std::vector<WordTiming> first{word("Hello,"), word("world")};
    std::vector<WordTiming> second{word("hello"), word("World!"), word("again")};
    EXPECT_EQ(textsOf(findLongestCommonPrefix(first, second)),
              (std::vector<std::string>{"hello", "World!"}));
    EXPECT_EQ(textsOf(findLongestDifferentSuffix(first, second)),
              std::vector<std::string>{"again"});
    EXPECT_EQ(
        findLongestCommonPrefix({word("e-mail"), word("don't")}, {word("e mail"), word("dont")})
            .size(),
        2u);
    EXPECT_EQ(findLongestDifferentSuffix({word("a")}, {word("b"), word("c")}).size(), 2u);
}

TEST(TranscriptionUtilities, MergesResults) {
    TranscriptionTimings t1;
    t1.pipelineStart = 10;
    t1.fullPipeline = 4;
    t1.modelLoading = 2;
    t1.totalDecodingLoops = 5;
    t1.encoderSpecializationTime = 1;
    TranscriptionTimings t2;
    t2.pipelineStart = 11;
    t2.fullPipeline = 2;
    t2.modelLoading = 3;
    t2.totalDecodingLoops = 7;
    auto r1 = std::make_shared<TranscriptionResult>(
        "a", std::vector<TranscriptionSegment>{segment(5, 0, 1, "a"), segment(6, 1, 2, "a2")}, "ru",
        t1);
    auto r2 = std::make_shared<TranscriptionResult>(
        "b", std::vector<TranscriptionSegment>{segment(9, 0, 1, "b")}, "en", t2);
    auto merged = mergeTranscriptionResults({r1, nullptr, r2});
    EXPECT_EQ(merged->text(), "a  b");
    EXPECT_EQ(merged->language(), "ru");
    EXPECT_FALSE(merged->seekTime());
    auto segments = merged->segments();
    ASSERT_EQ(segments.size(), 3u);
    EXPECT_EQ(segments[0].id, 0);
    EXPECT_EQ(segments[1].id, 1);
    EXPECT_EQ(segments[2].id, 1); // second present result, first segment
    const TranscriptionTimings timings = merged->timings();
    EXPECT_EQ(timings.pipelineStart, 10);
    EXPECT_EQ(timings.modelLoading, 3);
    EXPECT_EQ(timings.totalDecodingLoops, 12);
    EXPECT_EQ(timings.encoderSpecializationTime, 0);
    EXPECT_EQ(timings.fullPipeline, 4); // overlapping runs: the 10..14 span, not 6

    auto confirmed =
        mergeTranscriptionResults({r1}, std::vector<WordTiming>{word(" one"), word(" two")});
    EXPECT_EQ(confirmed->text(), " one two");

    auto empty = mergeTranscriptionResults({});
    EXPECT_EQ(empty->text(), "");
    EXPECT_TRUE(empty->segments().empty());
    EXPECT_EQ(empty->language(), "en");
    EXPECT_EQ(empty->timings().pipelineStart, 0);
    EXPECT_EQ(empty->timings().inputAudioSeconds, 0);
    EXPECT_EQ(empty->timings().fullPipeline, 0);
}
