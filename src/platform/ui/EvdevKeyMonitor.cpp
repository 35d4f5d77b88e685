#include "platform/ui/EvdevKeyMonitor.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <linux/input.h>
#include <sys/epoll.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace platform::ui {

namespace {

bool testBit(const unsigned long* bits, unsigned bit) {
    constexpr unsigned perLong = sizeof(unsigned long) * CHAR_BIT;
    return (bits[bit / perLong] >> (bit % perLong)) & 1UL;
}

/// A device that has letter keys or modifier keys is a keyboard; mice,
/// power buttons and lid switches are not read.
bool isKeyboard(int fd) {
    constexpr unsigned perLong = sizeof(unsigned long) * CHAR_BIT;
    unsigned long types[(EV_MAX + perLong) / perLong] = {};
    if (::ioctl(fd, EVIOCGBIT(0, sizeof types), types) < 0 || !testBit(types, EV_KEY)) return false;
    unsigned long keys[(KEY_MAX + perLong) / perLong] = {};
    if (::ioctl(fd, EVIOCGBIT(EV_KEY, sizeof keys), keys) < 0) return false;
    for (unsigned key : {KEY_A, KEY_LEFTCTRL, KEY_RIGHTMETA, KEY_RIGHTALT, KEY_FN})
        if (testBit(keys, key)) return true;
    return false;
}

bool isEventNode(const std::string& name) {
    return name.rfind("event", 0) == 0;
}

} // namespace

std::unique_ptr<EvdevKeyMonitor> EvdevKeyMonitor::open(std::filesystem::path folder) {
    const int epoll = ::epoll_create1(EPOLL_CLOEXEC);
    if (epoll < 0) return nullptr;
    const int inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotify < 0 || ::inotify_add_watch(inotify, folder.c_str(), IN_CREATE | IN_ATTRIB) < 0) {
        if (inotify >= 0) ::close(inotify);
        ::close(epoll);
        return nullptr;
    }
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = inotify;
    ::epoll_ctl(epoll, EPOLL_CTL_ADD, inotify, &event);
    std::unique_ptr<EvdevKeyMonitor> monitor(new EvdevKeyMonitor(folder, epoll, inotify));
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
        if (isEventNode(entry.path().filename().string())) monitor->addDevice(entry.path());
    return monitor;
}

EvdevKeyMonitor::EvdevKeyMonitor(std::filesystem::path folder, int epoll, int inotify)
    : folder_(std::move(folder)), epoll_(epoll), inotify_(inotify) {}

EvdevKeyMonitor::~EvdevKeyMonitor() {
    for (const auto& [fd, path] : devices_)
        ::close(fd);
    ::close(inotify_);
    ::close(epoll_);
}

std::vector<std::filesystem::path> EvdevKeyMonitor::keyboards() const {
    std::vector<std::filesystem::path> paths;
    for (const auto& [fd, path] : devices_)
        paths.push_back(path);
    return paths;
}

void EvdevKeyMonitor::addDevice(const std::filesystem::path& path) {
    for (const auto& [fd, known] : devices_)
        if (known == path) return;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return; // not permitted (yet: udev sets the group after creating the node)
    if (!isKeyboard(fd)) {
        ::close(fd);
        return;
    }
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = fd;
    ::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event);
    devices_[fd] = path;
}

void EvdevKeyMonitor::removeDevice(int fd) {
    ::epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
    ::close(fd);
    devices_.erase(fd);
}

void EvdevKeyMonitor::readDevice(int fd, const std::function<void(const KeyEvent&)>& handler) {
    input_event events[64];
    for (;;) {
        const ssize_t n = ::read(fd, events, sizeof events);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) return;
        if (n <= 0) { // unplugged
            removeDevice(fd);
            return;
        }
        for (size_t i = 0; i < size_t(n) / sizeof(input_event); ++i) {
            const input_event& e = events[i];
            // Value 2 is the kernel's auto-repeat of a held key.
            if (e.type == EV_KEY && (e.value == 0 || e.value == 1)) handler({e.code, e.value == 1});
        }
    }
}

void EvdevKeyMonitor::dispatch(const std::function<void(const KeyEvent&)>& handler) {
    epoll_event ready[16];
    for (;;) {
        const int count = ::epoll_wait(epoll_, ready, 16, 0);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return;
        for (int i = 0; i < count; ++i) {
            const int fd = ready[i].data.fd;
            if (fd == inotify_) {
                alignas(inotify_event) char buffer[4096];
                ssize_t n;
                while ((n = ::read(inotify_, buffer, sizeof buffer)) > 0) {
                    for (char* p = buffer; p < buffer + n;) {
                        const auto* e = reinterpret_cast<const inotify_event*>(p);
                        if (e->len > 0 && isEventNode(e->name)) addDevice(folder_ / e->name);
                        p += sizeof(inotify_event) + e->len;
                    }
                }
            } else if (devices_.count(fd)) {
                readDevice(fd, handler);
            }
        }
    }
}

} // namespace platform::ui
