#include "halvex_zovuruv/core/Settings.h"

namespace halvex {

Settings::Settings(std::shared_ptr<UserDefaults> defaults) : defaults_(std::move(defaults)) {}

HotkeyChoice Settings::hotkey() const {
    if (auto stored = defaults_->string(kHotkeyKey)) {
        if (auto choice = hotkeyChoiceFromRawValue(*stored)) return *choice;
    }
    return HotkeyChoice::rightCommand;
}

void Settings::setHotkey(HotkeyChoice choice) {
    defaults_->setString(kHotkeyKey, rawValue(choice));
}

} // namespace halvex
