#include "halvex_zovuruv/windows/OnboardingWindow.h"

#include "halvex_zovuruv/core/Fakes.h"
#include "halvex_zovuruv/windows/WidgetEvents.h"
#include "halvex_zovuruv/windows/WindowStyle.h"
#include "platform/system/TemporaryDirectory.h"

#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>
#include <thread>

namespace {

using halvex::windows::MicrophoneAccess;
using halvex::windows::OnboardingWindow;
namespace colors = halvex::windows::colors;
using zvtest::FakeTrust;
using zvtest::pressKey;
using zvtest::waitUntil;

/// Grants access when asked, answering from a thread of its own as the
/// sound system would.
class FakeMicrophone final : public MicrophoneAccess {
public:
    std::atomic<bool> authorized = false;
    std::thread answerer;

    ~FakeMicrophone() override {
        if (answerer.joinable()) answerer.join();
    }
    bool isAuthorized() override { return authorized; }
    void requestAccess(std::function<void()> answered) override {
        answerer = std::thread([this, answered = std::move(answered)] {
            authorized = true;
            answered();
        });
    }
};

class OnboardingWindowTest : public ::testing::Test {
protected:
    OnboardingWindowTest() { trust->trusted = false; }

    std::unique_ptr<OnboardingWindow> make(OnboardingWindow::Relaunch relaunch) {
        if (!relaunch.quit) relaunch.quit = [this] { ++quits; };
        if (relaunch.program.isEmpty()) relaunch.program = "/bin/true";
        return std::make_unique<OnboardingWindow>(trust, microphone, std::move(relaunch));
    }

    std::shared_ptr<FakeTrust> trust = std::make_shared<FakeTrust>();
    std::shared_ptr<FakeMicrophone> microphone = std::make_shared<FakeMicrophone>();
    int quits = 0;
};

TEST_F(OnboardingWindowTest, AnAlreadyTrustedProcessGetsNoWindowAndNoTimer) {
    trust->trusted = true;
    auto window = make({});
    EXPECT_FALSE(window->showIfNeeded());
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->timer(), nullptr);
    EXPECT_EQ(trust->prompts, 0);
}

TEST_F(OnboardingWindowTest, MarksFollowThePermissionsAndOnlyKeystrokesEnableTheRestart) {
    auto window = make({});
    ASSERT_TRUE(window->showIfNeeded());
    EXPECT_EQ(window->windowTitle(), "Corvane Zovuruv");
    ASSERT_NE(window->timer(), nullptr);
    EXPECT_TRUE(window->timer()->isActive());
    EXPECT_EQ(window->micStatus()->text(), "○");
    EXPECT_EQ(window->axStatus()->text(), "○");
    EXPECT_FALSE(window->restartButton()->isEnabled());
    pressKey(window.get(), Qt::Key_Return); // a disabled default button does nothing
    EXPECT_EQ(quits, 0);

    // The microphone answer arrives on another thread and is shown on ours.
    window->micButton()->click();
    ASSERT_TRUE(waitUntil([&] { return window->micStatus()->text() == "✓"; }));
    EXPECT_EQ(window->micStatus()->palette().color(QPalette::WindowText), colors::green());
    EXPECT_EQ(window->axStatus()->palette().color(QPalette::WindowText), colors::secondaryLabel());
    EXPECT_FALSE(window->restartButton()->isEnabled()); // the microphone does not matter

    window->accessButton()->click();
    EXPECT_EQ(trust->prompts, 1);

    // Granted elsewhere: the timer notices within about a second.
    microphone->authorized = false;
    trust->trusted = true;
    ASSERT_TRUE(waitUntil([&] { return window->restartButton()->isEnabled(); }, 3000));
    EXPECT_EQ(window->axStatus()->text(), "✓");
    EXPECT_EQ(window->micStatus()->text(), "○");

    pressKey(window.get(), Qt::Key_Return);
    EXPECT_EQ(quits, 1);
    EXPECT_FALSE(window->timer()->isActive());
}

TEST_F(OnboardingWindowTest, RestartStartsTheProgramAtAPathWithBlanksAndQuotes) {
    platform::system::TemporaryDirectory dir{"zv-onboarding-"};
    const std::filesystem::path folder = dir / "my apps";
    std::filesystem::create_directories(folder);
    const std::filesystem::path script = folder / "dictation \"v2\" $HOME;.sh";
    const std::filesystem::path marker = dir / "started";
    {
        std::ofstream out(script);
        out << "#!/bin/sh\nprintf '%s|' \"$0\" \"$@\" > \"$ZV_MARKER.tmp\" && mv "
               "\"$ZV_MARKER.tmp\" "
               "\"$ZV_MARKER\"\n";
    }
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    setenv("ZV_MARKER", marker.c_str(), 1);

    auto window = make({QString::fromStdString(script.string()), {"--flag", "two words"}, {}});
    ASSERT_TRUE(window->showIfNeeded());
    trust->trusted = true;
    window->refreshStatus();
    window->restartButton()->click();
    EXPECT_EQ(quits, 1);
    ASSERT_TRUE(waitUntil([&] { return std::filesystem::exists(marker); }, 10000));
    std::ifstream in(marker);
    std::stringstream got;
    got << in.rdbuf();
    EXPECT_EQ(got.str(), script.string() + "|--flag|two words|");
    unsetenv("ZV_MARKER");
}

} // namespace
