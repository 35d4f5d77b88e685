#pragma once
// Where modifier-key changes come from: the desktop's keyboard backend reports
// every press and release of a modifier key, in whatever application has the
// focus, on the main thread.

#include <cstdint>
#include <functional>

namespace halvex {

/// One change of a modifier key.
struct ModifierEvent {
    uint16_t keyCode = 0;       ///< the key that changed (a KeyCode identity)
    uint32_t modifierFlags = 0; ///< the ModifierFlag bits held after the change
};

class ModifierEventSource {
public:
    virtual ~ModifierEventSource() = default;

    /// Starts delivering events to `handler` on the main thread, for the life
    /// of the source.
    virtual void start(std::function<void(const ModifierEvent&)> handler) = 0;
};

} // namespace halvex
