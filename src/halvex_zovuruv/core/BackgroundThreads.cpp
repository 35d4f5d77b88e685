#include "halvex_zovuruv/core/BackgroundThreads.h"

namespace halvex {

BackgroundThreads::~BackgroundThreads() {
    std::list<Worker> workers;
    {
        std::lock_guard lock(mutex_);
        workers.swap(workers_);
    }
    for (auto& worker : workers)
        worker.thread.join();
}

void BackgroundThreads::reapFinished() {
    for (auto it = workers_.begin(); it != workers_.end();) {
        if (it->finished) {
            it->thread.join(); // returns at once: the job has ended
            it = workers_.erase(it);
        } else {
            ++it;
        }
    }
}

void BackgroundThreads::run(std::function<void()> job) {
    std::lock_guard lock(mutex_);
    reapFinished();
    // List nodes keep their address, so the thread can mark its own entry.
    Worker& worker = workers_.emplace_back();
    worker.thread = std::thread([this, &worker, job = std::move(job)] {
        job();
        std::lock_guard done(mutex_);
        worker.finished = true;
    });
}

} // namespace halvex
