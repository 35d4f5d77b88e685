// The X11 backends against a private Xvfb server: key events seen on the
// root window, synthetic keystrokes reaching the focused window, and the
// active window read and changed with and without a window manager.

#include "platform/ui/X11KeyMonitor.h"
#include "platform/ui/X11Keystrokes.h"
#include "platform/ui/X11Windows.h"
#include "support/XvfbServer.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
// Xlib macros that clash with names inside the test framework.
#undef None
#undef Bool
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>
#include <thread>
#include <unistd.h>

using namespace platform::ui;
using namespace std::chrono_literals;

namespace {

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit = 5s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) return true;
        std::this_thread::sleep_for(10ms);
    }
    return condition();
}

/// A test client: plain top-level windows that record the keys they get.
class Client {
public:
    explicit Client(const std::string& display) : d_(XOpenDisplay(display.c_str())) {}
    ~Client() {
        if (d_) XCloseDisplay(d_);
    }
    Display* display() const { return d_; }

    Window makeWindow(const char* className, std::optional<long> pid = std::nullopt) {
        const Window w = XCreateSimpleWindow(d_, DefaultRootWindow(d_), 10, 10, 200, 100, 0, 0, 0);
        XSelectInput(d_, w, KeyPressMask | KeyReleaseMask | FocusChangeMask | StructureNotifyMask);
        XClassHint hint{const_cast<char*>("test"), const_cast<char*>(className)};
        XSetClassHint(d_, w, &hint);
        if (pid) {
            const long value = *pid;
            XChangeProperty(d_, w, XInternAtom(d_, "_NET_WM_PID", False), XA_CARDINAL, 32,
                            PropModeReplace, reinterpret_cast<const unsigned char*>(&value), 1);
        }
        XMapWindow(d_, w);
        XSync(d_, False);
        // Mapped once the server (or the manager) says so.
        waitFor([&] {
            pump();
            XWindowAttributes a;
            XGetWindowAttributes(d_, w, &a);
            return a.map_state == IsViewable;
        });
        return w;
    }

    /// Reads the events that have arrived; remembers typed keys as
    /// "<keysym name>" with a "C-" prefix when Control was held.
    void pump() {
        while (XPending(d_) > 0) {
            XEvent e;
            XNextEvent(d_, &e);
            if (e.type == KeyPress) {
                const KeySym sym = XLookupKeysym(&e.xkey, 0);
                const char* name = XKeysymToString(sym);
                typed.push_back(std::string(e.xkey.state & ControlMask ? "C-" : "") +
                                (name ? name : "?"));
            }
        }
    }

    std::vector<std::string> typed;

private:
    Display* d_;
};

class X11DesktopTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!x_.running()) GTEST_SKIP() << "no X server for the desktop tests: " << x_.failure();
    }
    zvtest::XvfbServer x_;
};

} // namespace

TEST_F(X11DesktopTest, KeysOfEveryWindowReachTheMonitorAsPhysicalKeys) {
    auto monitor = X11KeyMonitor::open(x_.display());
    auto keys = X11Keystrokes::open(x_.display());
    ASSERT_TRUE(monitor && keys);

    keys->sendKey(KEY_RIGHTMETA, true);
    keys->sendKey(KEY_RIGHTMETA, false);
    ASSERT_TRUE(keys->pressPaste());

    const std::vector<KeyEvent> expected = {{KEY_RIGHTMETA, true}, {KEY_RIGHTMETA, false},
                                            {KEY_LEFTCTRL, true},  {KEY_V, true},
                                            {KEY_V, false},        {KEY_LEFTCTRL, false}};
    std::vector<KeyEvent> seen;
    waitFor([&] {
        monitor->dispatch([&](const KeyEvent& e) { seen.push_back(e); });
        return seen.size() >= expected.size();
    });
    EXPECT_EQ(seen, expected);
}

TEST_F(X11DesktopTest, WithoutAWindowManagerTheFocusIsSetDirectly) {
    auto windows = X11Windows::open(x_.display());
    ASSERT_TRUE(windows);
    EXPECT_FALSE(windows->hasWindowManager());
    Client client(x_.display());
    const Window editor = client.makeWindow("Editor", getpid());
    const Window other = client.makeWindow("Other");

    ASSERT_TRUE(windows->activate(editor));
    EXPECT_EQ(windows->activeWindow(), editor);
    EXPECT_EQ(windows->processId(editor), getpid());
    EXPECT_EQ(windows->applicationName(editor), "Editor");
    EXPECT_EQ(windows->processId(other), std::nullopt);

    // The paste keystroke lands in the focused window as Control + v.
    auto keys = X11Keystrokes::open(x_.display());
    ASSERT_TRUE(keys && keys->pressPaste());
    waitFor([&] {
        client.pump();
        return !client.typed.empty();
    });
    EXPECT_EQ(client.typed, (std::vector<std::string>{"Control_L", "C-v"}));

    ASSERT_TRUE(windows->activate(other));
    EXPECT_EQ(windows->activeWindow(), other);

    // A window that has gone is neither activated nor an error.
    XDestroyWindow(client.display(), editor);
    XSync(client.display(), False);
    EXPECT_FALSE(windows->exists(editor));
    EXPECT_FALSE(windows->activate(editor));
    EXPECT_EQ(windows->applicationName(editor), std::nullopt);
    EXPECT_EQ(windows->activeWindow(), other);
}

TEST_F(X11DesktopTest, TheWindowManagerActivatesTheRememberedWindow) {
    ASSERT_TRUE(x_.startWindowManager()) << "openbox is not installed";
    auto windows = X11Windows::open(x_.display());
    ASSERT_TRUE(windows);
    ASSERT_TRUE(waitFor([&] { return windows->hasWindowManager(); }, 10s));
    Client client(x_.display());
    const Window first = client.makeWindow("First", getpid());
    const Window second = client.makeWindow("Second");

    for (Window target : {first, second, first}) {
        ASSERT_TRUE(windows->activate(target));
        EXPECT_TRUE(waitFor([&] { return windows->activeWindow() == target; }))
            << "window " << target;
    }
    EXPECT_EQ(windows->processId(*windows->activeWindow()), getpid());
}
