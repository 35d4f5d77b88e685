#include "halvex_zovuruv/core/HotkeyChoice.h"

namespace halvex {

std::string_view rawValue(HotkeyChoice choice) {
    switch (choice) {
    case HotkeyChoice::rightCommand:
        return "rightCommand";
    case HotkeyChoice::rightOption:
        return "rightOption";
    case HotkeyChoice::rightControl:
        return "rightControl";
    case HotkeyChoice::fn:
        return "fn";
    }
    return "rightCommand";
}

std::optional<HotkeyChoice> hotkeyChoiceFromRawValue(std::string_view text) {
    for (HotkeyChoice choice : kAllHotkeyChoices) {
        if (rawValue(choice) == text) return choice;
    }
    return std::nullopt;
}

uint16_t keyCode(HotkeyChoice choice) {
    switch (choice) {
    case HotkeyChoice::rightCommand:
        return KeyCode::rightCommand;
    case HotkeyChoice::rightOption:
        return KeyCode::rightOption;
    case HotkeyChoice::rightControl:
        return KeyCode::rightControl;
    case HotkeyChoice::fn:
        return KeyCode::function;
    }
    return KeyCode::rightCommand;
}

uint32_t modifierFlag(HotkeyChoice choice) {
    switch (choice) {
    case HotkeyChoice::rightCommand:
        return ModifierFlag::command;
    case HotkeyChoice::rightOption:
        return ModifierFlag::option;
    case HotkeyChoice::rightControl:
        return ModifierFlag::control;
    case HotkeyChoice::fn:
        return ModifierFlag::function;
    }
    return ModifierFlag::command;
}

} // namespace halvex
