#include "halvex_zovuruv/TrayApplication.h"

#include "halvex_zovuruv/DictationTranscriber.h"
#include "halvex_zovuruv/Transcriber.h"
#include "halvex_zovuruv/core/BackgroundThreads.h"
#include "halvex_zovuruv/core/ClaudeDirectProcessor.h"
#include "halvex_zovuruv/core/DictationController.h"
#include "halvex_zovuruv/core/HotkeyMonitor.h"
#include "halvex_zovuruv/core/Log.h"
#include "halvex_zovuruv/core/Settings.h"
#include "halvex_zovuruv/core/Stats.h"
#include "halvex_zovuruv/core/TextInserter.h"
#include "halvex_zovuruv/core/UserDefaults.h"
#include "halvex_zovuruv/desktop/AppDelegate.h"
#include "halvex_zovuruv/desktop/AudioRecorder.h"
#include "halvex_zovuruv/desktop/DesktopClipboard.h"
#include "halvex_zovuruv/desktop/KeyboardModifierSource.h"
#include "halvex_zovuruv/desktop/MessageBoxAlerts.h"
#include "halvex_zovuruv/desktop/PasteKeystrokes.h"
#include "halvex_zovuruv/desktop/QtMainThread.h"
#include "halvex_zovuruv/desktop/X11Workspace.h"
#include "halvex_zovuruv/windows/HistoryWindow.h"
#include "halvex_zovuruv/windows/MicrophoneAccess.h"
#include "halvex_zovuruv/windows/OnboardingWindow.h"
#include "halvex_zovuruv/windows/ResultWindow.h"
#include "halvex_zovuruv/windows/StatisticsWindow.h"
#include "platform/audio/CaptureBackend.h"
#include "platform/ui/X11Windows.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace halvex {

namespace {

/// The microphone may be used when the sound server offers an input device;
/// there is no per-application permission to ask for.
class SoundServerMicrophone final : public windows::MicrophoneAccess {
public:
    bool isAuthorized() override {
        try {
            return platform::audio::CaptureBackend::system()->defaultInputDevice().has_value();
        } catch (...) {
            return false;
        }
    }
    void requestAccess(std::function<void()> answered) override {
        if (answered) answered();
    }
};

bool hasDisplay() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        if (const char* value = std::getenv(name); value && *value) return true;
    return false;
}

} // namespace

int runTrayApplication(int argc, char** argv) {
    if (!hasDisplay()) {
        std::fputs("ERROR: no desktop to show the application on (DISPLAY is not set)\n", stderr);
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName("Halvex Zovuruv");
    // Closing a window (a result, the history) must not end the application.
    QApplication::setQuitOnLastWindowClosed(false);

    auto mainThread = std::make_shared<QtMainThread>();
    auto defaults = std::make_shared<UserDefaults>();
    auto settings = std::make_shared<Settings>(defaults);
    auto keystrokes = PasteKeystrokes::open();
    std::shared_ptr<Workspace> workspace;
    if (auto windows = platform::ui::X11Windows::open())
        workspace = std::make_shared<X11Workspace>(std::move(windows));
    else
        workspace = std::make_shared<NoWorkspace>();
    auto alerts = std::make_shared<MessageBoxAlerts>();
    auto inserter = std::make_shared<TextInserter>(
        TextInserter::Backends{std::make_shared<DesktopClipboard>(), workspace, keystrokes,
                               keystrokes, alerts, mainThread});
    auto stats = std::make_shared<Stats>();
    auto resultWindow = std::make_shared<windows::ResultWindow>();
    auto background = std::make_shared<BackgroundThreads>();

    auto dictation = DictationController::create(
        {std::make_shared<AudioRecorder>(),
         std::make_shared<DictationTranscriber>(std::make_shared<Transcriber>()), inserter,
         resultWindow, std::make_shared<ClaudeDirectProcessor>(defaults), stats, alerts, workspace,
         mainThread, background, Clock::system()});

    auto source = KeyboardModifierSource::open();
    auto hotkeyMonitor = std::make_shared<HotkeyMonitor>(source, settings);

    windows::HistoryWindow history(stats);
    windows::StatisticsWindow statistics(stats);
    windows::OnboardingWindow onboarding(keystrokes, std::make_shared<SoundServerMicrophone>());

    AppDelegate::Components components;
    components.dictation = dictation;
    components.hotkeyMonitor = hotkeyMonitor;
    components.settings = settings;
    components.trust = keystrokes;
    components.showHistory = [&history] { history.show(); };
    components.showStats = [&statistics] { statistics.show(); };
    components.showOnboardingIfNeeded = [&onboarding] { onboarding.showIfNeeded(); };
    components.modelMissing = [] {
        std::error_code ec;
        return !std::filesystem::exists(Transcriber::modelFolder(), ec);
    };
    AppDelegate delegate(components);
    delegate.applicationDidFinishLaunching();
    Log::write(std::string("keyboard events from ") + source->backendName());

    const int status = app.exec();
    // Background jobs hand their results to the main thread, which is gone
    // now: the controller's callbacks go before the windows and the queue.
    dictation->onStateChange = nullptr;
    return status;
}

} // namespace halvex
