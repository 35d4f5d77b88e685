#include "platform/system/WorkerGroup.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <thread>

using platform::system::CancellationError;
using platform::system::CancellationScope;
using platform::system::WorkerGroup;

TEST(WorkerGroup, ResultsInInputOrderWithErrorsInPlace) {
    WorkerGroup group(3);
    std::vector<int> inputs{5, 1, 4, 2, 3, 0, 7};
    auto results = group.map(inputs, [](int n) {
        // Later inputs finish first; order must still follow the input.
        std::this_thread::sleep_for(std::chrono::milliseconds(n));
        if (n == 4) throw std::runtime_error("four");
        return n * 10;
    });
    ASSERT_EQ(results.size(), inputs.size());
    for (size_t i = 0; i < inputs.size(); ++i) {
        if (inputs[i] == 4) {
            EXPECT_FALSE(results[i].ok());
            EXPECT_THROW(results[i].get(), std::runtime_error);
        } else {
            EXPECT_EQ(results[i].get(), inputs[i] * 10);
        }
    }
    EXPECT_TRUE(group.run(0, [](size_t) { return 1; }).empty());

    // A job that returns a reference hands back a copy.
    std::vector<std::string> names{"a", "b"};
    auto copies = group.run(names.size(), [&](size_t i) -> const std::string& { return names[i]; });
    EXPECT_EQ(copies[1].get(), "b");
}

TEST(WorkerGroup, NeverRunsMoreThanItsWidth) {
    for (size_t width : {1u, 2u, 5u}) {
        std::atomic<int> running{0}, peak{0};
        WorkerGroup group(width);
        auto results = group.run(20, [&](size_t i) {
            int now = ++running;
            int seen = peak.load();
            while (now > seen && !peak.compare_exchange_weak(seen, now)) {
            }
            // Hold every job until the group has been seen at full width, so
            // that the peak does not depend on how fast threads start.
            auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (peak.load() < static_cast<int>(width) &&
                   std::chrono::steady_clock::now() < deadline) {
                std::this_thread::yield();
            }
            --running;
            return i;
        });
        EXPECT_EQ(results.size(), 20u);
        EXPECT_LE(peak.load(), static_cast<int>(width));
        EXPECT_EQ(peak.load(), static_cast<int>(width)) << "the group should use its whole width";
    }
    EXPECT_EQ(WorkerGroup(0).width(), 1u);
}

TEST(WorkerGroup, JobsSeeTheGroupsStopToken) {
    WorkerGroup group(2);
    auto results = group.run(6, [&](size_t i) {
        if (i == 1) group.requestStop();
        // Wait until the stop has landed, then a deep check must throw.
        while (i >= 1 && !platform::system::isCancelled())
            std::this_thread::yield();
        platform::system::checkCancellation();
        return i;
    });
    int cancelled = 0;
    for (auto& r : results) {
        if (!r.ok()) {
            EXPECT_THROW(r.get(), CancellationError);
            ++cancelled;
        }
    }
    EXPECT_GE(cancelled, 5); // job 0 may finish before the stop; no other job can
}

TEST(WorkerGroup, ParentStopReachesTheGroup) {
    std::stop_source parent;
    parent.request_stop();
    CancellationScope scope(parent.get_token());
    WorkerGroup group(4); // created under a stopped caller
    std::atomic<int> started{0};
    auto results = group.run(8, [&](size_t) { return ++started; });
    EXPECT_EQ(started.load(), 0);
    for (auto& r : results)
        EXPECT_THROW(r.get(), CancellationError);
}
