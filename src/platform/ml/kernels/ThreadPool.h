#pragma once
// A persistent pool that splits loops over worker threads. The calling
// thread takes part, so a loop never waits for a free worker; loops started
// from several threads at once (or from inside a loop) share the workers.
//
// One-token decoding runs dozens of short loops per token, so starting a
// loop must cost far less than a futex round trip: idle workers spin for a
// short while before they sleep, a loop's body is called through a plain
// function reference (no allocation), and workers find and claim chunks
// without a lock: a loop's description lives in a slot the pool owns,
// guarded by an epoch that changes whenever the slot is reused.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace platform::ml::kernels {

class ThreadPool {
public:
    /// The name of the workers' threads (as tools that list threads show it).
    static constexpr const char* kWorkerName = "ml-pool";

    /// The process-wide pool, as wide as the processors this process may use.
    static ThreadPool& shared();

    explicit ThreadPool(int threadCount);
    ~ThreadPool();
    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    /// Threads a loop started from the calling thread may use, the caller
    /// included (at least 1): the pool's width, or the calling thread's
    /// share of it when that is smaller (see setCallerShare).
    int threadCount() const {
        const int width = threadCount_.load(std::memory_order_relaxed);
        return callerShare_ > 0 && callerShare_ < width ? callerShare_ : width;
    }
    /// Changes the thread count; loops running now finish with the old workers.
    void setThreadCount(int threadCount);

    /// Calls body(begin, end) over [0, count) in chunks of at least `grain`
    /// (at most four per thread), spread over the pool; returns when every
    /// chunk is done. A loop over `threadCount()` items gets one item per
    /// chunk. An exception thrown by a chunk is rethrown here after the loop
    /// has finished.
    template <typename Body> void parallelFor(size_t count, size_t grain, Body&& body) {
        run(count, grain, reference(body));
    }

    /// Calls body(begin, end) for `chunks` equal consecutive parts of
    /// [0, count) (the last may be shorter), spread over the pool.
    template <typename Body> void parallelChunks(size_t count, size_t chunks, Body&& body) {
        runChunks(count, chunks, reference(body));
    }

    /// Limits the loops started from the calling thread to `threads`
    /// threads (0 or less: no limit); returns the limit it replaces.
    static int setCallerShare(int threads) {
        const int previous = callerShare_;
        callerShare_ = threads;
        return previous;
    }

private:
    // The calling thread's limit on the threads its loops use; 0: none.
    static inline constinit thread_local int callerShare_ = 0;

    struct RangeFunction {
        void* object;
        void (*call)(void* object, size_t begin, size_t end);
    };
    // A loop body called through a plain pointer, without a copy.
    template <typename Callable> static RangeFunction reference(Callable& body) {
        return {const_cast<void*>(static_cast<const void*>(&body)),
                [](void* object, size_t begin, size_t end) {
                    (*static_cast<Callable*>(object))(begin, end);
                }};
    }
    struct Slot;
    // Loops running at once, at most; a loop started when all are taken runs
    // on its caller alone.
    static constexpr int kSlots = 64;

    void run(size_t count, size_t grain, RangeFunction body);
    void runChunks(size_t count, size_t chunks, RangeFunction body);
    Slot* acquireSlot();
    void releaseSlot(Slot& slot);
    bool takeWork();
    void workerLoop();
    void startWorkers(int threadCount);
    void stopWorkers();

    // The loops' slots, owned by the pool so that a worker may look at one
    // at any time; a bit of `busy_` is set while its slot's owner uses it.
    std::unique_ptr<Slot[]> slots_;
    alignas(64) std::atomic<uint64_t> busy_{0};
    std::mutex mutex_; // guards the workers
    std::vector<std::thread> workers_;
    std::atomic<int> threadCount_{1};
    // Bumped whenever a job is published or the workers must stop; idle
    // workers watch it, first spinning, then asleep on it as a futex word.
    alignas(64) std::atomic<uint32_t> generation_{0};
    std::atomic<int> sleepers_{0};
    std::atomic<bool> stopping_{false};
};

} // namespace platform::ml::kernels
