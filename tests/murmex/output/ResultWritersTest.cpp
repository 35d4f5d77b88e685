#include "murmex/output/WriteJSON.h"
#include "murmex/output/WriteSRT.h"
#include "murmex/output/WriteVTT.h"
#include "murmex/records/TranscriptionResult.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <limits>
#include <sstream>

using namespace murmex;
namespace fs = std::filesystem;

namespace {

class ResultWritersTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("result-writers-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    static std::string read(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    static TranscriptionSegment
    segment(float start, float end, std::string text,
            std::optional<std::vector<WordTiming>> words = std::nullopt) {
        TranscriptionSegment s;
        s.start = start;
        s.end = end;
        s.text = std::move(text);
        s.words = std::move(words);
        return s;
    }

    // Two segments: the first with three word timings, the second with none.
    static TranscriptionResult twoSegments() {
        std::vector<WordTiming> words{{" Hello", {1}, 0.0f, 0.5f, 0.9f},
                                      {" big", {2}, 0.5f, 1.25f, 0.8f},
                                      {" world", {3}, 1.25f, 2.3f, 0.7f}};
        return TranscriptionResult(" Hello big world And more",
                                   {segment(0.0f, 2.3f, " Hello big world", words),
                                    segment(3661.5f, 3665.25f, " And more")},
                                   "en", {});
    }

    fs::path dir_;
};

} // namespace

TEST_F(ResultWritersTest, FormatTime) {
    WriteSRT writer(dir_.string());
    struct Case {
        float seconds;
        bool hours;
        const char* marker;
        const char* expected;
    };
    const float inf = std::numeric_limits<float>::infinity();
    const Case cases[] = {
        {3661.5f, true, ",", "01:01:01,500"},
        {3661.5f, false, ".", "01:01:01.500"}, // hours above 0 are always shown
        {65.25f, false, ".", "01:05.250"},
        {65.25f, true, ",", "00:01:05,250"},
        {2.3f, false, ".", "00:02.299"}, // milliseconds truncate in single precision
        {12.34f, false, ".", "00:12.340"},
        {0.0f, false, ".", "00:00.000"},
        // Times with no defined text still give a time and never overflow.
        {-1.5f, false, ".", "00:00.000"},
        {std::nanf(""), true, ",", "00:00:00,000"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(writer.formatTime(c.seconds, c.hours, c.marker), c.expected) << c.seconds;
    EXPECT_FALSE(writer.formatTime(inf, false, ".").empty());
    EXPECT_FALSE(writer.formatTime(3.0e38f, true, ",").empty());
}

TEST_F(ResultWritersTest, SrtGolden) {
    WriteSRT writer(dir_.string());
    auto outcome = writer.write(twoSegments(), "talk");
    ASSERT_TRUE(outcome.ok());
    EXPECT_EQ(outcome.get(), "file://" + (dir_ / "talk.srt").string());
    EXPECT_EQ(read(dir_ / "talk.srt"), "1\n00:00:00,000 --> 00:00:00,500\n Hello\n\n"
                                       "2\n00:00:00,500 --> 00:00:01,250\n big\n\n"
                                       "3\n00:00:01,250 --> 00:00:02,299\n world\n\n"
                                       "4\n01:01:01,500 --> 01:01:05,250\n And more\n\n");
}

TEST_F(ResultWritersTest, WebVttGolden) {
    WriteVTT writer(dir_.string());
    auto outcome = writer.write(twoSegments(), "talk");
    ASSERT_TRUE(outcome.ok());
    EXPECT_EQ(read(dir_ / "talk.vtt"), "WEBVTT\n\n"
                                       "00:00.000 --> 00:00.500\n Hello\n\n"
                                       "00:00.500 --> 00:01.250\n big\n\n"
                                       "00:01.250 --> 00:02.299\n world\n\n"
                                       "01:01:01.500 --> 01:01:05.250\n And more\n\n");
}

TEST_F(ResultWritersTest, EmptyWordListsAndEmptyResults) {
    TranscriptionResult emptyWords("", {segment(1.0f, 2.0f, "x", std::vector<WordTiming>{})}, "en",
                                   {});
    ASSERT_TRUE(WriteSRT(dir_.string()).write(emptyWords, "a").ok());
    EXPECT_EQ(read(dir_ / "a.srt"), "1\n00:00:01,000 --> 00:00:02,000\nx\n\n");

    TranscriptionResult none("", {}, "en", {});
    ASSERT_TRUE(WriteSRT(dir_.string()).write(none, "b").ok());
    ASSERT_TRUE(WriteVTT(dir_.string()).write(none, "b").ok());
    EXPECT_EQ(read(dir_ / "b.srt"), "");
    EXPECT_EQ(read(dir_ / "b.vtt"), "WEBVTT\n\n");
}

TEST_F(ResultWritersTest, JsonWriterWritesThePrettyResultAndReplacesTheFile) {
    TranscriptionResult result = twoSegments();
    WriteJSON writer(dir_.string());
    std::ofstream(dir_ / "r.json") << "old contents that are longer than nothing";
    auto outcome = writer.write(result, "r");
    ASSERT_TRUE(outcome.ok());
    std::string written = read(dir_ / "r.json");
    EXPECT_EQ(written, result.toJson(true));
    EXPECT_NE(written.find("\n  \"seekTime\": null"), std::string::npos);
    EXPECT_EQ(TranscriptionResult::fromJson(written).segments(), result.segments());
    // No temporary files stay behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(ResultWritersTest, FailuresAreValuesAndLeaveNoFile) {
    fs::path missing = dir_ / "missing";
    for (ResultWriting* writer : std::initializer_list<ResultWriting*>{
             new WriteJSON(missing.string()), new WriteSRT(missing.string()),
             new WriteVTT(missing.string())}) {
        std::unique_ptr<ResultWriting> owned(writer);
        auto outcome = owned->write(twoSegments(), "x");
        EXPECT_FALSE(outcome.ok());
        EXPECT_THROW(outcome.get(), std::exception);
    }
    EXPECT_FALSE(fs::exists(missing));

    // A value JSON cannot hold fails the JSON writer without writing.
    TranscriptionResult bad = twoSegments();
    bad.modifySegments([](auto& segments) { segments[0].avgLogprob = std::nanf(""); });
    EXPECT_FALSE(WriteJSON(dir_.string()).write(bad, "bad").ok());
    EXPECT_FALSE(fs::exists(dir_ / "bad.json"));
}

TEST_F(ResultWritersTest, UrlsArePercentEncoded) {
    fs::path spaced = dir_ / "with space";
    fs::create_directories(spaced);
    auto outcome = WriteVTT(spaced.string()).write(TranscriptionResult("", {}, "en", {}), "n%1");
    ASSERT_TRUE(outcome.ok());
    EXPECT_EQ(outcome.get(), "file://" + dir_.string() + "/with%20space/n%251.vtt");
}
