#include "platform/net/NetworkPathMonitor.h"

#include <atomic>
#include <condition_variable>
#include <fstream>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <mutex>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace platform::net {

namespace {

constexpr unsigned kRouteUp = 0x0001;
constexpr unsigned kRouteReject = 0x0200;

bool hasIpv4DefaultRoute() {
    std::ifstream in("/proc/net/route");
    std::string line;
    std::getline(in, line); // column titles
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string iface, destination, gateway, flags, refCount, use, metric, mask;
        if (!(fields >> iface >> destination >> gateway >> flags >> refCount >> use >> metric >>
              mask))
            continue;
        const unsigned flagBits = static_cast<unsigned>(std::strtoul(flags.c_str(), nullptr, 16));
        if (iface != "lo" && destination == "00000000" && mask == "00000000" &&
            (flagBits & kRouteUp) && !(flagBits & kRouteReject))
            return true;
    }
    return false;
}

bool hasIpv6DefaultRoute() {
    std::ifstream in("/proc/net/ipv6_route");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string destination, prefix, source, sourcePrefix, nextHop, metric, refCount, use,
            flags, iface;
        if (!(fields >> destination >> prefix >> source >> sourcePrefix >> nextHop >> metric >>
              refCount >> use >> flags >> iface))
            continue;
        const unsigned flagBits = static_cast<unsigned>(std::strtoul(flags.c_str(), nullptr, 16));
        if (iface != "lo" && prefix == "00" &&
            destination.find_first_not_of('0') == std::string::npos && (flagBits & kRouteUp) &&
            !(flagBits & kRouteReject))
            return true;
    }
    return false;
}

class RoutingStateMonitor final : public NetworkPathMonitor {
public:
    RoutingStateMonitor() : wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~RoutingStateMonitor() override {
        cancel();
        if (wakeFd_ >= 0) ::close(wakeFd_);
    }

    void setPathUpdateHandler(PathUpdateHandler handler) override {
        std::lock_guard lock(mutex_);
        handler_ = std::make_shared<PathUpdateHandler>(std::move(handler));
    }

    void start() override {
        std::lock_guard lock(mutex_);
        if (thread_.joinable()) {
            redeliver_ = true;
            wake();
            return;
        }
        thread_ = std::jthread([this](std::stop_token stop) { watch(stop); });
    }

    void cancel() override {
        std::jthread thread;
        {
            std::lock_guard lock(mutex_);
            thread = std::move(thread_);
        }
        if (!thread.joinable()) return;
        thread.request_stop();
        wake();
        thread.join();
    }

private:
    void wake() {
        if (wakeFd_ >= 0) {
            uint64_t one = 1;
            [[maybe_unused]] auto n = ::write(wakeFd_, &one, sizeof one);
        }
    }

    void deliver() {
        std::shared_ptr<PathUpdateHandler> handler;
        {
            std::lock_guard lock(mutex_);
            handler = handler_;
        }
        if (handler && *handler) (*handler)(currentPath());
    }

    void watch(std::stop_token stop) {
        int netlink = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
        if (netlink >= 0) {
            sockaddr_nl address{};
            address.nl_family = AF_NETLINK;
            address.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR |
                                RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE;
            if (::bind(netlink, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
                ::close(netlink);
                netlink = -1;
            }
        }
        deliver();
        while (!stop.stop_requested()) {
            pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {netlink, POLLIN, 0}};
            // Without netlink, poll the routing tables every five seconds.
            int ready = ::poll(fds, netlink >= 0 ? 2 : 1, netlink >= 0 ? -1 : 5000);
            if (stop.stop_requested()) break;
            bool changed = ready == 0;
            if (ready > 0 && (fds[0].revents & POLLIN)) {
                uint64_t count;
                [[maybe_unused]] auto n = ::read(wakeFd_, &count, sizeof count);
                std::lock_guard lock(mutex_);
                changed = changed || redeliver_;
                redeliver_ = false;
            }
            if (netlink >= 0 && ready > 0 && (fds[1].revents & POLLIN)) {
                char buffer[8192];
                while (::recv(netlink, buffer, sizeof buffer, 0) > 0) {
                }
                changed = true;
            }
            if (changed) deliver();
        }
        if (netlink >= 0) ::close(netlink);
    }

    int wakeFd_;
    std::mutex mutex_;
    std::shared_ptr<PathUpdateHandler> handler_;
    bool redeliver_ = false;
    std::jthread thread_;
};

} // namespace

NetworkPath NetworkPathMonitor::currentPath() {
    NetworkPath path;
    path.status = hasIpv4DefaultRoute() || hasIpv6DefaultRoute() ? NetworkPath::Status::satisfied
                                                                 : NetworkPath::Status::unsatisfied;
    return path;
}

std::unique_ptr<NetworkPathMonitor> NetworkPathMonitor::create() {
    return std::make_unique<RoutingStateMonitor>();
}

} // namespace platform::net
