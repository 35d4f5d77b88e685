#pragma once
// Synthetic key presses into the X server's event stream through the XTest
// extension: they reach whichever window has the input focus, exactly like
// keys typed on the keyboard.

#include "platform/ui/X11Connection.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform::ui {

class X11Keystrokes {
public:
    /// Nothing when there is no X server or it lacks XTest.
    static std::unique_ptr<X11Keystrokes> open(std::optional<std::string> display = std::nullopt);

    /// Presses the `modifiers` in order, presses and releases `key`, then
    /// releases the modifiers in reverse order. Keys are X keysyms; one the
    /// keyboard map lacks is sent as `fallbackCode` (a Linux input key code)
    /// when given, and otherwise the chord is not sent (false).
    bool pressChord(const std::vector<unsigned long>& modifiers, unsigned long key,
                    std::optional<uint32_t> fallbackCode = std::nullopt);

    /// Presses or releases one physical key (a Linux input key code).
    void sendKey(uint32_t code, bool pressed);

    /// Control + V, the paste shortcut: the key that carries "v" in the
    /// keyboard map, or the physical V key when no key does.
    bool pressPaste();

private:
    explicit X11Keystrokes(std::unique_ptr<X11Connection> connection);
    std::unique_ptr<X11Connection> connection_;
};

} // namespace platform::ui
