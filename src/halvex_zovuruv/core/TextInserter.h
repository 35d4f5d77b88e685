#pragma once
// Puts a text into another application: onto the clipboard, the remembered
// window back to the front, and 0.35 seconds later the paste keystroke, once
// the window has had time to take the focus. Without the permission to post
// keystrokes the text stays on the clipboard and the user is told to paste it.
//
// Insertions run one after another: one that arrives while an earlier one
// still waits for its paste starts only once that paste has been posted and
// the receiving window has had the same delay to read the clipboard, so each
// text is pasted into its own window and never the next one's text.
// Main thread only.

#include "halvex_zovuruv/core/AccessibilityTrust.h"
#include "halvex_zovuruv/core/AlertPresenting.h"
#include "halvex_zovuruv/core/Clipboard.h"
#include "halvex_zovuruv/core/KeystrokePosting.h"
#include "halvex_zovuruv/core/MainThreadExecutor.h"
#include "halvex_zovuruv/core/RunningApplication.h"
#include "halvex_zovuruv/core/Workspace.h"

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace halvex {

class TextInserter {
public:
    /// How long the target window gets to come to the front before the paste.
    static constexpr std::chrono::milliseconds kPasteDelay{350};

    struct Backends {
        std::shared_ptr<Clipboard> clipboard;
        std::shared_ptr<Workspace> workspace;
        std::shared_ptr<KeystrokePosting> keystrokes;
        std::shared_ptr<AccessibilityTrust> trust;
        std::shared_ptr<AlertPresenting> alerts;
        std::shared_ptr<MainThreadExecutor> mainThread;
    };

    explicit TextInserter(Backends backends);

    /// Inserts `text` into `target` (or, with none, into whatever window has
    /// the focus when the paste is posted), after the insertions still under
    /// way. Returns before the paste.
    /// `afterPaste` runs on the main thread once the paste keystroke has been
    /// posted, or, without the permission, once the user has been told to
    /// paste by hand: whatever would take the focus (an alert) waits for it.
    void insert(const std::string& text, const std::optional<RunningApplication>& target,
                std::function<void()> afterPaste = {});

    /// Posts the paste keystroke.
    void pressCommandV();

    /// Asks for the permission to post keystrokes and tells the user that the
    /// text is on the clipboard. Returns when the alert is closed.
    void promptForAccessibility();

private:
    struct Insertion {
        std::string text;
        std::optional<RunningApplication> target;
        std::function<void()> afterPaste;
    };
    /// The insertions waiting for the one under way; shared with the delayed
    /// jobs, which may run after the inserter is gone.
    struct Queue {
        Backends backends;
        bool busy = false;
        std::deque<Insertion> waiting;
    };
    static void run(const std::shared_ptr<Queue>& queue, Insertion insertion);
    static void next(const std::shared_ptr<Queue>& queue);
    static void promptForAccessibility(Backends& backends);

    std::shared_ptr<Queue> queue_;
};

} // namespace halvex
