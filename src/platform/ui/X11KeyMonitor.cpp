#include "platform/ui/X11KeyMonitor.h"

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>

namespace platform::ui {

namespace {
// X servers number keys as the Linux input key code plus 8.
constexpr uint32_t kX11KeycodeOffset = 8;
} // namespace

std::unique_ptr<X11KeyMonitor> X11KeyMonitor::open(std::optional<std::string> display) {
    auto connection = X11Connection::open(std::move(display));
    if (!connection) return nullptr;
    Display* d = connection->display();
    int opcode = 0, firstEvent = 0, firstError = 0;
    if (!XQueryExtension(d, "XInputExtension", &opcode, &firstEvent, &firstError)) return nullptr;
    int major = 2, minor = 0;
    if (XIQueryVersion(d, &major, &minor) != Success || major < 2) return nullptr;

    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(bits, XI_RawKeyPress);
    XISetMask(bits, XI_RawKeyRelease);
    XIEventMask mask{};
    // The master keyboard carries every physical and synthetic keyboard once.
    mask.deviceid = XIAllMasterDevices;
    mask.mask_len = sizeof bits;
    mask.mask = bits;
    XISelectEvents(d, DefaultRootWindow(d), &mask, 1);
    XSync(d, False);
    return std::unique_ptr<X11KeyMonitor>(new X11KeyMonitor(std::move(connection), opcode));
}

X11KeyMonitor::X11KeyMonitor(std::unique_ptr<X11Connection> connection, int opcode)
    : connection_(std::move(connection)), opcode_(opcode) {}

void X11KeyMonitor::dispatch(const std::function<void(const KeyEvent&)>& handler) {
    Display* d = connection_->display();
    while (XPending(d) > 0) {
        XEvent event;
        XNextEvent(d, &event);
        XGenericEventCookie* cookie = &event.xcookie;
        if (cookie->type != GenericEvent || cookie->extension != opcode_) continue;
        if (!XGetEventData(d, cookie)) continue;
        if (cookie->evtype == XI_RawKeyPress || cookie->evtype == XI_RawKeyRelease) {
            const auto* raw = static_cast<const XIRawEvent*>(cookie->data);
            if (uint32_t(raw->detail) >= kX11KeycodeOffset)
                handler(
                    {uint32_t(raw->detail) - kX11KeycodeOffset, cookie->evtype == XI_RawKeyPress});
        }
        XFreeEventData(d, cookie);
    }
}

} // namespace platform::ui
