#include "halvex_zovuruv/core/DictationController.h"

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

RunningApplication app(uint64_t id, const char* name) {
    return RunningApplication{id, std::string(name)};
}

class DictationControllerTest : public ::testing::Test {
protected:
    EventList events = std::make_shared<std::vector<std::string>>();
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    std::shared_ptr<ManualMainThread> mainThread = std::make_shared<ManualMainThread>();
    std::shared_ptr<ManualBackground> background = std::make_shared<ManualBackground>();
    std::shared_ptr<FakeRecorder> recorder = std::make_shared<FakeRecorder>();
    std::shared_ptr<FakeTranscriber> transcriber = std::make_shared<FakeTranscriber>(clock);
    std::shared_ptr<FakeWorkspace> workspace = std::make_shared<FakeWorkspace>(events);
    std::shared_ptr<FakeClipboard> clipboard = std::make_shared<FakeClipboard>(events);
    std::shared_ptr<FakeTrust> trust = std::make_shared<FakeTrust>();
    std::shared_ptr<FakeAlerts> alerts = std::make_shared<FakeAlerts>(events);
    std::shared_ptr<FakeResultWindow> windows = std::make_shared<FakeResultWindow>();
    std::shared_ptr<FakeProcessor> processor = std::make_shared<FakeProcessor>();
    std::shared_ptr<FakeRecords> records = std::make_shared<FakeRecords>();
    LogCapture log;
    std::vector<DictationState> notified;
    std::shared_ptr<DictationController> controller;

    void SetUp() override {
        auto inserter = std::make_shared<TextInserter>(TextInserter::Backends{
            clipboard, workspace, std::make_shared<FakeKeystrokes>(events, clipboard), trust,
            alerts, mainThread});
        controller = DictationController::create({recorder, transcriber, inserter, windows,
                                                  processor, records, alerts, workspace, mainThread,
                                                  background, clock});
        controller->onStateChange = [this](DictationState s) { notified.push_back(s); };
    }

    // Queued jobs hold the controller; let them finish.
    void TearDown() override { settle(); }

    /// Records `recordSeconds` of audio in `target` and transcribes it to
    /// `text` in `transcribeSeconds`, up to the result window.
    void dictate(const std::string& text, double recordSeconds, double transcribeSeconds,
                 std::optional<RunningApplication> target = app(1, "Editor")) {
        workspace->frontmost = target;
        recorder->nextSampleCount = static_cast<size_t>(recordSeconds * 16000);
        transcriber->answers.push_back({text, transcribeSeconds});
        controller->toggle();
        controller->toggle();
        background->runAll();
        mainThread->runPending();
    }

    /// Lets every queued job, delayed ones included, run.
    void settle() {
        background->runAll();
        mainThread->advance(1s);
        background->runAll();
        mainThread->advance(1s);
    }
};

TEST_F(DictationControllerTest, OneDictationWalksTheStatesAndLogsEachStep) {
    dictate("Привет", 2, 1.25);
    EXPECT_THAT(notified, ElementsAre(DictationState::recording, DictationState::transcribing,
                                      DictationState::idle));
    ASSERT_EQ(windows->open.size(), 1u);
    EXPECT_EQ(windows->open[0].text, "Привет");
    EXPECT_THAT(log.messages(), ElementsAre("toggle called; current state = idle",
                                            "target app for insertion: Editor", "recording started",
                                            "toggle called; current state = recording",
                                            "recording stopped; captured 32000 samples",
                                            "transcribed in 1.25s: \"Привет\""));
}

TEST_F(DictationControllerTest, TogglesWhileTranscribingOrProcessingAreLoggedAndIgnored) {
    workspace->frontmost = std::nullopt;
    transcriber->answers.push_back({"текст", 0.5});
    controller->toggle();
    controller->toggle();
    controller->toggle(); // while transcribing
    EXPECT_EQ(controller->state(), DictationState::transcribing);
    EXPECT_EQ(recorder->starts, 1);

    background->runAll();
    mainThread->runPending();
    windows->answer(0, ResultChoice::ai(), "текст");
    EXPECT_EQ(controller->state(), DictationState::processing);
    controller->toggle(); // while processing
    EXPECT_EQ(controller->state(), DictationState::processing);
    EXPECT_EQ(recorder->starts, 1);

    settle();
    EXPECT_EQ(controller->state(), DictationState::idle);
    EXPECT_THAT(notified, ElementsAre(DictationState::recording, DictationState::transcribing,
                                      DictationState::idle, DictationState::processing,
                                      DictationState::idle));
    const auto lines = log.messages();
    EXPECT_EQ(lines[1], "target app for insertion: nil");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "toggle called; current state = transcribing"),
              1);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "toggle called; current state = processing"),
              1);
}

TEST_F(DictationControllerTest, EmptyTranscriptAlertsAndOpensNoWindow) {
    dictate("", 0, 0.1);
    mainThread->runPending();
    EXPECT_THAT(windows->open, IsEmpty());
    ASSERT_EQ(alerts->shown.size(), 1u);
    EXPECT_EQ(alerts->shown[0], (Alert{"Corvane Zovuruv", "Речь не распознана. Попробуй ещё раз.",
                                       Alert::Style::warning}));
    EXPECT_THAT(records->records, IsEmpty());
    EXPECT_EQ(controller->state(), DictationState::idle);
}

TEST_F(DictationControllerTest, FailuresAlertWithTheDescriptionAndLogTheDefaultForm) {
    // The transcription fails.
    transcriber->answers.push_back({"model missing", 0, true});
    controller->toggle();
    controller->toggle();
    background->runAll();
    mainThread->runPending();
    EXPECT_EQ(controller->state(), DictationState::idle);
    ASSERT_EQ(alerts->shown.size(), 1u);
    EXPECT_EQ(alerts->shown[0].informativeText, "Ошибка распознавания: model missing");
    EXPECT_EQ(log.messages().back(), "transcription FAILED: failed(\"model missing\")");

    // The recorder cannot start: no state change, and the next start works.
    notified.clear();
    recorder->startFailure = "Микрофон недоступен";
    controller->toggle();
    mainThread->runPending();
    EXPECT_EQ(controller->state(), DictationState::idle);
    EXPECT_THAT(notified, IsEmpty());
    ASSERT_EQ(alerts->shown.size(), 2u);
    EXPECT_EQ(alerts->shown[1].informativeText,
              "Не удалось начать запись: Микрофон недоступен\nПроверь доступ к микрофону в "
              "Настройках → Конфиденциальность.");
    EXPECT_EQ(log.messages().back(),
              "recording start FAILED: Error Domain=HalvexZovuruv Code=1 \"Микрофон недоступен\"");
    recorder->startFailure.reset();
    controller->toggle();
    EXPECT_EQ(controller->state(), DictationState::recording);
    EXPECT_THAT(records->records, IsEmpty());
}

TEST_F(DictationControllerTest, CancelInsertsAndRecordsNothing) {
    dictate("черновик", 1, 0.2);
    windows->answer(0, ResultChoice::cancel(), "черновик");
    settle();
    EXPECT_THAT(*events, IsEmpty());
    EXPECT_THAT(records->records, IsEmpty());
    EXPECT_THAT(alerts->shown, IsEmpty());
}

struct ChoiceCase {
    const char* name;
    ResultChoice choice;
    bool aiFails;
    std::string inserted;
    bool aiProcessed;
    std::string alert; ///< empty: none
};

void PrintTo(const ChoiceCase& c, std::ostream* os) {
    *os << c.name;
}

class DictationChoiceTest : public DictationControllerTest,
                            public ::testing::WithParamInterface<ChoiceCase> {};

TEST_P(DictationChoiceTest, RecordsExactlyWhatWasInsertedWithItsFlagAndTimings) {
    const ChoiceCase& c = GetParam();
    if (c.aiFails) processor->failure = "boom";
    dictate("сырой текст", 2.5, 1.5);
    events->clear();
    windows->answer(0, c.choice, "правка"); // the user edited the text first
    settle();

    ASSERT_EQ(records->records.size(), 1u);
    const DictationRecord& r = records->records[0];
    EXPECT_EQ(r.text, c.inserted);
    EXPECT_EQ(r.aiProcessed, c.aiProcessed);
    EXPECT_DOUBLE_EQ(r.seconds, 2.5);
    EXPECT_DOUBLE_EQ(r.transcriptionSeconds, 1.5);

    // The text goes to the window that had the focus; an alert comes only
    // after the paste, so it cannot take the paste.
    std::vector<std::string> expected = {"clipboard " + c.inserted, "activate Editor",
                                         "paste " + c.inserted};
    if (!c.alert.empty()) expected.push_back("alert " + c.alert);
    EXPECT_EQ(*events, expected);
    if (c.choice.kind == ResultChoice::Kind::translate) {
        ASSERT_EQ(processor->calls.size(), 1u);
        EXPECT_EQ(processor->calls[0], std::make_pair(std::string("правка"), c.choice.language));
    }
    EXPECT_EQ(controller->state(), DictationState::idle);
}

INSTANTIATE_TEST_SUITE_P(
    Choices, DictationChoiceTest,
    ::testing::Values(ChoiceCase{"Insert", ResultChoice::insert(), false, "правка", false, ""},
                      ChoiceCase{"AI", ResultChoice::ai(), false, "cleaned: правка", true, ""},
                      ChoiceCase{"Translate", ResultChoice::translate("Simplified Chinese"), false,
                                 "Simplified Chinese: правка", true, ""},
                      ChoiceCase{"AIFails", ResultChoice::ai(), true, "правка", false,
                                 "ИИ-обработка не удалась: boom\nВставляю текст без обработки."},
                      ChoiceCase{"TranslateFails", ResultChoice::translate("English"), true,
                                 "правка", false, "Перевод не удался: boom\nВставляю оригинал."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DictationControllerTest, PreviousTranscriptsAreTheLastThreeNewestFirst) {
    auto texts = [](const std::vector<DictationRecord>& list) {
        std::vector<std::string> out;
        for (const auto& r : list)
            out.push_back(r.text);
        return out;
    };
    dictate("первый", 1, 0.1);
    EXPECT_THAT(windows->open.back().previous, IsEmpty());

    for (const char* t : {"a", "b"})
        records->record(t, 1, 1, false);
    dictate("второй", 1, 0.1);
    EXPECT_THAT(texts(windows->open.back().previous), ElementsAre("b", "a"));

    for (const char* t : {"c", "d", "e"})
        records->record(t, 1, 1, false);
    dictate("третий", 1, 0.1);
    EXPECT_THAT(texts(windows->open.back().previous), ElementsAre("e", "d", "c"));
}

TEST_F(DictationControllerTest, ASecondDictationWhileTheFirstWindowIsOpenKeepsEachTargetAndTiming) {
    dictate("первая", 2, 1, app(1, "Editor"));
    dictate("вторая", 3, 0.5, app(2, "Terminal"));
    ASSERT_EQ(windows->open.size(), 2u);

    windows->answer(1, ResultChoice::insert(), "вторая");
    settle();
    windows->answer(0, ResultChoice::insert(), "первая");
    settle();

    EXPECT_THAT(*events, ElementsAre("clipboard вторая", "activate Terminal", "paste вторая",
                                     "clipboard первая", "activate Editor", "paste первая"));
    ASSERT_EQ(records->records.size(), 2u);
    EXPECT_EQ(records->records[0].text, "вторая");
    EXPECT_DOUBLE_EQ(records->records[0].seconds, 3);
    EXPECT_DOUBLE_EQ(records->records[0].transcriptionSeconds, 0.5);
    EXPECT_EQ(records->records[1].text, "первая");
    EXPECT_DOUBLE_EQ(records->records[1].seconds, 2);
    EXPECT_DOUBLE_EQ(records->records[1].transcriptionSeconds, 1);
}

TEST_F(DictationControllerTest,
       AnAIRequestStartedDuringTheNextRecordingLeavesThatRecordingInCharge) {
    dictate("первая", 1, 0.2, app(1, "Editor"));
    workspace->frontmost = app(2, "Terminal");
    controller->toggle(); // the second dictation records while the first window is open
    windows->answer(0, ResultChoice::ai(), "первая");
    EXPECT_EQ(controller->state(), DictationState::recording);

    controller->toggle(); // still stops the recording
    EXPECT_EQ(controller->state(), DictationState::transcribing);
    transcriber->answers.push_back({"вторая", 0.3});
    background->runAll(); // the AI answer and the transcription
    mainThread->runPending();
    EXPECT_EQ(controller->state(), DictationState::idle);
    settle();
    ASSERT_EQ(records->records.size(), 1u);
    EXPECT_EQ(records->records[0].text, "cleaned: первая");
    EXPECT_EQ(windows->open.size(), 1u);
    EXPECT_EQ(windows->open[0].text, "вторая");
    EXPECT_EQ((*events)[1], "activate Editor");
}

TEST_F(DictationControllerTest, PreloadLoadsInTheBackgroundAndDropsAFailure) {
    transcriber->loadFails = true;
    controller->preloadModel();
    EXPECT_EQ(transcriber->loads, 0);
    background->runAll();
    mainThread->runPending();
    EXPECT_EQ(transcriber->loads, 1);
    EXPECT_THAT(alerts->shown, IsEmpty());
    EXPECT_EQ(controller->state(), DictationState::idle);
}

} // namespace
