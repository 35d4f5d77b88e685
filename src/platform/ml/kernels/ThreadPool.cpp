#include "platform/ml/kernels/ThreadPool.h"

#include "platform/system/MachineInfo.h"

#include <algorithm>
#include <bit>
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

// One loop's slot. `ticket` holds the slot's epoch in its high half (odd
// while a loop runs in it) and the next chunk to claim in its low half. The
// owner writes the loop's description while the epoch is even, then makes
// it odd; a worker reads the description after the ticket and claims a
// chunk by a compare-and-swap on the ticket it read, which fails if the
// slot has been reused since. Holding a claimed chunk that is not yet
// counted as finished keeps the loop in its slot: the owner reuses the slot
// only after every chunk has finished.
struct ThreadPool::Slot {
    alignas(64) std::atomic<uint64_t> ticket{0};
    std::atomic<void*> object{nullptr};
    std::atomic<void (*)(void*, size_t, size_t)> call{nullptr};
    std::atomic<size_t> count{0};
    std::atomic<size_t> chunk{0};
    std::atomic<uint32_t> chunks{0};
    // Chunks finished, plus kOwnerAsleep; the futex word the owner sleeps on.
    alignas(64) std::atomic<uint32_t> state{0};
    std::atomic<bool> failed{false};
    std::exception_ptr error;

    static bool active(uint64_t ticket) { return (ticket >> 32) & 1; }

    // Runs the claimed chunk `index` and every chunk claimed after it.
    void runFrom(uint32_t index) {
        void* const target = object.load(std::memory_order_relaxed);
        auto* const function = call.load(std::memory_order_relaxed);
        const size_t total = count.load(std::memory_order_relaxed);
        const size_t size = chunk.load(std::memory_order_relaxed);
        const uint32_t parts = chunks.load(std::memory_order_relaxed);
        for (;;) {
            const size_t begin = index * size;
            try {
                function(target, begin, std::min(total, begin + size));
            } catch (...) {
                if (!failed.exchange(true)) error = std::current_exception();
            }
            // Claim the next chunk before counting this one: holding a chunk
            // keeps the loop in its slot.
            const uint32_t following =
                static_cast<uint32_t>(ticket.fetch_add(1, std::memory_order_relaxed));
            const uint32_t before = state.fetch_add(1, std::memory_order_acq_rel);
            if ((before & kOwnerAsleep) && (before & ~kOwnerAsleep) + 1 == parts)
                futexWake(state, 1);
            if (following >= parts) return;
            index = following;
        }
    }

    // Claims a chunk of the loop running in this slot, if any is left, and
    // runs it and those claimed after it; false when there was none.
    bool tryRun() {
        uint64_t seen = ticket.load(std::memory_order_acquire);
        for (;;) {
            if (!active(seen)) return false;
            // Read with acquire: a description written for a later loop
            // makes the swap below see that loop's epoch, and fail.
            const uint32_t parts = chunks.load(std::memory_order_acquire);
            const uint32_t index = static_cast<uint32_t>(seen);
            if (index >= parts) return false;
            if (ticket.compare_exchange_weak(seen, seen + 1, std::memory_order_acq_rel,
                                             std::memory_order_acquire)) {
                runFrom(index);
                return true;
            }
        }
    }

    bool finished() const {
        return (state.load(std::memory_order_acquire) & ~kOwnerAsleep) ==
               chunks.load(std::memory_order_relaxed);
    }

    void waitUntilFinished() {
        if (spinUntil([this] { return finished(); })) return;
        const uint32_t parts = chunks.load(std::memory_order_relaxed);
        for (;;) {
            uint32_t seen = state.load(std::memory_order_acquire);
            if ((seen & ~kOwnerAsleep) == parts) return;
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

ThreadPool::ThreadPool(int threadCount) : slots_(std::make_unique<Slot[]>(kSlots)) {
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

ThreadPool::Slot* ThreadPool::acquireSlot() {
    uint64_t busy = busy_.load(std::memory_order_relaxed);
    while (~busy != 0) {
        const int index = std::countr_one(busy);
        const uint64_t bit = uint64_t{1} << index;
        if (busy_.compare_exchange_weak(busy, busy | bit, std::memory_order_acquire,
                                        std::memory_order_relaxed))
            return &slots_[index];
    }
    return nullptr;
}

void ThreadPool::releaseSlot(Slot& slot) {
    const auto index = static_cast<unsigned>(&slot - slots_.get());
    busy_.fetch_and(~(uint64_t{1} << index), std::memory_order_release);
}

bool ThreadPool::takeWork() {
    uint64_t busy = busy_.load(std::memory_order_acquire);
    while (busy != 0) {
        const int index = std::countr_zero(busy);
        busy &= busy - 1;
        if (slots_[index].tryRun()) return true;
    }
    return false;
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
    Slot* slot = chunks == 1 || threadCount() <= 1 ? nullptr : acquireSlot();
    if (!slot) {
        body.call(body.object, 0, count);
        return;
    }
    const size_t chunk = (count + chunks - 1) / chunks;
    const auto parts = static_cast<uint32_t>((count + chunk - 1) / chunk); // none empty
    // The slot is idle (even epoch): describe the loop, then open it.
    const uint64_t epoch = (slot->ticket.load(std::memory_order_relaxed) >> 32) + 1;
    slot->object.store(body.object, std::memory_order_release);
    slot->call.store(body.call, std::memory_order_release);
    slot->count.store(count, std::memory_order_release);
    slot->chunk.store(chunk, std::memory_order_release);
    slot->chunks.store(parts, std::memory_order_release);
    slot->ticket.store(epoch << 32, std::memory_order_release);
    generation_.fetch_add(1);
    // Pairs with the sleeper's count-then-check: either it sees the new
    // generation, or this sees it counted.
    if (sleepers_.load() > 0)
        futexWake(generation_, static_cast<int>(std::min<uint32_t>(parts - 1, INT_MAX)));
    // The owner holds the slot, so it may claim without the swap.
    const auto index = static_cast<uint32_t>(slot->ticket.fetch_add(1, std::memory_order_relaxed));
    if (index < parts) slot->runFrom(index);
    slot->waitUntilFinished();
    // Every chunk has finished: close the slot (even epoch) before reuse.
    slot->ticket.store((epoch + 1) << 32, std::memory_order_release);
    std::exception_ptr error = std::move(slot->error);
    slot->error = nullptr;
    slot->failed.store(false, std::memory_order_relaxed);
    slot->state.store(0, std::memory_order_relaxed);
    releaseSlot(*slot);
    if (error) std::rethrow_exception(error);
}

} // namespace platform::ml::kernels
