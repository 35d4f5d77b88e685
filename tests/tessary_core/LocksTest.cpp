#include "tessary_core/EarlyStopActor.h"
#include "tessary_core/PropertyLock.h"
#include "tessary_core/UnfairLock.h"

#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using platform::system::Uuid;
using tessary::EarlyStopActor;
using tessary::PropertyLock;
using tessary::UnfairLock;

TEST(UnfairLock, ThrowingSectionReleasesTheLock) {
    UnfairLock lock;
    EXPECT_THROW(lock.withLock([]() -> int { throw std::runtime_error("boom"); }),
                 std::runtime_error);
    EXPECT_TRUE(lock.try_lock());
    lock.unlock();
    EXPECT_EQ(lock.withLock([] { return 7; }), 7);
}

TEST(PropertyLock, ReadWriteAndCopiesAreIndependent) {
    PropertyLock<std::string> text("a");
    text = std::string("b");
    PropertyLock<std::string> copy = text;
    copy.modify([](std::string& s) { s += "c"; });
    EXPECT_EQ(text.get(), "b");
    EXPECT_EQ(copy.get(), "bc");
    EXPECT_EQ(copy.read([](const std::string& s) { return s.size(); }), 2u);
}

TEST(PropertyLock, ChangesBeforeAThrowAreKept) {
    PropertyLock<std::vector<int>> values;
    EXPECT_THROW(values.modify([](std::vector<int>& v) {
        v.push_back(1);
        throw std::runtime_error("stop");
    }),
                 std::runtime_error);
    EXPECT_EQ(values.get(), std::vector<int>{1});
}

// An in-place change takes the lock once: concurrent appends are never lost.
TEST(PropertyLock, ConcurrentInPlaceChangesAreNotLost) {
    PropertyLock<std::vector<int>> values;
    constexpr int kThreads = 8, kPerThread = 2000;
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&] {
                for (int i = 0; i < kPerThread; ++i)
                    values.modify([&](std::vector<int>& v) { v.push_back(i); });
            });
        }
    }
    EXPECT_EQ(values.get().size(), static_cast<size_t>(kThreads * kPerThread));
}

TEST(EarlyStopActor, FlagsPerIdentifier) {
    EarlyStopActor actor;
    Uuid a = Uuid::random(), b = Uuid::random();
    EXPECT_FALSE(actor.get(a));
    EXPECT_EQ(actor.remove(a), std::nullopt);
    actor.set(true, a);
    EXPECT_TRUE(actor.get(a));
    EXPECT_FALSE(actor.get(b));
    actor.set(false, a);
    EXPECT_FALSE(actor.get(a));
    actor.set(true, a);
    EXPECT_EQ(actor.remove(a), true);
    EXPECT_EQ(actor.remove(a), std::nullopt);
}
