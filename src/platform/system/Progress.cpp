#include "platform/system/Progress.h"

#include <algorithm>
#include <stdexcept>

namespace platform::system {

// Locking rule: a progress only ever holds its own mutex, never another's, so
// updates travelling up and reads travelling down cannot deadlock.

std::shared_ptr<Progress> Progress::create(int64_t totalUnitCount) {
    return std::make_shared<Progress>(totalUnitCount);
}

Progress::Progress(int64_t totalUnitCount) : total_(totalUnitCount) {}

int64_t Progress::totalUnitCount() const {
    std::lock_guard lock(mutex_);
    return total_;
}

void Progress::setTotalUnitCount(int64_t count) {
    {
        std::lock_guard lock(mutex_);
        total_ = count;
    }
    reportFinishedToParent();
}

int64_t Progress::completedUnitCount() const {
    std::lock_guard lock(mutex_);
    return completed_;
}

void Progress::setCompletedUnitCount(int64_t count) {
    {
        std::lock_guard lock(mutex_);
        completed_ = count;
    }
    reportFinishedToParent();
}

void Progress::addChild(const std::shared_ptr<Progress>& child, int64_t pendingUnitCount) {
    if (!child) throw std::invalid_argument("Progress child is null");
    // Walk up from this progress: the child must not be one of its ancestors.
    for (std::shared_ptr<Progress> node = shared_from_this(); node;) {
        if (node == child) throw std::invalid_argument("Progress child would form a cycle");
        std::shared_ptr<Progress> parent;
        {
            std::lock_guard lock(node->mutex_);
            parent = node->parent_.lock();
        }
        node = std::move(parent);
    }
    {
        std::lock_guard lock(child->mutex_);
        if (child->hasParent_) throw std::invalid_argument("Progress child already has a parent");
        child->hasParent_ = true;
        child->parent_ = weak_from_this();
    }
    {
        std::lock_guard lock(mutex_);
        children_.push_back({child, pendingUnitCount});
    }
    child->reportFinishedToParent(); // a child that is already done counts at once
}

double Progress::fractionCompleted() const {
    int64_t total, completed;
    std::vector<Child> children;
    {
        std::lock_guard lock(mutex_);
        total = total_;
        completed = completed_;
        children = children_;
    }
    if (total <= 0) return 0.0;
    double units = static_cast<double>(completed);
    for (const auto& child : children) {
        double fraction = std::clamp(child.progress->fractionCompleted(), 0.0, 1.0);
        units += fraction * static_cast<double>(child.pendingUnitCount);
    }
    return units / static_cast<double>(total);
}

bool Progress::isFinished() const {
    std::lock_guard lock(mutex_);
    return total_ > 0 && completed_ >= total_;
}

std::optional<double> Progress::throughput() const {
    std::lock_guard lock(mutex_);
    return throughput_;
}

void Progress::setThroughput(std::optional<double> bytesPerSecond) {
    std::lock_guard lock(mutex_);
    throughput_ = bytesPerSecond;
}

void Progress::reportFinishedToParent() {
    std::shared_ptr<Progress> parent;
    {
        std::lock_guard lock(mutex_);
        if (reportedFinished_ || !(total_ > 0 && completed_ >= total_)) return;
        parent = parent_.lock();
        if (!parent) return;
        reportedFinished_ = true;
    }
    auto self = shared_from_this(); // keeps this alive while the parent lets go of it
    parent->childFinished(this);
}

void Progress::childFinished(const Progress* child) {
    std::shared_ptr<Progress> released; // dropped after the lock
    {
        std::lock_guard lock(mutex_);
        auto it = std::find_if(children_.begin(), children_.end(),
                               [&](const Child& c) { return c.progress.get() == child; });
        if (it == children_.end()) return;
        completed_ += it->pendingUnitCount;
        released = std::move(it->progress);
        children_.erase(it);
    }
    reportFinishedToParent();
}

} // namespace platform::system
