#include "halvex_zovuruv/core/HotkeyMonitor.h"

namespace halvex {

HotkeyMonitor::HotkeyMonitor(std::shared_ptr<ModifierEventSource> source,
                             std::shared_ptr<Settings> settings, std::shared_ptr<Clock> clock)
    : source_(std::move(source)), settings_(std::move(settings)), clock_(std::move(clock)) {}

void HotkeyMonitor::start() {
    source_->start([this](const ModifierEvent& event) { handle(event); });
}

void HotkeyMonitor::handle(const ModifierEvent& event) {
    // Read anew: a choice changed in the menu applies from the next event on.
    const HotkeyChoice choice = settings_->hotkey();
    if (event.keyCode != keyCode(choice)) return;
    // Without the flag this is the key going up.
    if ((event.modifierFlags & modifierFlag(choice)) == 0) return;
    // A monotonic clock: a wall-clock jump must not swallow presses.
    const auto now = clock_->monotonicNow();
    if (lastTrigger_ && now - *lastTrigger_ <= kDebounce) return;
    lastTrigger_ = now;
    if (onTrigger) onTrigger();
}

} // namespace halvex
