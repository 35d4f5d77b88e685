// The kernel road: a virtual uinput keyboard appears in /dev/input, the
// monitor picks it up as it is plugged in and reads its keys. Needs
// /dev/uinput and the permission to read input devices.

#include "platform/ui/EvdevKeyMonitor.h"
#include "platform/ui/UinputKeyboard.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace platform::ui;
using namespace std::chrono_literals;

TEST(EvdevTest, APluggedInKeyboardIsReadFromItsFirstKey) {
    auto monitor = EvdevKeyMonitor::open();
    if (!monitor) GTEST_SKIP() << "/dev/input cannot be watched here";
    auto keyboard = UinputKeyboard::open();
    if (!keyboard) GTEST_SKIP() << "/dev/uinput cannot be written here";

    std::vector<KeyEvent> seen;
    auto pump = [&] { monitor->dispatch([&](const KeyEvent& e) { seen.push_back(e); }); };
    // udev gives the new node its permissions a moment after creating it.
    const auto before = monitor->keyboards().size();
    for (int i = 0; i < 200 && monitor->keyboards().size() == before; ++i) {
        pump();
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_GT(monitor->keyboards().size(), before);

    keyboard->pressPaste();
    const std::vector<KeyEvent> expected = {
        {KEY_LEFTCTRL, true}, {KEY_V, true}, {KEY_V, false}, {KEY_LEFTCTRL, false}};
    for (int i = 0; i < 200 && seen.size() < expected.size(); ++i) {
        pump();
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(seen, expected);
}

TEST(EvdevTest, NodesThatAreNoKeyboardsAreNotRead) {
    std::string pattern = (std::filesystem::temp_directory_path() / "zv-evdev-XXXXXX").string();
    ASSERT_TRUE(::mkdtemp(pattern.data()));
    const std::filesystem::path folder = pattern;
    auto monitor = EvdevKeyMonitor::open(folder);
    ASSERT_TRUE(monitor);
    // A pipe opens like a device node but answers no input ioctl.
    ASSERT_EQ(::mkfifo((folder / "event0").c_str(), 0600), 0);
    std::FILE* plain = std::fopen((folder / "event1").c_str(), "w");
    ASSERT_TRUE(plain);
    std::fclose(plain);
    std::this_thread::sleep_for(50ms);
    monitor->dispatch([](const KeyEvent&) { FAIL() << "no key expected"; });
    EXPECT_TRUE(monitor->keyboards().empty());
    std::filesystem::remove_all(folder);
}
