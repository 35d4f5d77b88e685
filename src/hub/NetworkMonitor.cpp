#include "hub/NetworkMonitor.h"

#include <cstdlib>
#include <cstring>

namespace hub {

bool NetworkStateActor::shouldUseOfflineMode() const {
    const char* disabled = std::getenv("CI_DISABLE_NETWORK_MONITOR");
    if (disabled && std::strcmp(disabled, "1") == 0) return false;
    std::lock_guard lock(mutex_);
    return !isConnected_;
}

void NetworkStateActor::update(const platform::net::NetworkPath& path) {
    std::lock_guard lock(mutex_);
    isConnected_ = path.status == platform::net::NetworkPath::Status::satisfied;
    isExpensive_ = path.isExpensive;
    isConstrained_ = path.isConstrained;
}

bool NetworkStateActor::isConnected() const {
    std::lock_guard lock(mutex_);
    return isConnected_;
}
bool NetworkStateActor::isExpensive() const {
    std::lock_guard lock(mutex_);
    return isExpensive_;
}
bool NetworkStateActor::isConstrained() const {
    std::lock_guard lock(mutex_);
    return isConstrained_;
}

NetworkMonitor::NetworkMonitor(std::unique_ptr<platform::net::NetworkPathMonitor> monitor)
    : monitor_(monitor ? std::move(monitor) : platform::net::NetworkPathMonitor::create()),
      state_(std::make_shared<NetworkStateActor>()) {
    startMonitoring();
}

NetworkMonitor::~NetworkMonitor() {
    std::lock_guard lock(mutex_);
    monitor_->cancel();
}

void NetworkMonitor::startMonitoring() {
    std::lock_guard lock(mutex_);
    // The handler holds the state weakly: a path that arrives after the
    // monitor is gone changes nothing.
    std::weak_ptr<NetworkStateActor> weakState = state_;
    monitor_->setPathUpdateHandler([weakState](const platform::net::NetworkPath& path) {
        if (auto state = weakState.lock()) state->update(path);
    });
    monitor_->start();
}

NetworkMonitor& NetworkMonitor::shared() {
    static NetworkMonitor* monitor = new NetworkMonitor();
    return *monitor;
}

void NetworkMonitor::replaceSharedPathMonitor(
    std::unique_ptr<platform::net::NetworkPathMonitor> monitor) {
    NetworkMonitor& shared = NetworkMonitor::shared();
    std::unique_ptr<platform::net::NetworkPathMonitor> old;
    {
        std::lock_guard lock(shared.mutex_);
        old = std::move(shared.monitor_);
        shared.monitor_ = std::move(monitor);
    }
    old->cancel();
    shared.state_->update(platform::net::NetworkPath{});
    shared.startMonitoring();
}

} // namespace hub
