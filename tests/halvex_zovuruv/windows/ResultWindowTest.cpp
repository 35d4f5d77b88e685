#include "halvex_zovuruv/windows/ResultWindow.h"

#include "halvex_zovuruv/windows/WidgetEvents.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <functional>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using halvex::DictationRecord;
using halvex::ResultChoice;
using halvex::windows::ResultDialog;
using halvex::windows::ResultWindow;
using zvtest::pressKey;
using zvtest::recordAt;

struct Answer {
    ResultChoice choice;
    std::string text;
};

/// Presents results and keeps every answer the windows give.
struct Presenter {
    ResultWindow window;
    std::vector<std::vector<Answer>> answers; // per presented result

    ResultDialog* present(const std::string& text, const std::vector<DictationRecord>& previous) {
        const size_t slot = answers.size();
        answers.emplace_back();
        window.present(text, previous, [this, slot](const ResultChoice& c, const std::string& t) {
            answers[slot].push_back({c, t});
        });
        return window.openDialogs().back();
    }
};

std::vector<DictationRecord> threeRecords() {
    return {recordAt(1765392420, "Третья запись, самая новая"),
            recordAt(1765377000, "Вторая запись\nс переносом строки"),
            recordAt(1765357500, "Первая запись")};
}

TEST(ResultWindow, ListsTheEarlierTranscriptsNewestFirst) {
    Presenter p;
    ResultDialog* none = p.present("текст", {});
    EXPECT_EQ(none->previousLabel(), nullptr);
    EXPECT_TRUE(none->previousButtons().empty());
    EXPECT_EQ(none->windowTitle(), "Corvane Zovuruv");
    EXPECT_EQ(none->width(), 660);
    none->reject();

    ResultDialog* dialog = p.present("текст", threeRecords());
    ASSERT_NE(dialog->previousLabel(), nullptr);
    EXPECT_EQ(dialog->previousLabel()->text(), "Предыдущие расшифровки (нажми, чтобы подставить)");
    ASSERT_EQ(dialog->previousButtons().size(), 3u);
    EXPECT_EQ(dialog->previousButtons()[0]->text(), "18:47  ·  Третья запись, самая новая");
    EXPECT_EQ(dialog->previousButtons()[2]->text(), "09:05  ·  Первая запись");
    // A multi-line transcript shows its first line, cut; the tip has all of it.
    EXPECT_EQ(dialog->previousButtons()[1]->text(), "14:30  ·  Вторая запись…");
    EXPECT_EQ(dialog->previousButtons()[1]->toolTip(),
              "Нажми, чтобы подставить в поле выше:\n\nВторая запись\nс переносом строки");
    for (QPushButton* button : dialog->previousButtons())
        EXPECT_EQ(button->width(), 616);
    EXPECT_EQ(dialog->width(), 660);

    // More than three are cut to the three newest.
    auto four = threeRecords();
    four.push_back(recordAt(1765300000, "старая"));
    EXPECT_EQ(p.present("текст", four)->previousButtons().size(), 3u);
}

TEST(ResultWindow, LongTranscriptButtonStaysOneLineCutAtTheTail) {
    Presenter p;
    const std::string longText(400, 'a');
    ResultDialog* dialog = p.present("текст", {recordAt(1765357500, longText)});
    const QString shown = dialog->previousButtons()[0]->text();
    EXPECT_TRUE(shown.startsWith("09:05  ·  aaa"));
    EXPECT_TRUE(shown.endsWith(QChar(0x2026)));
    EXPECT_LT(shown.size(), 400);
}

struct ActionCase {
    const char* name;
    std::function<void(ResultDialog*)> act;
    ResultChoice choice;
    std::string text;
};

TEST(ResultWindow, EachWayOfDecidingGivesItsChoiceAndTheEditorsText) {
    const std::vector<ActionCase> cases = {
        {"insert button", [](ResultDialog* d) { d->insertButton()->click(); },
         ResultChoice::insert(), "исходный текст"},
        {"AI button", [](ResultDialog* d) { d->aiButton()->click(); }, ResultChoice::ai(),
         "исходный текст"},
        {"cancel button", [](ResultDialog* d) { d->cancelButton()->click(); },
         ResultChoice::cancel(), "исходный текст"},
        {"Return in the editor", [](ResultDialog* d) { pressKey(d->editor(), Qt::Key_Return); },
         ResultChoice::insert(), "исходный текст"},
        {"Enter on the keypad",
         [](ResultDialog* d) { pressKey(d->editor(), Qt::Key_Enter, Qt::KeypadModifier); },
         ResultChoice::insert(), "исходный текст"},
        {"Escape", [](ResultDialog* d) { pressKey(d->editor(), Qt::Key_Escape); },
         ResultChoice::cancel(), "исходный текст"},
        {"close box", [](ResultDialog* d) { d->close(); }, ResultChoice::cancel(),
         "исходный текст"},
        {"Shift+Return breaks the line, then Return inserts",
         [](ResultDialog* d) {
             d->editor()->moveCursor(QTextCursor::End);
             pressKey(d->editor(), Qt::Key_Return, Qt::ShiftModifier);
             pressKey(d->editor(), Qt::Key_Return);
         },
         ResultChoice::insert(), "исходный текст\n"},
        {"emptied editor",
         [](ResultDialog* d) {
             d->editor()->clear();
             d->insertButton()->click();
         },
         ResultChoice::insert(), ""},
        {"previous transcript loaded, then insert",
         [](ResultDialog* d) {
             d->previousButtons()[1]->click();
             EXPECT_TRUE(d->isVisible()); // loading keeps the window open
             d->insertButton()->click();
         },
         ResultChoice::insert(), "Вторая запись\nс переносом строки"},
        {"English from the translate menu",
         [](ResultDialog* d) {
             d->translateButton()->click();
             d->translateMenu()->actions().at(0)->trigger();
         },
         ResultChoice::translate("English"), "исходный текст"},
        {"Chinese from the translate menu",
         [](ResultDialog* d) {
             d->translateButton()->click();
             ASSERT_EQ(d->translateMenu()->actions().at(1)->text(), "中文 (китайский)");
             d->translateMenu()->actions().at(1)->trigger();
         },
         ResultChoice::translate("Simplified Chinese"), "исходный текст"},
    };
    for (const ActionCase& c : cases) {
        SCOPED_TRACE(c.name);
        Presenter p;
        ResultDialog* dialog = p.present("исходный текст", threeRecords());
        c.act(dialog);
        QApplication::processEvents();
        ASSERT_EQ(p.answers[0].size(), 1u);
        EXPECT_EQ(p.answers[0][0].choice, c.choice);
        EXPECT_EQ(p.answers[0][0].text, c.text);
        EXPECT_TRUE(p.window.openDialogs().empty());
    }
}

TEST(ResultWindow, DismissingTheTranslateMenuChangesNothing) {
    Presenter p;
    ResultDialog* dialog = p.present("текст", {});
    dialog->translateButton()->click();
    QMenu* menu = dialog->translateMenu();
    ASSERT_NE(menu, nullptr);
    EXPECT_TRUE(menu->isVisible());
    menu->close();
    QApplication::processEvents();
    EXPECT_TRUE(p.answers[0].empty());
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->choice(), ResultChoice::cancel());
    dialog->aiButton()->click();
    ASSERT_EQ(p.answers[0].size(), 1u);
    EXPECT_EQ(p.answers[0][0].choice, ResultChoice::ai());
}

TEST(ResultWindow, ASecondResultLeavesTheFirstWindowsTextAndChoiceAlone) {
    Presenter p;
    ResultDialog* outer = p.present("первая диктовка", {});
    outer->editor()->setPlainText("первая, исправленная");
    ResultDialog* inner = p.present("вторая диктовка", threeRecords());
    ASSERT_NE(outer, inner);
    EXPECT_EQ(p.window.openDialogs().size(), 2u);

    inner->translateButton()->click();
    inner->translateMenu()->actions().at(0)->trigger();
    ASSERT_EQ(p.answers[1].size(), 1u);
    EXPECT_EQ(p.answers[1][0].choice, ResultChoice::translate("English"));
    EXPECT_EQ(p.answers[1][0].text, "вторая диктовка");

    // The outer window is untouched and still waits for its own answer.
    EXPECT_TRUE(p.answers[0].empty());
    EXPECT_EQ(p.window.openDialogs(), std::vector<ResultDialog*>{outer});
    EXPECT_EQ(outer->choice(), ResultChoice::cancel());
    EXPECT_EQ(outer->text(), "первая, исправленная");
    outer->insertButton()->click();
    ASSERT_EQ(p.answers[0].size(), 1u);
    EXPECT_EQ(p.answers[0][0].choice, ResultChoice::insert());
    EXPECT_EQ(p.answers[0][0].text, "первая, исправленная");
    EXPECT_EQ(p.answers[1].size(), 1u); // each answers once
}

} // namespace
