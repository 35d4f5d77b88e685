#include "platform/ui/X11Windows.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <cstring>
#include <fstream>
#include <vector>

namespace platform::ui {

namespace {

/// Reads the 32-bit items of a property (Xlib hands them over as longs).
std::optional<std::vector<unsigned long>> cardinals(Display* d, Window w, Atom property,
                                                    Atom type) {
    Atom actualType = None;
    int actualFormat = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(d, w, property, 0, 1024, False, type, &actualType, &actualFormat, &count,
                           &after, &data) != Success)
        return std::nullopt;
    std::optional<std::vector<unsigned long>> items;
    if (data && actualFormat == 32 && actualType == type) {
        const auto* values = reinterpret_cast<const unsigned long*>(data);
        items.emplace(values, values + count);
    }
    if (data) XFree(data);
    return items;
}

} // namespace

std::unique_ptr<X11Windows> X11Windows::open(std::optional<std::string> display) {
    auto connection = X11Connection::open(std::move(display));
    if (!connection) return nullptr;
    return std::make_unique<X11Windows>(std::move(connection));
}

X11Windows::X11Windows(std::unique_ptr<X11Connection> connection)
    : connection_(std::move(connection)) {}

std::optional<uint64_t> X11Windows::windowProperty(uint64_t window, const char* name) {
    Display* d = connection_->display();
    auto items = cardinals(d, window, connection_->atom(name), XA_WINDOW);
    if (!items || items->empty() || items->front() == None) return std::nullopt;
    return items->front();
}

bool X11Windows::hasWindowManager() {
    Display* d = connection_->display();
    connection_->trap();
    // A live manager names a child window that names itself back.
    auto check = windowProperty(connection_->root(), "_NET_SUPPORTING_WM_CHECK");
    if (!check) return false;
    auto self = windowProperty(*check, "_NET_SUPPORTING_WM_CHECK");
    if (connection_->failedSinceTrap() || self != check) return false;
    auto supported =
        cardinals(d, connection_->root(), connection_->atom("_NET_SUPPORTED"), XA_ATOM);
    if (!supported) return false;
    const Atom active = connection_->atom("_NET_ACTIVE_WINDOW");
    for (unsigned long a : *supported)
        if (a == active) return true;
    return false;
}

std::optional<uint64_t> X11Windows::topLevelOf(uint64_t window) {
    Display* d = connection_->display();
    const Window root = connection_->root();
    Window current = window;
    connection_->trap();
    while (current != None && current != root) {
        Window rootReturn = None, parent = None;
        Window* children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(d, current, &rootReturn, &parent, &children, &count)) return std::nullopt;
        if (children) XFree(children);
        if (parent == root) return current;
        current = parent;
    }
    return std::nullopt;
}

std::optional<uint64_t> X11Windows::activeWindow() {
    if (hasWindowManager()) {
        connection_->trap();
        auto active = windowProperty(connection_->root(), "_NET_ACTIVE_WINDOW");
        if (active && !connection_->failedSinceTrap()) return active;
        return std::nullopt;
    }
    Window focus = None;
    int revert = 0;
    XGetInputFocus(connection_->display(), &focus, &revert);
    if (focus == None || focus == PointerRoot) return std::nullopt;
    return topLevelOf(focus);
}

std::optional<int> X11Windows::processId(uint64_t window) {
    connection_->trap();
    auto items =
        cardinals(connection_->display(), window, connection_->atom("_NET_WM_PID"), XA_CARDINAL);
    if (connection_->failedSinceTrap() || !items || items->empty() || items->front() == 0)
        return std::nullopt;
    return int(items->front());
}

std::optional<std::string> X11Windows::applicationName(uint64_t window) {
    Display* d = connection_->display();
    connection_->trap();
    XClassHint hint{};
    std::optional<std::string> name;
    if (XGetClassHint(d, window, &hint)) {
        if (hint.res_class && *hint.res_class)
            name = hint.res_class;
        else if (hint.res_name && *hint.res_name)
            name = hint.res_name;
        if (hint.res_class) XFree(hint.res_class);
        if (hint.res_name) XFree(hint.res_name);
    }
    if (connection_->failedSinceTrap()) return std::nullopt;
    if (name) return name;
    if (auto pid = processId(window)) {
        std::ifstream comm("/proc/" + std::to_string(*pid) + "/comm");
        std::string command;
        if (std::getline(comm, command) && !command.empty()) return command;
    }
    return std::nullopt;
}

bool X11Windows::exists(uint64_t window) {
    XWindowAttributes attributes;
    connection_->trap();
    const bool ok = XGetWindowAttributes(connection_->display(), window, &attributes) != 0;
    return ok && !connection_->failedSinceTrap();
}

bool X11Windows::activate(uint64_t window) {
    if (!exists(window)) return false;
    Display* d = connection_->display();
    connection_->trap();
    if (hasWindowManager()) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = connection_->atom("_NET_ACTIVE_WINDOW");
        event.xclient.format = 32;
        event.xclient.data.l[0] = 2; // source: a pager, which managers obey without question
        event.xclient.data.l[1] = CurrentTime;
        event.xclient.data.l[2] = 0;
        XSendEvent(d, connection_->root(), False, SubstructureRedirectMask | SubstructureNotifyMask,
                   &event);
    } else {
        XRaiseWindow(d, window);
        XSetInputFocus(d, window, RevertToParent, CurrentTime);
    }
    return !connection_->failedSinceTrap();
}

} // namespace platform::ui
