#pragma once
// A small shared pool that splits loops over worker threads. The calling
// thread takes part, so a loop never waits for a free worker, and loops
// started from several threads at once share the workers.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace platform::ml::kernels {

class ThreadPool {
public:
    /// The process-wide pool.
    static ThreadPool& shared();

    explicit ThreadPool(int threadCount);
    ~ThreadPool();
    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    /// Threads a loop may use, the caller included (at least 1).
    int threadCount() const;
    /// Changes the thread count; loops running now finish with the old workers.
    void setThreadCount(int threadCount);

    /// Calls body(begin, end) over [0, count) in chunks of at least `grain`
    /// (at most four per thread), spread over the pool; returns when every
    /// chunk is done. A loop over `threadCount()` items gets one item per chunk. An exception
    /// thrown by a chunk is rethrown here after the loop has finished.
    void parallelFor(size_t count, size_t grain, const std::function<void(size_t, size_t)>& body);

private:
    struct Job;
    void workerLoop(size_t index);
    void startWorkers(int threadCount);
    void stopWorkers();

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::shared_ptr<Job>> jobs_;
    std::vector<std::thread> workers_;
    bool stopping_ = false;
    int threadCount_ = 1;
};

} // namespace platform::ml::kernels
