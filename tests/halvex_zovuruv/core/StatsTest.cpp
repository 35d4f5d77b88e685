#include "halvex_zovuruv/core/Stats.h"

#include "Fakes.h"
#include "LogCapture.h"
#include "halvex_zovuruv/core/Format.h"
#include "halvex_zovuruv/core/RecordCoding.h"
#include "halvex_zovuruv/core/TextCounts.h"
#include "platform/system/TemporaryDirectory.h"

#include <cmath>
#include <csignal>
#include <ctime>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <limits>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace halvex;
using namespace zvtest;
namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

void writeFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

class StatsTest : public ::testing::Test {
protected:
    platform::system::TemporaryDirectory dir{"zv-stats-"};
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    LogCapture log;
    Stats stats{dir / "stats.json", clock};
};

TEST_F(StatsTest, RecordsRoundTripInTheCompactFileForm) {
    EXPECT_THAT(stats.loadAll(), IsEmpty()); // no file yet
    stats.record("Привет, мир", 2.5, 0.75, false);
    clock->advance(std::chrono::milliseconds(1500));
    stats.record("second \"quoted\" / slash", 10, 1.0 / 3.0, true);

    const auto records = stats.loadAll();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0], (DictationRecord{Date{1'700'000'000.0 - 978'307'200.0}, "Привет, мир", 11,
                                           2, 2.5, 0.75, false}));
    EXPECT_EQ(records[1].date.timeIntervalSinceReferenceDate, 721'692'801.5);
    EXPECT_EQ(records[1].text, "second \"quoted\" / slash");
    EXPECT_EQ(records[1].transcriptionSeconds, 1.0 / 3.0); // shortest text reads back exactly
    EXPECT_TRUE(records[1].aiProcessed);

    EXPECT_THAT(readFile(stats.file()),
                ::testing::StartsWith(
                    "[{\"date\":721692800.0,\"text\":\"Привет, мир\",\"characters\":11,\"words\":2,"
                    "\"seconds\":2.5,\"transcriptionSeconds\":0.75,\"aiProcessed\":false},{"));
    EXPECT_THAT(log.messages(), ElementsAre("stats: recorded 11 chars, 2.5s, ai=false",
                                            "stats: recorded 23 chars, 10.0s, ai=true"));
}

TEST_F(StatsTest, FilesOfOtherBuildsReadBackAndKeepTheirRecords) {
    // Escaped slashes and unicode, whole numbers for doubles, keys in another
    // order, an unknown key.
    writeFile(stats.file(),
              "[{\"text\":\"a\\/b \\u043f\\u0440\\u0438\",\"date\":700000000,\"words\":2,"
              "\"characters\":7,\"seconds\":3,\"transcriptionSeconds\":1,\"aiProcessed\":true,"
              "\"extra\":[1]},\n {\"date\":700000100.25,\"text\":\"\",\"characters\":0,"
              "\"words\":0,\"seconds\":0.5,\"transcriptionSeconds\":2.0,\"aiProcessed\":false}]");
    auto records = stats.loadAll();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0], (DictationRecord{Date{700000000}, "a/b при", 7, 2, 3, 1, true}));
    EXPECT_EQ(records[1].date.timeIntervalSinceReferenceDate, 700000100.25);

    stats.record("new", 1, 1, false);
    records = stats.loadAll();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].text, "a/b при");
    EXPECT_EQ(records[2].text, "new");
}

TEST_F(StatsTest, ABrokenFileIsSetAsideBeforeTheNextRecordAndItsHistoryIsKept) {
    const std::string cases[] = {
        "[{\"date\":1,\"text\":\"old\"", // truncated
        // one element without "aiProcessed" makes the whole array unreadable
        "[{\"date\":1,\"text\":\"old\",\"characters\":3,\"words\":1,\"seconds\":1,"
        "\"transcriptionSeconds\":1,\"aiProcessed\":false},{\"date\":2,\"text\":\"x\","
        "\"characters\":1,\"words\":1,\"seconds\":1,\"transcriptionSeconds\":1}]",
        "{\"not\":\"an array\"}",
        "[{\"date\":1,\"text\":\"old\",\"characters\":3.5,\"words\":1,\"seconds\":1,"
        "\"transcriptionSeconds\":1,\"aiProcessed\":false}]",
    };
    for (const std::string& broken : cases) {
        SCOPED_TRACE(broken);
        platform::system::TemporaryDirectory folder("zv-stats-");
        Stats store(folder / "stats.json", clock);
        writeFile(store.file(), broken);
        EXPECT_THAT(store.loadAll(), IsEmpty());
        EXPECT_EQ(store.summary(), StatsSummary{});

        store.record("new", 1, 1, false);
        const fs::path asideName = folder / "stats.json.corrupt-20231114T221320Z";
        EXPECT_EQ(readFile(asideName), broken);
        ASSERT_EQ(store.loadAll().size(), 1u);
        EXPECT_EQ(store.loadAll()[0].text, "new");

        // A second broken file in the same second gets a name of its own.
        writeFile(store.file(), broken);
        store.record("newer", 1, 1, false);
        EXPECT_EQ(readFile(folder / "stats.json.corrupt-20231114T221320Z-2"), broken);
        EXPECT_EQ(readFile(asideName), broken);
    }
    EXPECT_THAT(log.text(), ::testing::HasSubstr("stats: unreadable stats.json set aside as "
                                                 "stats.json.corrupt-20231114T221320Z\n"));
}

TEST_F(StatsTest, AWriterKilledMidWriteNeverLeavesATruncatedFile) {
    stats.record("first", 1, 1, false);
    const std::string text(64 * 1024, 'x');
    size_t known = 1;
    for (int round = 0; round < 12; ++round) {
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            Stats writer(stats.file(), clock);
            for (;;)
                writer.record(text, 1, 1, false);
        }
        ::usleep(static_cast<useconds_t>(30000 + round * 10000));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        const size_t now = stats.loadAll().size();
        ASSERT_GE(now, known) << "round " << round; // never empty, never shorter
        known = now;
    }
    EXPECT_GT(known, 1u);
}

TEST_F(StatsTest, CountsUseGraphemesAndWhiteSpace) {
    struct Case {
        std::string text;
        int64_t characters;
        int64_t words;
    };
    const Case cases[] = {
        {"", 0, 0},
        {" \n\t\r\n", 4, 0},
        {"a\r\nb", 3, 2},
        {"  один  два\tтри\n", 16, 3},
        {"e\xCC\x81t\xC3\xA9", 3, 1},               // é with a combining accent, then é
        {"\xF0\x9F\x87\xB7\xF0\x9F\x87\xBA", 1, 1}, // a flag
        {"a\xC2\xA0"
         "b\xE2\x80\xA8"
         "c\xE3\x80\x80"
         "d",
         7, 4}, // NBSP, U+2028, U+3000
        {"a\xE2\x80\x8B"
         "b",
         3, 1}, // zero-width space is not white space
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(characterCount(c.text), c.characters);
        EXPECT_EQ(wordCount(c.text), c.words);
    }
    stats.record("a\r\nb", 0, 0, false);
    EXPECT_EQ(stats.loadAll()[0].characters, 3);
    EXPECT_EQ(stats.loadAll()[0].words, 2);
}

TEST_F(StatsTest, OddValuesStillGiveAReadableFile) {
    stats.record("bad \xFF byte", std::nan(""), std::numeric_limits<double>::infinity(), false);
    const auto records = stats.loadAll();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].text, "bad \xEF\xBF\xBD byte");
    EXPECT_EQ(records[0].seconds, 0);
    EXPECT_EQ(records[0].transcriptionSeconds, 0);
}

TEST_F(StatsTest, SummaryCountsRecordsFromADateOnAndSaturates) {
    EXPECT_EQ(stats.summary(), StatsSummary{});
    const int64_t huge = std::numeric_limits<int64_t>::max() - 5;
    writeFile(stats.file(),
              "[{\"date\":100,\"text\":\"a\",\"characters\":" + std::to_string(huge) +
                  ",\"words\":1,\"seconds\":60,\"transcriptionSeconds\":1,\"aiProcessed\":true},"
                  "{\"date\":200,\"text\":\"b\",\"characters\":10,\"words\":2,\"seconds\":30,"
                  "\"transcriptionSeconds\":3,\"aiProcessed\":false}]");
    const StatsSummary all = stats.summary();
    EXPECT_EQ(all, (StatsSummary{2, std::numeric_limits<int64_t>::max(), 3, 90, 4, 1}));
    EXPECT_EQ(stats.summary(Date{200}), (StatsSummary{1, 10, 2, 30, 3, 0}));
    EXPECT_EQ(stats.summary(Date{200.001}), StatsSummary{});
}

/// Local time zone for the life of the object.
class TimeZone {
public:
    explicit TimeZone(const char* zone) {
        if (const char* old = std::getenv("TZ")) old_ = old;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~TimeZone() {
        if (old_) {
            ::setenv("TZ", old_->c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }

private:
    std::optional<std::string> old_;
};

/// The instant of a local date and time.
std::chrono::system_clock::time_point local(int year, int month, int day, int hour, int minute,
                                            int second = 0) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&tm));
}

TEST_F(StatsTest, SevenDayBucketsFollowCalendarDaysAcrossADaylightSavingChange) {
    TimeZone berlin("Europe/Berlin"); // clocks went forward on Sunday 2024-03-31
    clock->wall = local(2024, 4, 2, 12, 0);
    EXPECT_THAT(stats.dailyBuckets(0), IsEmpty());
    std::vector<std::string> labels;
    for (const auto& b : stats.dailyBuckets(7)) {
        labels.push_back(b.label);
        EXPECT_EQ(b.characters, 0);
        EXPECT_EQ(b.speechSeconds, 0);
    }
    EXPECT_THAT(labels, ElementsAre("ср", "чт", "пт", "сб", "вс", "пн", "вт"));

    auto recordAt = [&](std::chrono::system_clock::time_point when, const char* text,
                        double seconds) {
        clock->wall = when;
        stats.record(text, seconds, 0, false);
    };
    recordAt(local(2024, 3, 30, 23, 59, 59), "a", 1);   // Saturday
    recordAt(local(2024, 3, 31, 0, 0), "bb", 2);        // Sunday, at midnight exactly
    recordAt(local(2024, 3, 31, 23, 30), "ccc", 4);     // Sunday, in summer time
    recordAt(local(2024, 4, 1, 0, 0), "dddd", 8);       // Monday
    recordAt(local(2024, 3, 26, 12, 0), "too old", 16); // before the seven days
    clock->wall = local(2024, 4, 2, 12, 0);

    const auto buckets = stats.dailyBuckets(7);
    ASSERT_EQ(buckets.size(), 7u);
    EXPECT_EQ(buckets[3], (DailyBucket{"сб", 1, 1}));
    EXPECT_EQ(buckets[4], (DailyBucket{"вс", 5, 6}));
    EXPECT_EQ(buckets[5], (DailyBucket{"пн", 4, 8}));
    EXPECT_EQ(buckets[6], (DailyBucket{"вт", 0, 0}));
    EXPECT_EQ(buckets[0].characters + buckets[1].characters + buckets[2].characters, 0);
}

TEST(Format, NumbersAndDurations) {
    const std::pair<int64_t, const char*> numbers[] = {
        {0, "0"},
        {999, "999"},
        {1000, "1 000"},
        {12345, "12 345"},
        {1234567, "1 234 567"},
        {-1234, "-1 234"},
        {std::numeric_limits<int64_t>::min(), "-9 223 372 036 854 775 808"},
    };
    for (const auto& [value, text] : numbers)
        EXPECT_EQ(Format::num(value), text) << value;

    const double inf = std::numeric_limits<double>::infinity();
    const std::pair<double, const char*> durations[] = {
        {0, "0 мин"},
        {59.9, "0 мин"},
        {3599, "59 мин"},
        {3600, "1 ч 0 мин"},
        {7260, "2 ч 1 мин"},
        {std::nan(""), "0 мин"},
        {inf, "153722867280912930 ч 7 мин"},
        {1e300, "153722867280912930 ч 7 мин"},
        {-inf, "-9223372036854775808 мин"},
    };
    for (const auto& [seconds, text] : durations)
        EXPECT_EQ(Format::hm(seconds), text) << seconds;
}

} // namespace
