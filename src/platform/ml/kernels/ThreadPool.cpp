#include "platform/ml/kernels/ThreadPool.h"

#include <algorithm>
#include <atomic>
#include <exception>

namespace platform::ml::kernels {

struct ThreadPool::Job {
    const std::function<void(size_t, size_t)>* body;
    size_t count;
    size_t chunk;
    size_t chunks;
    std::atomic<size_t> next{0};
    std::atomic<size_t> finished{0};
    std::mutex doneMutex;
    std::condition_variable done;
    std::exception_ptr error;

    // Runs chunks until none are left; true when this call finished the last one.
    bool work() {
        bool finishedLast = false;
        for (;;) {
            size_t index = next.fetch_add(1, std::memory_order_relaxed);
            if (index >= chunks) break;
            size_t begin = index * chunk;
            size_t end = std::min(count, begin + chunk);
            try {
                (*body)(begin, end);
            } catch (...) {
                std::lock_guard lock(doneMutex);
                if (!error) error = std::current_exception();
            }
            if (finished.fetch_add(1, std::memory_order_acq_rel) + 1 == chunks) finishedLast = true;
        }
        return finishedLast;
    }
};

ThreadPool& ThreadPool::shared() {
    static ThreadPool pool(static_cast<int>(std::max(1u, std::thread::hardware_concurrency())));
    return pool;
}

ThreadPool::ThreadPool(int threadCount) {
    startWorkers(threadCount);
}

ThreadPool::~ThreadPool() {
    stopWorkers();
}

int ThreadPool::threadCount() const {
    std::lock_guard lock(mutex_);
    return threadCount_;
}

void ThreadPool::setThreadCount(int threadCount) {
    stopWorkers();
    startWorkers(threadCount);
}

void ThreadPool::startWorkers(int threadCount) {
    std::lock_guard lock(mutex_);
    threadCount_ = std::max(1, threadCount);
    stopping_ = false;
    for (int i = 1; i < threadCount_; ++i)
        workers_.emplace_back([this, i] { workerLoop(static_cast<size_t>(i)); });
}

void ThreadPool::stopWorkers() {
    std::vector<std::thread> workers;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        workers.swap(workers_);
    }
    wake_.notify_all();
    for (std::thread& worker : workers)
        worker.join();
}

void ThreadPool::workerLoop(size_t) {
    for (;;) {
        std::shared_ptr<Job> job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
            if (stopping_) return;
            job = jobs_.front();
            if (job->next.load(std::memory_order_relaxed) >= job->chunks) {
                jobs_.pop_front(); // every chunk has been taken
                continue;
            }
        }
        if (job->work()) {
            std::lock_guard lock(job->doneMutex);
            job->done.notify_all();
        }
    }
}

void ThreadPool::parallelFor(size_t count, size_t grain,
                             const std::function<void(size_t, size_t)>& body) {
    if (count == 0) return;
    grain = std::max<size_t>(1, grain);
    size_t threads = static_cast<size_t>(threadCount());
    // A few chunks per thread, taken in turn, so that a thread that starts
    // late (or runs slower on a busy machine) does not hold up the loop.
    size_t chunks = std::min(threads * 4, (count + grain - 1) / grain);
    if (chunks <= 1) {
        body(0, count);
        return;
    }
    auto job = std::make_shared<Job>();
    job->body = &body;
    job->count = count;
    job->chunk = (count + chunks - 1) / chunks;
    job->chunks = (count + job->chunk - 1) / job->chunk;
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back(job);
    }
    wake_.notify_all();
    job->work();
    {
        std::unique_lock lock(job->doneMutex);
        job->done.wait(
            lock, [&] { return job->finished.load(std::memory_order_acquire) == job->chunks; });
    }
    {
        std::lock_guard lock(mutex_);
        auto it = std::find(jobs_.begin(), jobs_.end(), job);
        if (it != jobs_.end()) jobs_.erase(it);
    }
    if (job->error) std::rethrow_exception(job->error);
}

} // namespace platform::ml::kernels
