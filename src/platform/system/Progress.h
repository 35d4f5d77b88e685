#pragma once
// Progress of a piece of work in units, with children that each stand for a
// number of the parent's units ("pending units"). A child's share grows with
// its own fraction; when the child finishes, its pending units are added to
// the parent's completed units and the child is let go. Thread-safe: any
// thread may update or read any progress at any time.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace platform::system {

class Progress : public std::enable_shared_from_this<Progress> {
public:
    /// Progress objects are shared: always made through `create`.
    static std::shared_ptr<Progress> create(int64_t totalUnitCount = 0);

    int64_t totalUnitCount() const;
    void setTotalUnitCount(int64_t count);
    int64_t completedUnitCount() const;
    void setCompletedUnitCount(int64_t count);

    /// Attaches `child` as standing for `pendingUnitCount` units of this
    /// progress. Throws std::invalid_argument when the child already has a
    /// parent or when attaching it would make a cycle.
    void addChild(const std::shared_ptr<Progress>& child, int64_t pendingUnitCount);

    /// (completed units + each child's fraction × its pending units) / total
    /// units; 0 while the total is 0 or less. A child counts at most in full.
    double fractionCompleted() const;

    /// True once the total is positive and the completed units reach it.
    bool isFinished() const;

    /// The transfer speed last reported for this work, when any.
    std::optional<double> throughput() const;
    void setThroughput(std::optional<double> bytesPerSecond);

    explicit Progress(int64_t totalUnitCount); // use create()

private:
    struct Child {
        std::shared_ptr<Progress> progress;
        int64_t pendingUnitCount;
    };
    void reportFinishedToParent();
    void childFinished(const Progress* child);

    mutable std::mutex mutex_;
    int64_t total_;
    int64_t completed_ = 0;
    std::vector<Child> children_;
    std::weak_ptr<Progress> parent_;
    bool hasParent_ = false;
    bool reportedFinished_ = false;
    std::optional<double> throughput_;
};

} // namespace platform::system
