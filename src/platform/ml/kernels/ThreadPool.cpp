#include "platform/ml/kernels/ThreadPool.h"

#include "platform/system/MachineInfo.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <linux/futex.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace platform::ml::kernels {

namespace {

// How long an idle thread keeps polling before it sleeps: long enough to
// bridge the gaps between the loops of one decoding step and between steps,
// short enough that an idle pool gives its processors back at once.
constexpr auto kSpinTime = std::chrono::microseconds(200);

// The owner of a job sets this bit in the job's state when it sleeps.
constexpr uint32_t kOwnerAsleep = 1u << 31;

void futexWait(std::atomic<uint32_t>& word, uint32_t expected) {
    ::syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), FUTEX_WAIT_PRIVATE, expected, nullptr,
              nullptr, 0);
}

// Waking only hashes the address: it is harmless even when the word's
// memory has been reused meanwhile.
void futexWake(std::atomic<uint32_t>& word, int count) {
    ::syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), FUTEX_WAKE_PRIVATE, count, nullptr,
              nullptr, 0);
}

inline void cpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
    _mm_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

// Polls `done` until it holds or the spin time has passed; true when it held.
template <typename Done> bool spinUntil(Done done) {
    auto deadline = std::chrono::steady_clock::time_point{};
    for (unsigned round = 0;; ++round) {
        for (int i = 0; i < 16; ++i) {
            if (done()) return true;
            cpuRelax();
        }
        auto now = std::chrono::steady_clock::now();
        if (round == 0) {
            deadline = now + kSpinTime;
        } else if (now >= deadline) {
            return false;
        }
    }
}

} // namespace

// One loop, on its owner's stack. A thread may touch a job only while it
// holds a claimed chunk that it has not yet counted as finished, or while it
// holds the pool's mutex and the job is in the pool's list; the owner
// withdraws the job from the list only after every chunk has finished.
struct ThreadPool::Job {
    RangeFunction body{};
    size_t count = 0;
    size_t chunk = 0;
    uint32_t chunks = 0;
    Job* previous = nullptr; // the pool's list, guarded by its mutex
    Job* next = nullptr;
    alignas(64) std::atomic<size_t> claimed{0};
    // Chunks finished, plus kOwnerAsleep; the futex word the owner sleeps on.
    alignas(64) std::atomic<uint32_t> state{0};
    std::atomic<bool> failed{false};
    std::exception_ptr error;

    bool exhausted() const { return claimed.load(std::memory_order_relaxed) >= chunks; }

    // Runs the claimed chunk `index` and every chunk claimed after it.
    void runFrom(size_t index) {
        const uint32_t total = chunks;
        for (;;) {
            const size_t begin = index * chunk;
            try {
                body.call(body.object, begin, std::min(count, begin + chunk));
            } catch (...) {
                if (!failed.exchange(true)) error = std::current_exception();
            }
            // Claim the next chunk before counting this one: holding a chunk
            // keeps the job alive.
            const size_t following = claimed.fetch_add(1, std::memory_order_relaxed);
            const uint32_t before = state.fetch_add(1, std::memory_order_acq_rel);
            if ((before & kOwnerAsleep) && (before & ~kOwnerAsleep) + 1 == total)
                futexWake(state, 1);
            if (following >= total) return;
            index = following;
        }
    }

    bool finished() const {
        return (state.load(std::memory_order_acquire) & ~kOwnerAsleep) == chunks;
    }

    void waitUntilFinished() {
        if (spinUntil([this] { return finished(); })) return;
        for (;;) {
            uint32_t seen = state.load(std::memory_order_acquire);
            if ((seen & ~kOwnerAsleep) == chunks) return;
            if (!(seen & kOwnerAsleep)) {
                if (!state.compare_exchange_weak(seen, seen | kOwnerAsleep,
                                                 std::memory_order_acq_rel))
                    continue;
                seen |= kOwnerAsleep;
            }
            futexWait(state, seen);
        }
    }
};

ThreadPool& ThreadPool::shared() {
    static ThreadPool pool(platform::system::MachineInfo::availableProcessorCount());
    return pool;
}

ThreadPool::ThreadPool(int threadCount) {
    startWorkers(threadCount);
}

ThreadPool::~ThreadPool() {
    stopWorkers();
}

void ThreadPool::setThreadCount(int threadCount) {
    stopWorkers();
    startWorkers(threadCount);
}

void ThreadPool::startWorkers(int threadCount) {
    std::lock_guard lock(mutex_);
    threadCount = std::max(1, threadCount);
    stopping_.store(false);
    for (int i = 1; i < threadCount; ++i)
        workers_.emplace_back([this] { workerLoop(); });
    threadCount_.store(threadCount, std::memory_order_relaxed);
}

void ThreadPool::stopWorkers() {
    std::vector<std::thread> workers;
    {
        std::lock_guard lock(mutex_);
        stopping_.store(true);
        workers.swap(workers_);
    }
    generation_.fetch_add(1);
    futexWake(generation_, INT_MAX);
    for (std::thread& worker : workers)
        worker.join();
}

void ThreadPool::publish(Job& job) {
    {
        std::lock_guard lock(mutex_);
        job.previous = last_;
        (last_ ? last_->next : first_) = &job;
        last_ = &job;
    }
    generation_.fetch_add(1);
    // Pairs with the sleeper's count-then-check: either it sees the new
    // generation, or this sees it counted.
    if (sleepers_.load() > 0)
        futexWake(generation_, static_cast<int>(std::min<uint32_t>(job.chunks - 1, INT_MAX)));
}

void ThreadPool::withdraw(Job& job) {
    std::lock_guard lock(mutex_);
    (job.previous ? job.previous->next : first_) = job.next;
    (job.next ? job.next->previous : last_) = job.previous;
}

bool ThreadPool::takeWork() {
    Job* job = nullptr;
    size_t index = 0;
    {
        std::lock_guard lock(mutex_);
        for (Job* candidate = first_; candidate && !job; candidate = candidate->next) {
            if (candidate->exhausted()) continue;
            index = candidate->claimed.fetch_add(1, std::memory_order_relaxed);
            if (index < candidate->chunks) job = candidate;
        }
    }
    if (!job) return false;
    job->runFrom(index);
    return true;
}

void ThreadPool::workerLoop() {
    ::pthread_setname_np(::pthread_self(), kWorkerName);
    for (;;) {
        const uint32_t seen = generation_.load();
        if (stopping_.load()) return;
        if (takeWork()) continue;
        if (spinUntil([&] { return generation_.load(std::memory_order_relaxed) != seen; }))
            continue;
        sleepers_.fetch_add(1);
        if (generation_.load() == seen) futexWait(generation_, seen);
        sleepers_.fetch_sub(1);
    }
}

void ThreadPool::run(size_t count, size_t grain, RangeFunction body) {
    if (count == 0) return;
    grain = std::max<size_t>(1, grain);
    const size_t threads = static_cast<size_t>(threadCount());
    // A few chunks per thread, taken in turn, so that a thread that starts
    // late (or runs slower on a busy machine) does not hold up the loop.
    runChunks(count, std::min(threads * 4, (count + grain - 1) / grain), body);
}

void ThreadPool::runChunks(size_t count, size_t chunks, RangeFunction body) {
    if (count == 0) return;
    chunks = std::clamp<size_t>(chunks, 1, std::min<size_t>(count, size_t{1} << 30));
    if (chunks == 1 || threadCount() <= 1) {
        body.call(body.object, 0, count);
        return;
    }
    Job job;
    job.body = body;
    job.count = count;
    job.chunk = (count + chunks - 1) / chunks;
    job.chunks = static_cast<uint32_t>((count + job.chunk - 1) / job.chunk); // none empty
    publish(job);
    const size_t index = job.claimed.fetch_add(1, std::memory_order_relaxed);
    if (index < job.chunks) job.runFrom(index);
    job.waitUntilFinished();
    withdraw(job);
    if (job.error) std::rethrow_exception(job.error);
}

} // namespace platform::ml::kernels
