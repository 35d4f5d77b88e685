#include "hub/NetworkMonitor.h"

#include <condition_variable>
#include <cstdlib>
#include <gtest/gtest.h>
#include <mutex>

namespace {

using platform::net::NetworkPath;

// A path monitor whose paths the test sends.
class ScriptedPathMonitor : public platform::net::NetworkPathMonitor {
public:
    void setPathUpdateHandler(PathUpdateHandler handler) override {
        std::lock_guard lock(mutex_);
        handler_ = std::move(handler);
    }
    void start() override {}
    void cancel() override {}
    void send(const NetworkPath& path) {
        PathUpdateHandler handler;
        {
            std::lock_guard lock(mutex_);
            handler = handler_;
        }
        handler(path);
    }

private:
    std::mutex mutex_;
    PathUpdateHandler handler_;
};

TEST(NetworkMonitor, PathsDecideTheOfflineAnswer) {
    auto scripted = std::make_unique<ScriptedPathMonitor>();
    ScriptedPathMonitor* paths = scripted.get();
    hub::NetworkMonitor monitor(std::move(scripted));
    EXPECT_FALSE(monitor.state().shouldUseOfflineMode()); // online until told otherwise

    paths->send({NetworkPath::Status::unsatisfied});
    EXPECT_TRUE(monitor.state().shouldUseOfflineMode());
    paths->send({NetworkPath::Status::requiresConnection});
    EXPECT_TRUE(monitor.state().shouldUseOfflineMode());
    ::setenv("CI_DISABLE_NETWORK_MONITOR", "1", 1);
    EXPECT_FALSE(monitor.state().shouldUseOfflineMode());
    ::setenv("CI_DISABLE_NETWORK_MONITOR", "yes", 1);
    EXPECT_TRUE(monitor.state().shouldUseOfflineMode());
    ::unsetenv("CI_DISABLE_NETWORK_MONITOR");

    paths->send({NetworkPath::Status::satisfied, true, true});
    EXPECT_FALSE(monitor.state().shouldUseOfflineMode());
    EXPECT_TRUE(monitor.state().isExpensive());
}

TEST(NetworkMonitor, RoutingStateMonitorDeliversTheCurrentPath) {
    auto monitor = platform::net::NetworkPathMonitor::create();
    std::mutex mutex;
    std::condition_variable delivered;
    std::optional<NetworkPath> seen;
    monitor->setPathUpdateHandler([&](const NetworkPath& path) {
        std::lock_guard lock(mutex);
        seen = path;
        delivered.notify_all();
    });
    monitor->start();
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(
            delivered.wait_for(lock, std::chrono::seconds(10), [&] { return seen.has_value(); }));
        EXPECT_EQ(seen->status, platform::net::NetworkPathMonitor::currentPath().status);
        seen.reset();
    }
    monitor->start(); // a second start delivers the path again
    {
        std::unique_lock lock(mutex);
        EXPECT_TRUE(
            delivered.wait_for(lock, std::chrono::seconds(10), [&] { return seen.has_value(); }));
    }
    monitor->cancel();
}

} // namespace
