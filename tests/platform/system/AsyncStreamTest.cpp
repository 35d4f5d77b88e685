#include "platform/system/AsyncStream.h"

#include <gtest/gtest.h>
#include <stdexcept>
#include <thread>

namespace platform::system {
namespace {

TEST(AsyncStream, ValuesArriveInOrderThenTheEndOrTheError) {
    auto [stream, continuation] = AsyncStream<int>::make();
    int terminated = 0;
    continuation.setOnTermination([&] { ++terminated; });
    std::thread producer([c = continuation] {
        for (int i = 0; i < 100; ++i)
            c.yield(i);
        c.finish();
    });
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(stream.next(), i);
    EXPECT_EQ(stream.next(), std::nullopt);
    producer.join();
    continuation.yield(5); // after the end: dropped
    EXPECT_EQ(stream.next(), std::nullopt);
    EXPECT_EQ(terminated, 1);

    auto [failing, failingContinuation] = AsyncStream<int>::make();
    failingContinuation.yield(1);
    failingContinuation.finish(std::make_exception_ptr(std::runtime_error("device gone")));
    EXPECT_EQ(failing.next(), 1);
    EXPECT_THROW(failing.next(), std::runtime_error);
}

TEST(AsyncStream, TheConsumerEndsTheStreamByCancellingOrLettingItGo) {
    int terminated = 0;
    {
        auto [stream, continuation] = AsyncStream<int>::make();
        continuation.setOnTermination([&] { ++terminated; });
    }
    EXPECT_EQ(terminated, 1);
    auto [stream, continuation] = AsyncStream<int>::make();
    stream.cancel();
    continuation.setOnTermination([&] { ++terminated; }); // runs at once: already ended
    EXPECT_EQ(terminated, 2);

    // A waiting consumer stops with CancellationError when its task stops.
    auto [waiting, waitingContinuation] = AsyncStream<int>::make();
    std::stop_source stop;
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        stop.request_stop();
    });
    EXPECT_THROW(waiting.next(stop.get_token()), CancellationError);
    stopper.join();
}

} // namespace
} // namespace platform::system
