#pragma once
// The desktop's top-level windows through the window manager's EWMH
// properties: which window is active, whose process it is, and bringing a
// window back to the front. Without an EWMH window manager the X server's
// own input focus stands in for the active window, and a window is raised
// and focused directly.

#include "platform/ui/X11Connection.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace platform::ui {

class X11Windows {
public:
    /// Nothing when there is no X server.
    static std::unique_ptr<X11Windows> open(std::optional<std::string> display = std::nullopt);
    explicit X11Windows(std::unique_ptr<X11Connection> connection);

    /// True when a window manager announces EWMH support for _NET_ACTIVE_WINDOW.
    bool hasWindowManager();

    /// The active top-level window, if any.
    std::optional<uint64_t> activeWindow();

    /// The process that owns `window` (its _NET_WM_PID), when it says so.
    std::optional<int> processId(uint64_t window);

    /// A name for the application of `window`: its WM_CLASS class, else its
    /// process's command name. Nothing when the window is gone or has neither.
    std::optional<std::string> applicationName(uint64_t window);

    /// True while `window` exists.
    bool exists(uint64_t window);

    /// Asks the window manager to activate `window` (a _NET_ACTIVE_WINDOW
    /// request, as a pager sends it); without one raises it and gives it the
    /// input focus. False when the window is gone.
    bool activate(uint64_t window);

    X11Connection& connection() { return *connection_; }

private:
    std::optional<uint64_t> windowProperty(uint64_t window, const char* name);
    /// The child of the root window that contains `window`.
    std::optional<uint64_t> topLevelOf(uint64_t window);

    std::unique_ptr<X11Connection> connection_;
};

} // namespace platform::ui
