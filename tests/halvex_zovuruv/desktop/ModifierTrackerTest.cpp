// Physical key events become the modifier changes the hotkey monitor judges.

#include "halvex_zovuruv/desktop/ModifierTracker.h"

#include "halvex_zovuruv/core/HotkeyChoice.h"

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

using namespace halvex;
using platform::ui::KeyEvent;

namespace {

struct Step {
    KeyEvent key;
    std::optional<ModifierEvent> expected;
};

bool same(const std::optional<ModifierEvent>& a, const std::optional<ModifierEvent>& b) {
    if (!a || !b) return a.has_value() == b.has_value();
    return a->keyCode == b->keyCode && a->modifierFlags == b->modifierFlags;
}

} // namespace

TEST(ModifierTrackerTest, KeyIdentitiesAndHeldFlags) {
    using namespace KeyCode;
    using namespace ModifierFlag;
    const std::vector<std::pair<const char*, std::vector<Step>>> cases = {
        {"right Super press and release",
         {{{KEY_RIGHTMETA, true}, ModifierEvent{rightCommand, command}},
          {{KEY_RIGHTMETA, false}, ModifierEvent{rightCommand, 0}}}},
        {"the right-hand keys",
         {{{KEY_RIGHTALT, true}, ModifierEvent{rightOption, option}},
          {{KEY_RIGHTALT, false}, ModifierEvent{rightOption, 0}},
          {{KEY_RIGHTCTRL, true}, ModifierEvent{rightControl, control}},
          {{KEY_RIGHTCTRL, false}, ModifierEvent{rightControl, 0}},
          {{KEY_FN, true}, ModifierEvent{KeyCode::function, ModifierFlag::function}}}},
        {"left keys have their own identities",
         {{{KEY_LEFTMETA, true}, ModifierEvent{leftCommand, command}},
          {{KEY_LEFTALT, true}, ModifierEvent{leftOption, command | option}},
          {{KEY_LEFTSHIFT, true}, ModifierEvent{leftShift, command | option | shift}}}},
        {"a release while the other Super key is held keeps the flag",
         {{{KEY_LEFTMETA, true}, ModifierEvent{leftCommand, command}},
          {{KEY_RIGHTMETA, true}, ModifierEvent{rightCommand, command}},
          {{KEY_RIGHTMETA, false}, ModifierEvent{rightCommand, command}},
          {{KEY_LEFTMETA, false}, ModifierEvent{leftCommand, 0}}}},
        {"repeats of a held key and ordinary keys give nothing",
         {{{KEY_RIGHTCTRL, true}, ModifierEvent{rightControl, control}},
          {{KEY_RIGHTCTRL, true}, std::nullopt},
          {{KEY_V, true}, std::nullopt},
          {{KEY_V, false}, std::nullopt},
          {{KEY_RIGHTCTRL, false}, ModifierEvent{rightControl, 0}}}},
        {"a release of a key pressed before the start",
         {{{KEY_RIGHTMETA, false}, ModifierEvent{rightCommand, 0}}}},
    };
    for (const auto& [name, steps] : cases) {
        ModifierTracker tracker;
        for (size_t i = 0; i < steps.size(); ++i) {
            const auto got = tracker.track(steps[i].key);
            EXPECT_TRUE(same(got, steps[i].expected))
                << name << ", step " << i << ": got "
                << (got ? std::to_string(got->keyCode) + "/" + std::to_string(got->modifierFlags)
                        : "nothing");
        }
    }
}
