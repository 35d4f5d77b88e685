#pragma once
// A key going down or up anywhere on the desktop, named by its Linux input
// key code (KEY_* of <linux/input-event-codes.h>): the physical key,
// whatever the keyboard layout puts on it.

#include <cstdint>

namespace platform::ui {

struct KeyEvent {
    uint32_t code = 0;
    bool pressed = false;
    friend bool operator==(const KeyEvent&, const KeyEvent&) = default;
};

} // namespace platform::ui
