#pragma once
// One Xlib connection to the X server, owned by the object that opens it.
//
// Xlib's default error handler ends the process; the first connection made
// here installs a handler that records the error instead, since windows that
// vanish between two requests (the remembered window was closed, a focus
// change raced us) are ordinary on a desktop. `trap()` tells whether the
// requests made since it was called failed.

#include <memory>
#include <optional>
#include <string>

struct _XDisplay;

namespace platform::ui {

class X11Connection {
public:
    /// Connects to `display` ($DISPLAY when absent); nothing when there is no
    /// X server to talk to.
    static std::unique_ptr<X11Connection> open(std::optional<std::string> display = std::nullopt);
    ~X11Connection();
    X11Connection(const X11Connection&) = delete;
    X11Connection& operator=(const X11Connection&) = delete;

    _XDisplay* display() const { return display_; }
    unsigned long root() const;
    /// The connection's file descriptor, readable when events are waiting.
    int fd() const;

    /// Starts recording X errors of this connection.
    void trap();
    /// Waits for the server to handle every request made so far and tells
    /// whether any of them failed since trap().
    bool failedSinceTrap();

    /// The atom of `name`, created when missing.
    unsigned long atom(const char* name) const;

private:
    explicit X11Connection(_XDisplay* display) : display_(display) {}
    _XDisplay* display_;
    unsigned long trapped_ = 0; ///< the error count when trap() was called
};

} // namespace platform::ui
