#include "platform/system/SerialQueue.h"

#include <gtest/gtest.h>
#include <stdexcept>
#include <thread>
#include <vector>

namespace platform::system {
namespace {

TEST(SerialQueue, JobsRunOneAtATimeInOrderOnTheQueuesThread) {
    std::vector<int> order;
    std::thread::id jobThread;
    {
        SerialQueue queue;
        for (int i = 0; i < 100; ++i)
            queue.post([&, i] { order.push_back(i); });
        queue.sync([&] { jobThread = std::this_thread::get_id(); });
        EXPECT_EQ(order.size(), 100u);
        EXPECT_NE(jobThread, std::this_thread::get_id());
        // A job may sync with its own queue: it runs at once.
        bool inner = false;
        queue.sync([&] {
            EXPECT_TRUE(queue.isCurrent());
            queue.sync([&] { inner = true; });
        });
        EXPECT_TRUE(inner);
        EXPECT_THROW(queue.sync([] { throw std::runtime_error("job failed"); }),
                     std::runtime_error);
        queue.post([&] { order.push_back(100); }); // still run before the queue goes
    }
    ASSERT_EQ(order.size(), 101u);
    for (int i = 0; i <= 100; ++i)
        EXPECT_EQ(order[size_t(i)], i);
}

} // namespace
} // namespace platform::system
