#include "halvex_zovuruv/core/TextInserter.h"

#include "Fakes.h"
#include "LogCapture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using namespace halvex;
using namespace zvtest;
using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

class TextInserterTest : public ::testing::Test {
protected:
    EventList events = std::make_shared<std::vector<std::string>>();
    std::shared_ptr<ManualMainThread> mainThread = std::make_shared<ManualMainThread>();
    std::shared_ptr<FakeClipboard> clipboard = std::make_shared<FakeClipboard>(events);
    std::shared_ptr<FakeTrust> trust = std::make_shared<FakeTrust>();
    std::shared_ptr<FakeAlerts> alerts = std::make_shared<FakeAlerts>(events);
    LogCapture log;
    TextInserter inserter{{clipboard, std::make_shared<FakeWorkspace>(events),
                           std::make_shared<FakeKeystrokes>(events, clipboard), trust, alerts,
                           mainThread}};
    std::function<void()> afterPaste = [this] { events->push_back("after paste"); };
};

TEST_F(TextInserterTest, PastesIntoTheReactivatedTargetAfterTheDelay) {
    inserter.insert("текст", RunningApplication{7, "Editor"}, afterPaste);
    EXPECT_THAT(*events, ElementsAre("clipboard текст", "activate Editor"));
    mainThread->advance(349ms);
    EXPECT_EQ(events->size(), 2u); // the window is still coming to the front
    mainThread->advance(1ms);
    EXPECT_THAT(*events,
                ElementsAre("clipboard текст", "activate Editor", "paste текст", "after paste"));
    EXPECT_THAT(log.messages(), ElementsAre("insert: reactivated Editor", "insert: pressed Cmd+V"));
    EXPECT_EQ(trust->prompts, 0);
}

TEST_F(TextInserterTest, WithoutATargetOrANameThePasteGoesToTheFocusedWindow) {
    inserter.insert("", std::nullopt);
    mainThread->advance(1s);
    inserter.insert("b", RunningApplication{3, std::nullopt});
    mainThread->advance(1s);
    // An empty text still replaces the clipboard and is pasted.
    EXPECT_THAT(*events,
                ElementsAre("clipboard ", "paste ", "clipboard b", "activate ?", "paste b"));
    EXPECT_THAT(log.messages(), ElementsAre("insert: pressed Cmd+V", "insert: reactivated target",
                                            "insert: pressed Cmd+V"));
}

TEST_F(TextInserterTest, InsertionsWithinThePasteDelayEachPasteTheirOwnText) {
    inserter.insert("first", RunningApplication{1, "One"}, afterPaste);
    mainThread->advance(100ms);
    inserter.insert("second", RunningApplication{2, "Two"}, afterPaste);
    inserter.insert("third", std::nullopt);
    // The later ones wait: neither the clipboard nor the focus changes
    // before the first paste and the time its window needs to read it.
    EXPECT_THAT(*events, ElementsAre("clipboard first", "activate One"));
    mainThread->advance(250ms);
    mainThread->advance(349ms);
    EXPECT_THAT(*events,
                ElementsAre("clipboard first", "activate One", "paste first", "after paste"));
    mainThread->advance(2s);
    EXPECT_THAT(*events,
                ElementsAre("clipboard first", "activate One", "paste first", "after paste",
                            "clipboard second", "activate Two", "paste second", "after paste",
                            "clipboard third", "paste third"));
    EXPECT_TRUE(mainThread->idle());
}

TEST_F(TextInserterTest, WithoutPermissionTheTextStaysOnTheClipboardAndTheUserIsTold) {
    trust->trusted = false;
    inserter.insert("текст", RunningApplication{7, "Editor"}, afterPaste);
    mainThread->advance(1s);
    EXPECT_EQ(trust->prompts, 1);
    ASSERT_EQ(alerts->shown.size(), 1u);
    EXPECT_EQ(alerts->shown[0].message, "Текст скопирован в буфер обмена");
    EXPECT_EQ(events->front(), "clipboard текст");
    EXPECT_EQ(events->back(), "after paste"); // after the user closed the alert
    EXPECT_EQ(std::count_if(events->begin(), events->end(),
                            [](const std::string& e) {
                                return e.rfind("paste", 0) == 0 || e.rfind("activate", 0) == 0;
                            }),
              0);
    EXPECT_THAT(log.messages(),
                ElementsAre("insert: accessibility NOT trusted — text left in clipboard"));
}

} // namespace
