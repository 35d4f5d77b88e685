#include "platform/system/SerialQueue.h"

#include <exception>

namespace platform::system {

SerialQueue::SerialQueue() : thread_([this] { run(); }) {}

SerialQueue::~SerialQueue() {
    {
        std::lock_guard lock(mutex_);
        ending_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void SerialQueue::post(std::function<void()> job) {
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
    }
    changed_.notify_all();
}

void SerialQueue::sync(const std::function<void()>& job) {
    if (isCurrent()) {
        job();
        return;
    }
    std::mutex doneMutex;
    std::condition_variable doneChanged;
    bool done = false;
    std::exception_ptr error;
    post([&] {
        try {
            job();
        } catch (...) {
            error = std::current_exception();
        }
        std::lock_guard lock(doneMutex);
        done = true;
        doneChanged.notify_all();
    });
    std::unique_lock lock(doneMutex);
    doneChanged.wait(lock, [&] { return done; });
    if (error) std::rethrow_exception(error);
}

void SerialQueue::run() {
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return ending_ || !jobs_.empty(); });
            if (jobs_.empty()) return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        try {
            job();
        } catch (...) {
            // A job must not throw; the queue goes on with the next one.
        }
    }
}

} // namespace platform::system
