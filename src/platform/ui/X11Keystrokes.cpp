#include "platform/ui/X11Keystrokes.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace platform::ui {

namespace {
constexpr uint32_t kX11KeycodeOffset = 8;
constexpr uint32_t kLinuxKeyV = 47;
} // namespace

std::unique_ptr<X11Keystrokes> X11Keystrokes::open(std::optional<std::string> display) {
    auto connection = X11Connection::open(std::move(display));
    if (!connection) return nullptr;
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(connection->display(), &event, &error, &major, &minor)) return nullptr;
    return std::unique_ptr<X11Keystrokes>(new X11Keystrokes(std::move(connection)));
}

X11Keystrokes::X11Keystrokes(std::unique_ptr<X11Connection> connection)
    : connection_(std::move(connection)) {}

bool X11Keystrokes::pressChord(const std::vector<unsigned long>& modifiers, unsigned long key,
                               std::optional<uint32_t> fallbackCode) {
    Display* d = connection_->display();
    std::vector<KeyCode> held;
    for (unsigned long keysym : modifiers) {
        const KeyCode code = XKeysymToKeycode(d, keysym);
        if (code == 0) return false;
        held.push_back(code);
    }
    KeyCode keyCode = XKeysymToKeycode(d, key);
    if (keyCode == 0 && fallbackCode) keyCode = KeyCode(*fallbackCode + kX11KeycodeOffset);
    if (keyCode == 0) return false;
    for (KeyCode code : held)
        XTestFakeKeyEvent(d, code, True, CurrentTime);
    XTestFakeKeyEvent(d, keyCode, True, CurrentTime);
    XTestFakeKeyEvent(d, keyCode, False, CurrentTime);
    for (auto it = held.rbegin(); it != held.rend(); ++it)
        XTestFakeKeyEvent(d, *it, False, CurrentTime);
    XSync(d, False);
    return true;
}

void X11Keystrokes::sendKey(uint32_t code, bool pressed) {
    Display* d = connection_->display();
    XTestFakeKeyEvent(d, code + kX11KeycodeOffset, pressed ? True : False, CurrentTime);
    XSync(d, False);
}

bool X11Keystrokes::pressPaste() {
    return pressChord({XK_Control_L}, XK_v, kLinuxKeyV);
}

} // namespace platform::ui
