#include "halvex_zovuruv/windows/HistoryWindow.h"

#include "halvex_zovuruv/core/Fakes.h"
#include "halvex_zovuruv/windows/WidgetEvents.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace {

using halvex::windows::HistoryWindow;
using zvtest::FakeRecords;
using zvtest::pressKey;
using zvtest::recordAt;

class HistoryWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The store holds the oldest first.
        store->records = {recordAt(1765181700, "Купить молоко и хлеб"),
                          recordAt(1765316400, "Приветствие для команды\nвторая строка"),
                          recordAt(1765350180, "Созвон в десять, ПРИВЕТ всем")};
    }

    std::vector<std::string> shownTexts() const {
        std::vector<std::string> texts;
        for (const auto& record : window.filtered())
            texts.push_back(record.text);
        return texts;
    }
    std::vector<QString> rowTexts() const {
        std::vector<QString> rows;
        for (int row = 0; row < window.table()->rowCount(); ++row) {
            rows.push_back(window.table()->item(row, 0)->text());
        }
        return rows;
    }

    std::shared_ptr<FakeRecords> store = std::make_shared<FakeRecords>();
    HistoryWindow window{store};
};

TEST_F(HistoryWindowTest, ListsEveryRecordNewestFirstOnOneLineEach) {
    window.show();
    EXPECT_EQ(window.windowTitle(), "История диктовок");
    EXPECT_EQ(window.searchField()->placeholderText(), "Поиск по расшифровкам");
    EXPECT_THAT(rowTexts(), ::testing::ElementsAre("10.12  07:03    Созвон в десять, ПРИВЕТ всем",
                                                   "09.12  21:40    Приветствие для команды "
                                                   "вторая строка",
                                                   "08.12  08:15    Купить молоко и хлеб"));
    EXPECT_EQ(window.table()->rowHeight(0), 34);
    EXPECT_TRUE(window.detailView()->toPlainText().isEmpty());
}

TEST_F(HistoryWindowTest, SearchIgnoresCaseAndOuterBlanksAndMatchesInsideWords) {
    window.show();
    const std::string newest = "Созвон в десять, ПРИВЕТ всем";
    const std::string middle = "Приветствие для команды\nвторая строка";
    const std::string oldest = "Купить молоко и хлеб";
    const struct {
        QString query;
        std::vector<std::string> shown;
    } cases[] = {
        {"", {newest, middle, oldest}},
        {"  \t ", {newest, middle, oldest}},
        {"привет", {newest, middle}}, // small letters find capitals and a longer word
        {"ПРИВЕТСТВИЕ", {middle}},    // capitals find small letters
        {"\t молоко  ", {oldest}},    // blanks and tabs at the ends are dropped
        {"ВТОРАЯ СТРОКА", {middle}},  // the second line is searched too
        {"молоко хлеб", {}},          // the query is one substring, not words
        {"нет такого", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.query.toStdString());
        window.searchField()->setText(c.query);
        EXPECT_EQ(shownTexts(), c.shown);
        EXPECT_EQ(window.table()->rowCount(), static_cast<int>(c.shown.size()));
    }
}

TEST_F(HistoryWindowTest, SelectionShowsAndCopiesTheFullText) {
    window.show();
    window.searchField()->setText("команды");
    window.table()->selectRow(0);
    const QString full = "Приветствие для команды\nвторая строка";
    EXPECT_EQ(window.detailView()->toPlainText(), full);

    QGuiApplication::clipboard()->setText("прежнее");
    window.copyButton()->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), full);

    QGuiApplication::clipboard()->setText("прежнее");
    pressKey(window.searchField(), Qt::Key_Return);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), full);

    // A double click on a row copies that row's whole text, not the cut row.
    QGuiApplication::clipboard()->setText("прежнее");
    window.searchField()->clear();
    QApplication::processEvents(); // lets the table lay out its new rows
    QWidget* viewport = window.table()->viewport();
    const QPoint onRow = window.table()->visualItemRect(window.table()->item(1, 0)).center();
    for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease,
                                    QEvent::MouseButtonDblClick, QEvent::MouseButtonRelease}) {
        QMouseEvent click(type, onRow, viewport->mapToGlobal(onRow), Qt::LeftButton,
                          type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                          Qt::NoModifier);
        QApplication::sendEvent(viewport, &click);
    }
    EXPECT_EQ(QGuiApplication::clipboard()->text(), full);

    // A new search drops the selection: nothing to copy.
    window.searchField()->setText("молоко");
    EXPECT_TRUE(window.detailView()->toPlainText().isEmpty());
    QGuiApplication::clipboard()->setText("прежнее");
    window.copyButton()->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "прежнее");
}

TEST_F(HistoryWindowTest, ShowingAgainReadsTheStoreAnewAndClearsTheSearch) {
    window.show();
    window.searchField()->setText("молоко");
    store->records.push_back(recordAt(1765357500, "Новая диктовка"));
    EXPECT_EQ(window.table()->rowCount(), 1); // nothing changes while it is open
    window.show();
    EXPECT_TRUE(window.searchField()->text().isEmpty());
    ASSERT_EQ(window.table()->rowCount(), 4);
    EXPECT_EQ(window.filtered().front().text, "Новая диктовка");

    store->records.clear();
    window.show();
    EXPECT_EQ(window.table()->rowCount(), 0);
    EXPECT_TRUE(window.detailView()->toPlainText().isEmpty());
}

} // namespace
