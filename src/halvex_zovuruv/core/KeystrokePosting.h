#pragma once
// Synthetic keystrokes into the desktop's event stream. Main thread only.

namespace halvex {

class KeystrokePosting {
public:
    virtual ~KeystrokePosting() = default;

    /// Posts one press and release of the paste shortcut to whatever window
    /// has the focus (the physical V key with the paste modifier, whatever
    /// the keyboard layout puts on it).
    virtual void postPasteKeystroke() = 0;
};

} // namespace halvex
