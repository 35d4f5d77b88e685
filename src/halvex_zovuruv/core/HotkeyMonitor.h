#pragma once
// Watches the modifier keys and calls onTrigger when the chosen hotkey goes
// down, at most once per 0.4 seconds.

#include "halvex_zovuruv/core/Clock.h"
#include "halvex_zovuruv/core/ModifierEventSource.h"
#include "halvex_zovuruv/core/Settings.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace halvex {

class HotkeyMonitor {
public:
    /// Presses closer than this to the last accepted one are dropped.
    static constexpr std::chrono::milliseconds kDebounce{400};

    HotkeyMonitor(std::shared_ptr<ModifierEventSource> source, std::shared_ptr<Settings> settings,
                  std::shared_ptr<Clock> clock = Clock::system());

    /// Called on the main thread for every accepted press.
    std::function<void()> onTrigger;

    /// Starts listening; the monitor listens for the rest of its life.
    void start();

private:
    void handle(const ModifierEvent& event);

    std::shared_ptr<ModifierEventSource> source_;
    std::shared_ptr<Settings> settings_;
    std::shared_ptr<Clock> clock_;
    std::optional<std::chrono::steady_clock::time_point> lastTrigger_;
};

} // namespace halvex
