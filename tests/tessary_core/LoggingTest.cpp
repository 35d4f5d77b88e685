#include "tessary_core/Logging.h"

#include <atomic>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using tessary::Logging;
using Level = Logging::LogLevel;

namespace {

// Restores the shared logger after each test: it is process-wide.
class LoggingTest : public ::testing::Test {
protected:
    void SetUp() override {
        Logging::shared().setLoggingCallback(
            [this](const std::string& line) { lines.push_back(line); });
    }
    void TearDown() override {
        Logging::shared().setLoggingCallback({});
        Logging::shared().setLogLevel(Level::none);
    }
    void emitAll() {
        Logging::debug("d");
        Logging::info("i");
        Logging::error("e");
    }
    std::vector<std::string> lines;
};

} // namespace

TEST_F(LoggingTest, LevelFiltersLines) {
    struct Case {
        Level level;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {Level::none, {}},
        {Level::error, {"e"}},
        {Level::info, {"i", "e"}},
        {Level::debug, {"d", "i", "e"}},
    };
    for (const auto& c : cases) {
        lines.clear();
        Logging::shared().setLogLevel(c.level);
        emitAll();
        EXPECT_EQ(lines, c.expected) << static_cast<int>(c.level);
    }
}

namespace {
struct CountsRenders {
    int* renders;
};
std::ostream& operator<<(std::ostream& out, const CountsRenders& item) {
    ++*item.renders;
    return out << "rendered";
}
} // namespace

TEST_F(LoggingTest, FilteredLinesRenderNothing) {
    int renders = 0;
    Logging::shared().setLogLevel(Level::error);
    Logging::debug(CountsRenders{&renders});
    Logging::info(CountsRenders{&renders});
    EXPECT_EQ(renders, 0);
    Logging::error(CountsRenders{&renders});
    EXPECT_EQ(renders, 1);
    EXPECT_EQ(lines, std::vector<std::string>{"rendered"});
}

TEST_F(LoggingTest, LazyLinesComputeTheirItemsOnlyWhenWritten) {
    int computed = 0;
    auto text = [&] {
        ++computed;
        return std::string("built");
    };
    Logging::shared().setLogLevel(Level::info);
    TESSARY_LOG(debug, "skipped " + text());
    EXPECT_EQ(computed, 0);
    TESSARY_LOG(info, "line", text(), 2.5);
    TESSARY_LOG(error, text());
    EXPECT_EQ(computed, 2);
    EXPECT_EQ(lines, (std::vector<std::string>{"line built 2.5", "built"}));
}

TEST(LoggingLevel, RawValues) {
    EXPECT_EQ(Logging::logLevelFromRawValue(0), std::nullopt);
    EXPECT_EQ(Logging::logLevelFromRawValue(5), std::nullopt);
    EXPECT_EQ(Logging::logLevelFromRawValue(1), Level::debug);
    EXPECT_EQ(Logging::logLevelFromRawValue(4), Level::none);
    EXPECT_EQ(fmt::format("{}", Level::info), "info");
}

TEST_F(LoggingTest, ItemsAreJoinedWithoutTerminator) {
    Logging::shared().setLogLevel(Level::debug);
    Logging::info("a", 1, 2.5);
    Logging::info(Logging::Separator{", "}, "x", 2.0, 0.1f, true);
    Logging::error();
    EXPECT_EQ(lines, (std::vector<std::string>{"a 1 2.5", "x, 2.0, 0.1, true", ""}));
}

TEST_F(LoggingTest, LogWritesWhateverTheLevel) {
    Logging::shared().setLogLevel(Level::none);
    Logging::shared().log("forced");
    EXPECT_EQ(lines, std::vector<std::string>{"forced"});
}

TEST_F(LoggingTest, AThrowingCallbackDoesNotFailTheCaller) {
    Logging::shared().setLoggingCallback(
        [](const std::string&) { throw std::runtime_error("callback"); });
    Logging::shared().setLogLevel(Level::debug);
    EXPECT_NO_THROW(Logging::error("x"));
    EXPECT_NO_THROW(Logging::shared().log("y"));
}

TEST_F(LoggingTest, MemoryLineHasLabelAndMebibytes) {
    Logging::shared().setLogLevel(Level::debug);
    Logging::logCurrentMemoryUsage("Encoder");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].starts_with("Encoder - Memory usage: ")) << lines[0];
    EXPECT_TRUE(lines[0].ends_with(" MB")) << lines[0];
    EXPECT_GT(Logging::getMemoryUsage(), 0u); // this test process has resident pages
}

TEST(LoggingFormat, TimeWithPercentage) {
    EXPECT_EQ(Logging::formatTimeWithPercentage(0.5, 0, 1000),
              "  500.00 ms /      0 runs (    0.00 ms/run) 50.00%");
    EXPECT_EQ(Logging::formatTimeWithPercentage(1.2345678, 3, 2000),
              " 1234.57 ms /      3 runs (  411.52 ms/run) 61.73%");
    // A zero total divides to infinity; the text still comes back whole.
    EXPECT_EQ(Logging::formatTimeWithPercentage(1e300, 1, 0).substr(0, 3), "100");
}

// The level and the callback are changed while other threads log: nothing may
// tear, crash or call a callback that has already been released.
TEST(LoggingConcurrency, LevelAndCallbackChangeWhileLogging) {
    std::atomic<bool> stop{false};
    std::atomic<int> delivered{0};
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([&] {
            while (!stop.load())
                Logging::error("line", 42);
        });
    }
    for (int i = 0; i < 2000; ++i) {
        auto counter = std::make_shared<std::atomic<int>>(0); // released when replaced
        Logging::shared().setLoggingCallback([counter, &delivered](const std::string& line) {
            ++*counter;
            if (line == "line 42") ++delivered;
        });
        Logging::shared().setLogLevel(i % 2 ? Level::error : Level::none);
    }
    Logging::shared().setLogLevel(Level::error);
    while (delivered.load() == 0)
        std::this_thread::yield();
    stop = true;
    for (auto& w : writers)
        w.join();
    Logging::shared().setLoggingCallback({});
    Logging::shared().setLogLevel(Level::none);
    EXPECT_GT(delivered.load(), 0);
}
