#include "halvex_zovuruv/core/BackgroundThreads.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace {

TEST(BackgroundThreads, RunsJobsOffTheCallingThreadAndWaitsForThemWhenDestroyed) {
    const auto caller = std::this_thread::get_id();
    std::atomic<int> done{0};
    std::atomic<int> onCaller{0};
    {
        halvex::BackgroundThreads threads;
        for (int i = 0; i < 20; ++i) {
            threads.run([&] {
                if (std::this_thread::get_id() == caller) ++onCaller;
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                ++done;
            });
        }
    }
    EXPECT_EQ(done.load(), 20);
    EXPECT_EQ(onCaller.load(), 0);
}

} // namespace
