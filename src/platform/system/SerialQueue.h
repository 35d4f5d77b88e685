#pragma once
// A serial queue: jobs run one at a time, in the order they were queued, on
// the queue's own thread. post() queues a job and returns; sync() queues one
// and waits for it (and runs it at once when called from a job of the same
// queue, so a job may call code that syncs). The queue finishes the jobs it
// holds before it goes away.

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace platform::system {

class SerialQueue {
public:
    SerialQueue();
    /// Runs the jobs still queued, then ends the thread.
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    /// Queues `job`. Jobs must not throw; an exception they let out is dropped.
    void post(std::function<void()> job);
    /// Runs `job` on the queue and waits for it; rethrows what it throws.
    void sync(const std::function<void()>& job);
    /// Whether the calling thread is the queue's.
    bool isCurrent() const { return std::this_thread::get_id() == thread_.get_id(); }

private:
    void run();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::function<void()>> jobs_;
    bool ending_ = false;
    std::thread thread_;
};

} // namespace platform::system
