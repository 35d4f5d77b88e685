#include "halvex_zovuruv/desktop/PasteKeystrokes.h"

#include "platform/ui/UinputKeyboard.h"
#include "platform/ui/X11Keystrokes.h"

namespace halvex {

PasteKeystrokes::PasteKeystrokes(std::unique_ptr<platform::ui::X11Keystrokes> x11,
                                 std::unique_ptr<platform::ui::UinputKeyboard> uinput)
    : x11_(std::move(x11)), uinput_(std::move(uinput)) {}

PasteKeystrokes::~PasteKeystrokes() = default;

std::shared_ptr<PasteKeystrokes> PasteKeystrokes::open() {
    if (auto x11 = platform::ui::X11Keystrokes::open())
        return std::make_shared<PasteKeystrokes>(std::move(x11), nullptr);
    return std::make_shared<PasteKeystrokes>(nullptr, platform::ui::UinputKeyboard::open());
}

void PasteKeystrokes::postPasteKeystroke() {
    if (x11_)
        x11_->pressPaste();
    else if (uinput_)
        uinput_->pressPaste();
}

bool PasteKeystrokes::isTrusted(bool) {
    return x11_ || uinput_;
}

} // namespace halvex
