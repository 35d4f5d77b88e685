#include "platform/system/Cancellation.h"
#include "platform/system/Outcome.h"

#include <gtest/gtest.h>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

using namespace platform::system;

TEST(Outcome, CapturesValuesAndErrors) {
    auto good = Outcome<std::string>::capture([] { return std::string("text"); });
    ASSERT_TRUE(good.ok());
    EXPECT_EQ(good.get(), "text");
    EXPECT_EQ(good.error(), nullptr);

    auto bad = Outcome<int>::capture([]() -> int { throw std::invalid_argument("bad input"); });
    EXPECT_FALSE(bad);
    EXPECT_NE(bad.error(), nullptr);
    EXPECT_THROW(bad.get(), std::invalid_argument);

    auto moved = Outcome<std::unique_ptr<int>>(std::make_unique<int>(7));
    std::unique_ptr<int> owned = std::move(moved).get();
    EXPECT_EQ(*owned, 7);
}

TEST(Cancellation, ScopesNestAndStayOnTheirThread) {
    EXPECT_FALSE(isCancelled());
    EXPECT_NO_THROW(checkCancellation());
    std::stop_source outer, inner;
    {
        CancellationScope outerScope(outer.get_token());
        {
            CancellationScope innerScope(inner.get_token());
            inner.request_stop();
            EXPECT_TRUE(isCancelled());
            EXPECT_THROW(checkCancellation(), CancellationError);
            // Another thread has its own (empty) token.
            std::thread([] { EXPECT_FALSE(isCancelled()); }).join();
        }
        EXPECT_FALSE(isCancelled()); // the outer token is back
        outer.request_stop();
        EXPECT_TRUE(isCancelled());
    }
    EXPECT_FALSE(currentStopToken().stop_possible());
}
