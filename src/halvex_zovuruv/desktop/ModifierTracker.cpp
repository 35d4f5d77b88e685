#include "halvex_zovuruv/desktop/ModifierTracker.h"

#include "halvex_zovuruv/core/HotkeyChoice.h"

#include <linux/input-event-codes.h>

namespace halvex {

namespace {

struct ModifierKey {
    uint32_t linuxCode;
    uint16_t identity;
    uint32_t flag; ///< 0 for Caps Lock, which holds no modifier while down
};

// The right-hand Super key stands for the right Command key, Alt for Option.
constexpr ModifierKey kModifierKeys[] = {
    {KEY_RIGHTMETA, KeyCode::rightCommand, ModifierFlag::command},
    {KEY_LEFTMETA, KeyCode::leftCommand, ModifierFlag::command},
    {KEY_LEFTSHIFT, KeyCode::leftShift, ModifierFlag::shift},
    {KEY_CAPSLOCK, KeyCode::capsLock, 0},
    {KEY_LEFTALT, KeyCode::leftOption, ModifierFlag::option},
    {KEY_LEFTCTRL, KeyCode::leftControl, ModifierFlag::control},
    {KEY_RIGHTSHIFT, KeyCode::rightShift, ModifierFlag::shift},
    {KEY_RIGHTALT, KeyCode::rightOption, ModifierFlag::option},
    {KEY_RIGHTCTRL, KeyCode::rightControl, ModifierFlag::control},
    {KEY_FN, KeyCode::function, ModifierFlag::function},
};

const ModifierKey* byLinuxCode(uint32_t code) {
    for (const auto& key : kModifierKeys)
        if (key.linuxCode == code) return &key;
    return nullptr;
}

const ModifierKey* byIdentity(uint16_t identity) {
    for (const auto& key : kModifierKeys)
        if (key.identity == identity) return &key;
    return nullptr;
}

} // namespace

std::optional<ModifierEvent> ModifierTracker::track(const platform::ui::KeyEvent& event) {
    const ModifierKey* key = byLinuxCode(event.code);
    if (!key) return std::nullopt;
    if (event.pressed) {
        if (!held_.insert(key->identity).second) return std::nullopt; // a repeat
    } else {
        held_.erase(key->identity);
    }
    uint32_t flags = 0;
    for (uint16_t identity : held_)
        flags |= byIdentity(identity)->flag;
    return ModifierEvent{key->identity, flags};
}

} // namespace halvex
