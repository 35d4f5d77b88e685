#pragma once
// Turns the physical key events of a keyboard backend into the modifier
// changes the hotkey monitor judges: the application's key identity of the
// modifier key that moved, and the modifier flags of every modifier key held
// after the move. Other keys, and a held key's repeats, give nothing.

#include "halvex_zovuruv/core/ModifierEventSource.h"
#include "platform/ui/KeyEvent.h"

#include <optional>
#include <set>

namespace halvex {

class ModifierTracker {
public:
    /// The modifier change `event` makes, if any.
    std::optional<ModifierEvent> track(const platform::ui::KeyEvent& event);

private:
    std::set<uint16_t> held_; ///< key identities of the modifier keys down now
};

} // namespace halvex
