#include "platform/ui/X11Connection.h"

#include <X11/Xlib.h>
#include <mutex>
#include <vector>

namespace platform::ui {

namespace {

// Errors are counted per connection: a failed request bumps the count of its
// display; trap() remembers the count.
std::mutex errorsMutex;
struct ErrorCount {
    Display* display;
    unsigned long count;
};
std::vector<ErrorCount>* errorCounts = nullptr;

int recordError(Display* display, XErrorEvent*) {
    std::lock_guard lock(errorsMutex);
    for (auto& entry : *errorCounts)
        if (entry.display == display) ++entry.count;
    return 0;
}

unsigned long errorsOf(Display* display) {
    std::lock_guard lock(errorsMutex);
    for (const auto& entry : *errorCounts)
        if (entry.display == display) return entry.count;
    return 0;
}

} // namespace

std::unique_ptr<X11Connection> X11Connection::open(std::optional<std::string> display) {
    static std::once_flag installed;
    std::call_once(installed, [] {
        XInitThreads();
        errorCounts = new std::vector<ErrorCount>();
        XSetErrorHandler(recordError);
    });
    Display* d = XOpenDisplay(display ? display->c_str() : nullptr);
    if (!d) return nullptr;
    {
        std::lock_guard lock(errorsMutex);
        errorCounts->push_back({d, 0});
    }
    return std::unique_ptr<X11Connection>(new X11Connection(d));
}

X11Connection::~X11Connection() {
    {
        std::lock_guard lock(errorsMutex);
        std::erase_if(*errorCounts, [this](const ErrorCount& e) { return e.display == display_; });
    }
    XCloseDisplay(display_);
}

unsigned long X11Connection::root() const {
    return DefaultRootWindow(display_);
}

int X11Connection::fd() const {
    return ConnectionNumber(display_);
}

void X11Connection::trap() {
    XSync(display_, False);
    trapped_ = errorsOf(display_);
}

bool X11Connection::failedSinceTrap() {
    XSync(display_, False);
    return errorsOf(display_) != trapped_;
}

unsigned long X11Connection::atom(const char* name) const {
    return XInternAtom(display_, name, False);
}

} // namespace platform::ui
