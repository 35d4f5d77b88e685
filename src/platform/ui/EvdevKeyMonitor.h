#pragma once
// Every key press and release of the machine's keyboards, read from the
// kernel's input devices (/dev/input/event*): the road where no X server
// runs. Keyboards plugged in later are picked up as their device nodes
// appear (inotify on the folder); unplugged ones are dropped. Reading the
// devices needs the permission to open them (the "input" group).
//
// The caller watches fd() in its event loop and calls dispatch() when it is
// readable. Held keys repeating are not reported again.

#include "platform/ui/KeyEvent.h"

#include <filesystem>
#include <functional>
#include <map>
#include <memory>

namespace platform::ui {

class EvdevKeyMonitor {
public:
    /// Watches `folder`; nothing when it cannot be watched.
    static std::unique_ptr<EvdevKeyMonitor> open(std::filesystem::path folder = "/dev/input");
    ~EvdevKeyMonitor();
    EvdevKeyMonitor(const EvdevKeyMonitor&) = delete;
    EvdevKeyMonitor& operator=(const EvdevKeyMonitor&) = delete;

    int fd() const { return epoll_; }
    /// The keyboards being read, by device path.
    std::vector<std::filesystem::path> keyboards() const;

    /// Handles what has arrived (new or vanished devices, key events) and
    /// hands the key events to `handler`; returns at once when nothing has.
    void dispatch(const std::function<void(const KeyEvent&)>& handler);

private:
    EvdevKeyMonitor(std::filesystem::path folder, int epoll, int inotify);
    void addDevice(const std::filesystem::path& path);
    void removeDevice(int fd);
    void readDevice(int fd, const std::function<void(const KeyEvent&)>& handler);

    std::filesystem::path folder_;
    int epoll_;
    int inotify_;
    std::map<int, std::filesystem::path> devices_;
};

} // namespace platform::ui
