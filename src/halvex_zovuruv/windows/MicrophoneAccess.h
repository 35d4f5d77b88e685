#pragma once
// Whether the application may record from the microphone, as the onboarding
// window shows it. The desktop backend decides what "may" means (a capture
// device that opens, a sound server that lets the process record).

#include <functional>

namespace halvex::windows {

class MicrophoneAccess {
public:
    virtual ~MicrophoneAccess() = default;

    /// True when recording from the default microphone is allowed.
    virtual bool isAuthorized() = 0;

    /// Asks for access (the system may show its own dialog) and calls
    /// `answered` once, on any thread, when the answer is known.
    virtual void requestAccess(std::function<void()> answered) = 0;
};

} // namespace halvex::windows
