#pragma once
// Modifier-key changes of the whole desktop for the hotkey monitor: from the
// X server's raw key events when there is a display, else from the kernel's
// keyboards. The backend's descriptor is watched by the Qt event loop, so
// events are handled on the main thread.

#include "halvex_zovuruv/core/ModifierEventSource.h"
#include "halvex_zovuruv/desktop/ModifierTracker.h"

#include <memory>

class QSocketNotifier;

namespace platform::ui {
class X11KeyMonitor;
class EvdevKeyMonitor;
} // namespace platform::ui

namespace halvex {

class KeyboardModifierSource final : public ModifierEventSource {
public:
    KeyboardModifierSource(std::unique_ptr<platform::ui::X11KeyMonitor> x11,
                           std::unique_ptr<platform::ui::EvdevKeyMonitor> evdev);
    ~KeyboardModifierSource() override;

    /// The X display's key events, else the kernel's; a source without
    /// either delivers nothing.
    static std::shared_ptr<KeyboardModifierSource> open();

    /// Which road the events come on: "x11", "evdev" or "none".
    const char* backendName() const;

    void start(std::function<void(const ModifierEvent&)> handler) override;

private:
    void dispatch();

    std::unique_ptr<platform::ui::X11KeyMonitor> x11_;
    std::unique_ptr<platform::ui::EvdevKeyMonitor> evdev_;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::function<void(const ModifierEvent&)> handler_;
    ModifierTracker tracker_;
};

} // namespace halvex
