#pragma once
// The tray application's root: the status icon with its menu, the hotkey
// wired to the dictation, the icon following the dictation's state, and the
// launch sequence (the first-download notice or the onboarding, then loading
// the speech engine in the background). Where the desktop has no system
// tray, a small window carries the same icon and menu, so the application is
// never invisible. Main thread only.

#include "halvex_zovuruv/core/AccessibilityTrust.h"
#include "halvex_zovuruv/core/DictationController.h"
#include "halvex_zovuruv/core/HotkeyMonitor.h"
#include "halvex_zovuruv/core/Settings.h"

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class QDialog;
class QMenu;
class QSystemTrayIcon;
class QToolButton;
class QWidget;

namespace halvex {

class AppDelegate {
public:
    struct Components {
        std::shared_ptr<DictationController> dictation;
        std::shared_ptr<HotkeyMonitor> hotkeyMonitor;
        std::shared_ptr<Settings> settings;
        std::shared_ptr<AccessibilityTrust> trust;
        /// The history, statistics and onboarding windows.
        std::function<void()> showHistory;
        std::function<void()> showStats;
        std::function<void()> showOnboardingIfNeeded;
        /// True when the speech model still has to be downloaded.
        std::function<bool()> modelMissing;
        /// Use the window instead of the tray even where there is a tray.
        bool forceWindow = false;
    };

    explicit AppDelegate(Components components);
    ~AppDelegate();
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    /// The launch sequence: icon, menu, hotkey, then the notice or the
    /// onboarding, then the engine's background load.
    void applicationDidFinishLaunching();

    /// Shows the icon of `state` in the tray (or the window).
    void updateIcon(DictationState state);
    /// Builds the menu anew from the current settings.
    void buildMenu();

    void toggleDictation();
    /// Stores the hotkey named by `rawValue` and rebuilds the menu; anything
    /// that names no hotkey is ignored.
    void selectHotkey(const QString& rawValue);
    /// The API-key dialog, modal; stores the key when "Сохранить" is chosen.
    void setAPIKey();
    /// The dialog setAPIKey() runs: the stored key in a masked field.
    std::unique_ptr<QDialog> makeAPIKeyDialog() const;
    /// Stores `text` as the key, white space and line breaks trimmed.
    void storeAPIKey(const QString& text);

    /// The current menu (owned by the delegate).
    QMenu* menu() const { return menu_.get(); }
    /// The tray icon, or nothing when the window stands in for it.
    QSystemTrayIcon* statusItem() const { return statusItem_.get(); }
    /// The window that stands in for the tray, or nothing.
    QWidget* window() const { return window_.get(); }
    /// The description of the icon shown now.
    QString iconDescription() const { return iconDescription_; }

    /// Menu titles of the hotkeys: "Правый ⌘ (Command)" ..., and their short
    /// names in the dictation item: "правый ⌘" ...
    static QString hotkeyTitle(HotkeyChoice choice);
    static QString hotkeyShortName(HotkeyChoice choice);
    /// The host where the AI service issues keys, named in the dialog.
    static QString apiKeyConsoleHost();

private:
    void createStatusItem();
    void showDownloadNotice();

    Components c_;
    std::unique_ptr<QObject> context_; ///< receiver of queued icon updates
    std::unique_ptr<QSystemTrayIcon> statusItem_;
    std::unique_ptr<QWidget> window_;
    QToolButton* windowButton_ = nullptr;
    std::unique_ptr<QMenu> menu_;
    QString iconDescription_;
};

} // namespace halvex
