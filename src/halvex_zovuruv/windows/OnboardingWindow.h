#pragma once
// The onboarding window: the two permissions the application needs (the
// microphone, and posting keystrokes into other applications for the hotkey
// and the paste), each with a button and a mark that follows the permission
// within a second, a note about the first model download, and a button that
// starts the application anew once keystrokes may be posted. Main thread only.

#include "halvex_zovuruv/core/AccessibilityTrust.h"
#include "halvex_zovuruv/windows/MicrophoneAccess.h"

#include <QDialog>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class QLabel;
class QPushButton;
class QTimer;

namespace halvex::windows {

class OnboardingWindow final : public QDialog {
public:
    /// How the application starts itself anew and then leaves.
    struct Relaunch {
        QString program;            ///< the program to start; empty: this process's executable
        QStringList arguments;      ///< its arguments
        std::function<void()> quit; ///< ends this process's run; empty: QCoreApplication::quit
    };

    OnboardingWindow(std::shared_ptr<AccessibilityTrust> trust,
                     std::shared_ptr<MicrophoneAccess> microphone, Relaunch relaunch = {},
                     QWidget* parent = nullptr);

    /// Opens the window unless keystrokes may already be posted, and starts
    /// refreshing the marks every second. True when the window was opened.
    bool showIfNeeded();

    /// Reads both permissions and updates the marks and the restart button.
    void refreshStatus();

    QLabel* micStatus() const { return micStatus_; }
    QLabel* axStatus() const { return axStatus_; }
    QPushButton* micButton() const { return micButton_; }
    QPushButton* accessButton() const { return accessButton_; }
    QPushButton* restartButton() const { return restartButton_; }
    /// The timer that refreshes the marks; none until the window is opened.
    QTimer* timer() const { return timer_; }

    /// The texts of the two marks.
    static QString grantedMark() { return QStringLiteral("✓"); }
    static QString missingMark() { return QStringLiteral("○"); }

private:
    void build();
    void requestMic();
    void openAccessibility();
    void restart();

    std::shared_ptr<AccessibilityTrust> trust_;
    std::shared_ptr<MicrophoneAccess> microphone_;
    Relaunch relaunch_;
    bool built_ = false;

    QTimer* timer_ = nullptr;
    QLabel* micStatus_ = nullptr;
    QLabel* axStatus_ = nullptr;
    QPushButton* micButton_ = nullptr;
    QPushButton* accessButton_ = nullptr;
    QPushButton* restartButton_ = nullptr;
};

} // namespace halvex::windows
