#pragma once
// Every key press and release on the X display, whichever window has the
// focus, from the XInput2 raw key events of the root window. Nothing is
// grabbed: the keys still reach the focused application unchanged.
//
// The monitor owns its own connection; the caller watches fd() in its event
// loop and calls dispatch() when it is readable.

#include "platform/ui/KeyEvent.h"
#include "platform/ui/X11Connection.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace platform::ui {

class X11KeyMonitor {
public:
    /// Nothing when there is no X server or it lacks XInput 2.
    static std::unique_ptr<X11KeyMonitor> open(std::optional<std::string> display = std::nullopt);

    int fd() const { return connection_->fd(); }

    /// Hands every event that has arrived to `handler`, in order; returns at
    /// once when there is none.
    void dispatch(const std::function<void(const KeyEvent&)>& handler);

private:
    X11KeyMonitor(std::unique_ptr<X11Connection> connection, int opcode);
    std::unique_ptr<X11Connection> connection_;
    int opcode_;
};

} // namespace platform::ui
