#pragma once
// The paste keystroke (Control + the physical V key) and whether it can be
// posted at all: through XTest on an X display, else through a uinput
// virtual keyboard. Where neither is possible the process counts as not
// trusted to post keystrokes, and the user pastes by hand.

#include "halvex_zovuruv/core/AccessibilityTrust.h"
#include "halvex_zovuruv/core/KeystrokePosting.h"

#include <memory>

namespace platform::ui {
class X11Keystrokes;
class UinputKeyboard;
} // namespace platform::ui

namespace halvex {

class PasteKeystrokes final : public KeystrokePosting, public AccessibilityTrust {
public:
    /// XTest when `x11` is given, else uinput when `uinput` is, else none.
    PasteKeystrokes(std::unique_ptr<platform::ui::X11Keystrokes> x11,
                    std::unique_ptr<platform::ui::UinputKeyboard> uinput);
    ~PasteKeystrokes() override;

    /// The X display's XTest when there is one, else /dev/uinput.
    static std::shared_ptr<PasteKeystrokes> open();

    void postPasteKeystroke() override;
    /// True when a keystroke backend is open. There is no dialog to prompt
    /// with: the inserter's alert tells the user what to grant.
    bool isTrusted(bool prompt) override;

private:
    std::unique_ptr<platform::ui::X11Keystrokes> x11_;
    std::unique_ptr<platform::ui::UinputKeyboard> uinput_;
};

} // namespace halvex
