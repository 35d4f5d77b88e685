#pragma once
// Whether the desktop lets this process post keystrokes into other
// applications. Main thread only.

namespace halvex {

class AccessibilityTrust {
public:
    virtual ~AccessibilityTrust() = default;

    /// True when keystrokes can be posted. With `prompt`, an untrusted
    /// process also shows the user how to grant the permission.
    virtual bool isTrusted(bool prompt) = 0;
};

} // namespace halvex
