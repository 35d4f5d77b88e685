#include "halvex_zovuruv/windows/StatisticsWindow.h"

#include "halvex_zovuruv/core/Fakes.h"
#include "platform/system/TemporaryDirectory.h"

#include <QLabel>
#include <chrono>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace {

using halvex::Stats;
using halvex::windows::BarChartView;
using halvex::windows::characterCaption;
using halvex::windows::minutesCaption;
using halvex::windows::StatisticsWindow;
using zvtest::FakeClock;

std::vector<BarChartView::Bar> barsOf(const std::vector<double>& values) {
    std::vector<BarChartView::Bar> bars;
    for (double v : values)
        bars.push_back({"д", v, "c"});
    return bars;
}

std::vector<double> heights(const std::vector<BarChartView::BarPlace>& places) {
    std::vector<double> h;
    for (const auto& p : places)
        h.push_back(p.rect.height());
    return h;
}

std::vector<bool> highlighted(const std::vector<BarChartView::BarPlace>& places) {
    std::vector<bool> h;
    for (const auto& p : places)
        h.push_back(p.highlighted);
    return h;
}

TEST(BarChartLayout, TheFirstLargestBarIsRedAndBarsScaleToThePlot) {
    // 676 x 150: plot 100 high, slots of 129.6, bars 44 wide.
    const auto places = BarChartView::layout(barsOf({0, 5, 9, 9, 0.01}), 676, 150);
    ASSERT_EQ(places.size(), 5u);
    EXPECT_THAT(highlighted(places), ::testing::ElementsAre(false, false, true, false, false));
    const auto h = heights(places);
    EXPECT_DOUBLE_EQ(h[0], 0);
    EXPECT_DOUBLE_EQ(h[1], 100.0 * 5 / 9);
    EXPECT_DOUBLE_EQ(h[2], 100);
    EXPECT_DOUBLE_EQ(h[3], 100);
    EXPECT_DOUBLE_EQ(h[4], 3); // tiny but above 0: still visible
    for (size_t j = 0; j < places.size(); ++j) {
        const double centre = 129.6 * (static_cast<double>(j) + 0.5) + 14;
        EXPECT_DOUBLE_EQ(places[j].centreX, centre);
        EXPECT_DOUBLE_EQ(places[j].rect.left(), centre - 22);
        EXPECT_DOUBLE_EQ(places[j].rect.width(), 44);
        EXPECT_DOUBLE_EQ(places[j].rect.bottom(), 150 - 26); // bars stand on one line
        EXPECT_DOUBLE_EQ(places[j].labelBottom, 150 - 6);
        EXPECT_DOUBLE_EQ(places[j].captionBottom, 150 - 26 - 4 - h[j]);
    }
}

TEST(BarChartLayout, SmallValuesScaleAgainstOneAndNarrowSlotsHalveTheBars) {
    const auto places = BarChartView::layout(barsOf({0.5, 1, 0.25}), 88, 150);
    EXPECT_THAT(heights(places), ::testing::ElementsAre(50, 100, 25));
    EXPECT_THAT(highlighted(places), ::testing::ElementsAre(false, true, false));
    EXPECT_DOUBLE_EQ(places[0].rect.width(), 10); // slot 20, half of it
    // No value above 0: nothing is drawn or highlighted.
    const auto empty = BarChartView::layout(barsOf({0, 0, 0, 0, 0, 0, 0}), 676, 150);
    EXPECT_THAT(heights(empty), ::testing::Each(0.0));
    EXPECT_THAT(highlighted(empty), ::testing::Each(false));
    EXPECT_TRUE(BarChartView::layout({}, 676, 150).empty());
}

TEST(BarChartLayout, Captions) {
    const std::vector<std::pair<int64_t, QString>> characters = {
        {0, "0"},       {999, "999"},   {1000, "1,0к"}, {1500, "1,5к"},     {9999, "10,0к"},
        {10000, "10к"}, {10500, "11к"}, {12300, "12к"}, {1234567, "1235к"},
    };
    for (const auto& [count, caption] : characters)
        EXPECT_EQ(characterCaption(count), caption) << count;
    const std::vector<std::pair<double, QString>> minutes = {
        {0, "0м"}, {20, "0м"}, {30, "1м"}, {89, "1м"}, {90, "2м"}, {3600, "60м"},
    };
    for (const auto& [seconds, caption] : minutes)
        EXPECT_EQ(minutesCaption(seconds), caption) << seconds;
}

class StatisticsWindowTest : public ::testing::Test {
protected:
    std::vector<QString> cardTexts() const {
        std::vector<QString> texts;
        for (const auto* card : window.cards()) {
            texts.push_back(card->titleLabel()->text() + " " + card->valueLabel()->text());
        }
        return texts;
    }

    platform::system::TemporaryDirectory dir{"zv-statswin-"};
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    std::shared_ptr<Stats> stats = std::make_shared<Stats>(dir / "stats.json", clock);
    StatisticsWindow window{stats};
};

TEST_F(StatisticsWindowTest, AnEmptyStoreShowsZerosAndSevenEmptyDays) {
    window.show();
    EXPECT_EQ(window.windowTitle(), "Статистика");
    EXPECT_EQ(window.size(), QSize(720, 620));
    EXPECT_THAT(cardTexts(), ::testing::ElementsAre("СИМВОЛЫ 0", "ДИКТОВКИ 0", "ВРЕМЯ РЕЧИ 0 мин",
                                                    "ТРАНСКРИПЦИЯ 0.00 с"));
    EXPECT_EQ(window.footer()->text(),
              "В среднем 0 символов за диктовку · с ИИ-обработкой: 0 из 0");
    for (const BarChartView* chart : {window.charactersChart(), window.speechChart()}) {
        ASSERT_EQ(chart->bars().size(), 7u);
        for (const auto& bar : chart->bars()) {
            EXPECT_FALSE(bar.label.isEmpty());
            EXPECT_EQ(bar.value, 0);
        }
        EXPECT_EQ(chart->size(), QSize(676, 150));
    }
}

TEST_F(StatisticsWindowTest, FiguresAndChartsFollowTheStoreAtEachShow) {
    stats->record("Привет мир", 89, 0.5, false);
    clock->advance(std::chrono::hours(24));
    stats->record(std::string(1500, 'a'), 20, 1.5, true);
    window.show();
    EXPECT_THAT(cardTexts(), ::testing::ElementsAre("СИМВОЛЫ 1 510", "ДИКТОВКИ 2",
                                                    "ВРЕМЯ РЕЧИ 1 мин", "ТРАНСКРИПЦИЯ 1.00 с"));
    EXPECT_EQ(window.footer()->text(),
              "В среднем 755 символов за диктовку · с ИИ-обработкой: 1 из 2");

    const auto& written = window.charactersChart()->bars();
    ASSERT_EQ(written.size(), 7u);
    EXPECT_EQ(written[5].value, 10);
    EXPECT_EQ(written[5].caption, "10");
    EXPECT_EQ(written[6].value, 1500); // today is the last day
    EXPECT_EQ(written[6].caption, "1,5к");
    const auto& spoken = window.speechChart()->bars();
    EXPECT_EQ(spoken[5].caption, "1м");
    EXPECT_EQ(spoken[6].caption, "0м");
    EXPECT_EQ(written[6].label, spoken[6].label);

    // A dictation made while the window was hidden counts at the next show.
    stats->record("ещё", 3600, 1.0, false);
    EXPECT_THAT(cardTexts()[1], "ДИКТОВКИ 2");
    window.show();
    EXPECT_THAT(cardTexts(), ::testing::ElementsAre("СИМВОЛЫ 1 513", "ДИКТОВКИ 3",
                                                    "ВРЕМЯ РЕЧИ 1 ч 1 мин", "ТРАНСКРИПЦИЯ 1.00 с"));
    EXPECT_EQ(window.speechChart()->bars()[6].caption, "60м");
}

} // namespace
