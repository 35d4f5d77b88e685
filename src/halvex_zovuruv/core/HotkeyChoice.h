#pragma once
// The keys that can start and stop a dictation: a modifier key pressed on its
// own. Key codes and modifier flags are the application's own key identities,
// which every keyboard backend translates its events into.

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace halvex {

/// Key identities of the modifier keys.
namespace KeyCode {
inline constexpr uint16_t rightCommand = 54; ///< right Super (Windows/Meta) key
inline constexpr uint16_t leftCommand = 55;
inline constexpr uint16_t leftShift = 56;
inline constexpr uint16_t capsLock = 57;
inline constexpr uint16_t leftOption = 58; ///< left Alt
inline constexpr uint16_t leftControl = 59;
inline constexpr uint16_t rightShift = 60;
inline constexpr uint16_t rightOption = 61; ///< right Alt (AltGr)
inline constexpr uint16_t rightControl = 62;
inline constexpr uint16_t function = 63; ///< Fn, on keyboards that report it
} // namespace KeyCode

/// Modifier flags: which modifiers are held after a key event.
namespace ModifierFlag {
inline constexpr uint32_t shift = 0x20000;
inline constexpr uint32_t control = 0x40000;
inline constexpr uint32_t option = 0x80000;
inline constexpr uint32_t command = 0x100000;
inline constexpr uint32_t function = 0x800000;
} // namespace ModifierFlag

enum class HotkeyChoice { rightCommand, rightOption, rightControl, fn };

/// Every choice, in the order of the menu.
inline constexpr std::array<HotkeyChoice, 4> kAllHotkeyChoices = {
    HotkeyChoice::rightCommand, HotkeyChoice::rightOption, HotkeyChoice::rightControl,
    HotkeyChoice::fn};

/// "rightCommand", "rightOption", "rightControl" or "fn".
std::string_view rawValue(HotkeyChoice choice);
/// The choice whose raw value is `text`, else nothing.
std::optional<HotkeyChoice> hotkeyChoiceFromRawValue(std::string_view text);

/// The key identity of the chosen key.
uint16_t keyCode(HotkeyChoice choice);
/// The modifier flag that is set while the chosen key is down.
uint32_t modifierFlag(HotkeyChoice choice);

} // namespace halvex
