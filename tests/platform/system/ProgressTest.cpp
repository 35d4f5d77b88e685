#include "platform/system/Progress.h"

#include <gtest/gtest.h>
#include <stdexcept>
#include <thread>
#include <vector>

using platform::system::Progress;

TEST(Progress, ChildrenCountByTheirPendingUnits) {
    auto overall = Progress::create(3);
    std::vector<std::shared_ptr<Progress>> files;
    for (int i = 0; i < 3; ++i) {
        files.push_back(Progress::create(100));
        overall->addChild(files.back(), 1);
    }
    EXPECT_DOUBLE_EQ(overall->fractionCompleted(), 0.0);
    files[0]->setCompletedUnitCount(50);
    EXPECT_DOUBLE_EQ(overall->fractionCompleted(), 0.5 / 3);
    EXPECT_EQ(overall->completedUnitCount(), 0);
    files[0]->setCompletedUnitCount(100);
    EXPECT_EQ(overall->completedUnitCount(), 1); // a finished child hands over its units
    EXPECT_DOUBLE_EQ(overall->fractionCompleted(), 1.0 / 3);
    files[1]->setCompletedUnitCount(250); // overshoot counts in full, no more
    files[2]->setCompletedUnitCount(100);
    EXPECT_EQ(overall->completedUnitCount(), 3);
    EXPECT_DOUBLE_EQ(overall->fractionCompleted(), 1.0);
    EXPECT_TRUE(overall->isFinished());
}

TEST(Progress, FinishingPropagatesUpwardAndEmptyTotalsReadZero) {
    auto root = Progress::create(1);
    auto middle = Progress::create(2);
    auto leaf = Progress::create(10);
    root->addChild(middle, 1);
    middle->addChild(leaf, 2);
    leaf->setCompletedUnitCount(10);
    EXPECT_TRUE(middle->isFinished());
    EXPECT_TRUE(root->isFinished());

    auto empty = Progress::create(0);
    EXPECT_DOUBLE_EQ(empty->fractionCompleted(), 0.0);
    EXPECT_FALSE(empty->isFinished());

    auto done = Progress::create(1);
    done->setCompletedUnitCount(1);
    auto parent = Progress::create(4);
    parent->addChild(done, 4); // already finished when attached
    EXPECT_EQ(parent->completedUnitCount(), 4);
}

TEST(Progress, RefusesSecondParentsAndCycles) {
    auto a = Progress::create(1), b = Progress::create(1), c = Progress::create(1);
    a->addChild(b, 1);
    EXPECT_THROW(c->addChild(b, 1), std::invalid_argument);
    b->addChild(c, 1);
    EXPECT_THROW(c->addChild(a, 1), std::invalid_argument);
    EXPECT_THROW(a->addChild(a, 1), std::invalid_argument);
    EXPECT_THROW(a->addChild(nullptr, 1), std::invalid_argument);
}

TEST(Progress, ThroughputAndConcurrentUpdates) {
    auto overall = Progress::create(8);
    std::vector<std::jthread> workers;
    for (int t = 0; t < 8; ++t) {
        auto child = Progress::create(1000);
        overall->addChild(child, 1);
        workers.emplace_back([child, overall] {
            for (int i = 1; i <= 1000; ++i) {
                child->setCompletedUnitCount(i);
                child->setThroughput(i * 1.5);
                (void)overall->fractionCompleted();
            }
        });
    }
    workers.clear();
    EXPECT_EQ(overall->completedUnitCount(), 8);
    EXPECT_EQ(overall->throughput(), std::nullopt);
    overall->setThroughput(2.5);
    EXPECT_EQ(overall->throughput(), 2.5);
}
