#pragma once
// The hub client's view of the network: a small state object kept up to date
// from the platform's network path, and the rule that turns it into the
// offline decision. One process-wide monitor serves every offline decision.

#include "platform/net/NetworkPathMonitor.h"

#include <memory>
#include <mutex>

namespace hub {

class NetworkStateActor {
public:
    /// True when the client should work offline: never while the variable
    /// CI_DISABLE_NETWORK_MONITOR is exactly "1", else when the last path
    /// was not usable.
    bool shouldUseOfflineMode() const;
    void update(const platform::net::NetworkPath& path);

    bool isConnected() const;
    bool isExpensive() const;
    bool isConstrained() const;

private:
    mutable std::mutex mutex_;
    bool isConnected_ = true; // until the first path arrives, the answer is online
    bool isExpensive_ = false;
    bool isConstrained_ = false;
};

class NetworkMonitor {
public:
    /// Watches `monitor` (the routing-state monitor when none is given) and
    /// starts at once.
    explicit NetworkMonitor(std::unique_ptr<platform::net::NetworkPathMonitor> monitor = nullptr);
    ~NetworkMonitor();
    NetworkMonitor(const NetworkMonitor&) = delete;
    NetworkMonitor& operator=(const NetworkMonitor&) = delete;

    /// Installs the path handler and starts the path monitor; again on a
    /// running monitor it keeps watching and re-reads the current path.
    void startMonitoring();

    NetworkStateActor& state() { return *state_; }

    /// The process-wide monitor, created on first use and never released.
    static NetworkMonitor& shared();
    /// Replaces the path monitor the shared monitor watches (tests hand in a
    /// monitor whose paths they choose).
    static void
    replaceSharedPathMonitor(std::unique_ptr<platform::net::NetworkPathMonitor> monitor);

private:
    std::mutex mutex_;
    std::unique_ptr<platform::net::NetworkPathMonitor> monitor_;
    std::shared_ptr<NetworkStateActor> state_;
};

} // namespace hub
