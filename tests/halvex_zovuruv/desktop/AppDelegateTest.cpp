// The tray menu and icon: titles, the checked hotkey, the hotkey choice and
// the API-key dialog, on a window that stands in for the tray.

#include "halvex_zovuruv/desktop/AppDelegate.h"

#include "halvex_zovuruv/core/Fakes.h"
#include "halvex_zovuruv/core/LogCapture.h"

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QMenu>
#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace halvex;
using namespace zvtest;

namespace {

/// One application object for the whole program, never destroyed: taking
/// it down among the static destructors at exit crashes.
QApplication& application() {
    static int argc = 1;
    static char name[] = "halvex_desktop_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

class AppDelegateTest : public ::testing::Test {
protected:
    void SetUp() override {
        application();
        folder = std::filesystem::temp_directory_path() /
                 ("zv-delegate-" + std::to_string(::getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(folder);
        defaults = std::make_shared<UserDefaults>(folder / "settings.conf");
        settings = std::make_shared<Settings>(defaults);
        auto mainThread = std::make_shared<ManualMainThread>();
        EventList events = std::make_shared<std::vector<std::string>>();
        auto clipboard = std::make_shared<FakeClipboard>(events);
        auto workspace = std::make_shared<FakeWorkspace>(events);
        auto alerts = std::make_shared<FakeAlerts>(events);
        auto inserter = std::make_shared<TextInserter>(TextInserter::Backends{
            clipboard, workspace, std::make_shared<FakeKeystrokes>(events, clipboard), trust,
            alerts, mainThread});
        recorder = std::make_shared<FakeRecorder>();
        auto clock = std::make_shared<FakeClock>();
        dictation = DictationController::create(
            {recorder, std::make_shared<FakeTranscriber>(clock), inserter,
             std::make_shared<FakeResultWindow>(), std::make_shared<FakeProcessor>(),
             std::make_shared<FakeRecords>(), alerts, workspace, mainThread,
             std::make_shared<ManualBackground>(), clock});
        source = std::make_shared<FakeModifierSource>();
        monitor = std::make_shared<HotkeyMonitor>(source, settings, clock);
    }
    void TearDown() override { std::filesystem::remove_all(folder); }

    std::unique_ptr<AppDelegate> launch(bool modelMissing = false) {
        AppDelegate::Components components;
        components.dictation = dictation;
        components.hotkeyMonitor = monitor;
        components.settings = settings;
        components.trust = trust;
        components.showOnboardingIfNeeded = [this] { ++onboardings; };
        components.modelMissing = [modelMissing] { return modelMissing; };
        components.forceWindow = true;
        auto delegate = std::make_unique<AppDelegate>(components);
        delegate->applicationDidFinishLaunching();
        return delegate;
    }

    static std::vector<QString> titles(QMenu* menu) {
        std::vector<QString> out;
        for (QAction* a : menu->actions())
            out.push_back(a->isSeparator() ? "—" : a->text());
        return out;
    }
    static QMenu* hotkeyMenu(QMenu* menu) { return menu->actions()[1]->menu(); }
    static QString checked(QMenu* menu) {
        QString title;
        for (QAction* a : hotkeyMenu(menu)->actions())
            if (a->isChecked()) title += a->text();
        return title;
    }

    std::filesystem::path folder;
    std::shared_ptr<UserDefaults> defaults;
    std::shared_ptr<Settings> settings;
    std::shared_ptr<FakeTrust> trust = std::make_shared<FakeTrust>();
    std::shared_ptr<FakeRecorder> recorder;
    std::shared_ptr<DictationController> dictation;
    std::shared_ptr<FakeModifierSource> source;
    std::shared_ptr<HotkeyMonitor> monitor;
    int onboardings = 0;
    LogCapture log;
};

} // namespace

TEST_F(AppDelegateTest, TheMenuHasItsItemsAndChecksTheStoredHotkey) {
    auto delegate = launch();
    ASSERT_TRUE(delegate->window() && delegate->menu());
    EXPECT_EQ(titles(delegate->menu()),
              (std::vector<QString>{"Диктовка (правый ⌘)", "⌨️ Горячая клавиша",
                                    "—", "🎙 История диктовок", "📊 Моя статистика",
                                    "—", "API-ключ Claude…", "—", "Выйти"}));
    EXPECT_EQ(titles(hotkeyMenu(delegate->menu())),
              (std::vector<QString>{"Правый ⌘ (Command)", "Правый ⌥ (Option)", "Правый ⌃ (Control)",
                                    "Клавиша Fn (🌐)"}));
    EXPECT_EQ(checked(delegate->menu()), "Правый ⌘ (Command)");
    EXPECT_EQ(delegate->iconDescription(), "Halvex Zovuruv");
    EXPECT_EQ(onboardings, 0);
}

TEST_F(AppDelegateTest, ChoosingAHotkeyStoresItAndRenewsTheMenu) {
    auto delegate = launch();
    hotkeyMenu(delegate->menu())->actions()[3]->trigger(); // Fn
    QCoreApplication::processEvents();
    EXPECT_EQ(defaults->string("hotkey"), "fn");
    EXPECT_EQ(delegate->menu()->actions()[0]->text(), "Диктовка (Fn)");
    EXPECT_EQ(checked(delegate->menu()), "Клавиша Fn (🌐)");

    delegate->selectHotkey("leftCommand"); // names no hotkey: ignored
    EXPECT_EQ(defaults->string("hotkey"), "fn");

    // A stored value that names no hotkey shows the right Super key.
    defaults->setString("hotkey", "капслок");
    delegate->buildMenu();
    EXPECT_EQ(checked(delegate->menu()), "Правый ⌘ (Command)");
}

TEST_F(AppDelegateTest, TheHotkeyTogglesTheDictationAndTheIconFollows) {
    auto delegate = launch();
    source->handler({KeyCode::rightCommand, ModifierFlag::command});
    EXPECT_EQ(dictation->state(), DictationState::recording);
    QCoreApplication::processEvents(); // the icon is repainted after the step
    EXPECT_EQ(delegate->iconDescription(), "Идёт запись");
    EXPECT_EQ(recorder->starts, 1);
}

TEST_F(AppDelegateTest, WithoutPermissionTheOnboardingOpensAtLaunch) {
    trust->trusted = false;
    auto delegate = launch();
    EXPECT_EQ(onboardings, 1);
    ASSERT_FALSE(log.messages().empty());
    EXPECT_EQ(log.messages().front(), "app launched; accessibility trusted = false");
}

TEST_F(AppDelegateTest, TheAPIKeyIsStoredTrimmedAndShownMasked) {
    auto delegate = launch();
    delegate->storeAPIKey("  sk-key-1 \n");
    EXPECT_EQ(defaults->string("claudeAPIKey"), "sk-key-1");
    auto dialog = delegate->makeAPIKeyDialog();
    auto* field = dialog->findChild<QLineEdit*>("apiKeyField");
    ASSERT_TRUE(field);
    EXPECT_EQ(field->text(), "sk-key-1");
    EXPECT_EQ(field->echoMode(), QLineEdit::Password);
    EXPECT_EQ(field->size(), QSize(340, 24));
    delegate->storeAPIKey("");
    EXPECT_EQ(defaults->string("claudeAPIKey"), "");
}
