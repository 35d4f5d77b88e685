#pragma once
// Watches whether the machine has a usable network path. The default monitor
// reads the kernel's routing state: the path is satisfied while an IPv4 or
// IPv6 default route exists on an interface other than loopback, and it is
// re-read whenever the kernel announces a change of links, addresses or
// routes over a netlink socket (or every few seconds when no netlink socket
// can be opened). Tests hand their own subclass to the code that watches.

#include <functional>
#include <memory>

namespace platform::net {

struct NetworkPath {
    enum class Status { satisfied, unsatisfied, requiresConnection };
    Status status = Status::satisfied;
    /// The path runs over an interface the user pays for by volume. The
    /// routing state does not say; always false here.
    bool isExpensive = false;
    /// The path is in a low-data mode; always false here.
    bool isConstrained = false;
};

class NetworkPathMonitor {
public:
    using PathUpdateHandler = std::function<void(const NetworkPath&)>;

    virtual ~NetworkPathMonitor() = default;

    /// Replaces the handler; it is called on the monitor's own thread with
    /// the current path when monitoring starts and after every change.
    virtual void setPathUpdateHandler(PathUpdateHandler handler) = 0;
    /// Starts watching; a repeated start keeps the running watch and
    /// delivers the current path again.
    virtual void start() = 0;
    /// Stops watching; no handler call begins after it returns.
    virtual void cancel() = 0;

    /// The routing-state monitor.
    static std::unique_ptr<NetworkPathMonitor> create();

    /// The path the routing tables describe right now.
    static NetworkPath currentPath();
};

} // namespace platform::net
