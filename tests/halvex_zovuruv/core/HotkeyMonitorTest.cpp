#include "halvex_zovuruv/core/HotkeyMonitor.h"

#include "Fakes.h"
#include "platform/system/TemporaryDirectory.h"

#include <gtest/gtest.h>

namespace {

using namespace halvex;
using namespace zvtest;

struct KeyEvent {
    int milliseconds; ///< since the first event
    uint16_t keyCode;
    uint32_t flags;
};

struct HotkeyCase {
    const char* name;
    const char* stored; ///< the "hotkey" setting, or nullptr for none
    std::vector<KeyEvent> events;
    int triggers;
};

void PrintTo(const HotkeyCase& c, std::ostream* os) {
    *os << c.name;
}

class HotkeyMonitorTest : public ::testing::TestWithParam<HotkeyCase> {};

constexpr uint16_t rCmd = KeyCode::rightCommand;
constexpr uint32_t cmd = ModifierFlag::command;

TEST_P(HotkeyMonitorTest, TriggersOnAcceptedPressesOnly) {
    const HotkeyCase& c = GetParam();
    platform::system::TemporaryDirectory dir("zv-hotkey-");
    auto defaults = std::make_shared<UserDefaults>(dir / "settings.conf");
    if (c.stored) defaults->setString(Settings::kHotkeyKey, c.stored);
    auto source = std::make_shared<FakeModifierSource>();
    auto clock = std::make_shared<FakeClock>();
    HotkeyMonitor monitor(source, std::make_shared<Settings>(defaults), clock);
    int triggers = 0;
    monitor.onTrigger = [&] { ++triggers; };
    monitor.start();

    const auto start = clock->monotonic;
    for (const KeyEvent& e : c.events) {
        clock->monotonic = start + std::chrono::milliseconds(e.milliseconds);
        source->handler(ModifierEvent{e.keyCode, e.flags});
    }
    EXPECT_EQ(triggers, c.triggers);
}

INSTANTIATE_TEST_SUITE_P(
    Events, HotkeyMonitorTest,
    ::testing::Values(
        // A press carries the flag, its release does not.
        HotkeyCase{"PressAndRelease", nullptr, {{0, rCmd, cmd}, {100, rCmd, 0}}, 1},
        HotkeyCase{"PressesAt0_3s", nullptr, {{0, rCmd, cmd}, {100, rCmd, 0}, {300, rCmd, cmd}}, 1},
        HotkeyCase{"PressesAt0_4s", nullptr, {{0, rCmd, cmd}, {400, rCmd, cmd}}, 1},
        HotkeyCase{"PressesAt0_5s", nullptr, {{0, rCmd, cmd}, {500, rCmd, cmd}}, 2},
        // An ignored press does not move the last trigger: 0 and 0.5 s count.
        HotkeyCase{"IgnoredPressKeepsTheWindow",
                   nullptr,
                   {{0, rCmd, cmd}, {300, rCmd, cmd}, {500, rCmd, cmd}},
                   2},
        HotkeyCase{"LeftHandKeyNeverTriggers", nullptr, {{0, KeyCode::leftCommand, cmd}}, 0},
        // With the left key held, the right key's release carries the flag.
        HotkeyCase{"ReleaseWithTheOtherKeyHeld", nullptr, {{0, rCmd, cmd}, {600, rCmd, cmd}}, 2},
        HotkeyCase{"RightOptionChosen",
                   "rightOption",
                   {{0, rCmd, cmd}, {10, KeyCode::rightOption, ModifierFlag::option}},
                   1},
        HotkeyCase{"FnChosen",
                   "fn",
                   {{0, KeyCode::function, ModifierFlag::function},
                    {700, KeyCode::rightControl, ModifierFlag::control}},
                   1},
        HotkeyCase{"FlagOfAnotherModifierIsARelease",
                   "rightControl",
                   {{0, KeyCode::rightControl, ModifierFlag::shift}},
                   0},
        HotkeyCase{"UnknownStoredChoiceMeansRightCommand",
                   "leftCommand",
                   {{0, rCmd, cmd}, {10, KeyCode::rightOption, ModifierFlag::option}},
                   1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HotkeyChoice, RawValuesRoundTripAndTheChoiceIsReadAtEveryEvent) {
    for (HotkeyChoice choice : kAllHotkeyChoices)
        EXPECT_EQ(hotkeyChoiceFromRawValue(rawValue(choice)), choice);
    EXPECT_EQ(hotkeyChoiceFromRawValue("RightCommand"), std::nullopt);

    platform::system::TemporaryDirectory dir("zv-hotkey-");
    auto settings = std::make_shared<Settings>(std::make_shared<UserDefaults>(dir / "s.conf"));
    EXPECT_EQ(settings->hotkey(), HotkeyChoice::rightCommand);
    auto source = std::make_shared<FakeModifierSource>();
    auto clock = std::make_shared<FakeClock>();
    HotkeyMonitor monitor(source, settings, clock);
    int triggers = 0;
    monitor.onTrigger = [&] { ++triggers; };
    monitor.start();

    // A choice made in the menu applies from the very next event.
    settings->setHotkey(HotkeyChoice::fn);
    source->handler({KeyCode::function, ModifierFlag::function});
    EXPECT_EQ(triggers, 1);
    // Another Settings over the same file sees it too.
    Settings other(std::make_shared<UserDefaults>(dir / "s.conf"));
    EXPECT_EQ(other.hotkey(), HotkeyChoice::fn);
}

} // namespace
