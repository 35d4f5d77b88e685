#pragma once
// Fans a sequence of states out to any number of listeners. Each listener
// gets its own stream with unbounded buffering; a new stream first receives
// the latest state broadcast so far, or the initial state when nothing has
// been broadcast yet, and then every later state in order. Streams never end on their own: a
// listener stops when it sees a final state. Thread-safe.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

namespace hub {

template <typename State> class Broadcaster {
    struct Queue {
        std::mutex mutex;
        std::condition_variable ready;
        std::deque<State> states;

        void push(const State& state) {
            {
                std::lock_guard lock(mutex);
                states.push_back(state);
            }
            ready.notify_all();
        }
    };

    struct Core {
        std::mutex mutex;
        std::optional<State> latestState;
        std::map<uint64_t, std::shared_ptr<Queue>> continuations;
        uint64_t nextId = 0;
    };

public:
    class Stream {
    public:
        Stream(Stream&&) noexcept = default;
        Stream& operator=(Stream&&) noexcept = default;
        ~Stream() {
            if (auto core = core_.lock()) {
                std::lock_guard lock(core->mutex);
                core->continuations.erase(id_);
            }
        }

        /// Waits for the next state.
        State next() {
            std::unique_lock lock(queue_->mutex);
            queue_->ready.wait(lock, [&] { return !queue_->states.empty(); });
            return pop();
        }

        /// The next state, or nothing when none arrives within `timeout`.
        std::optional<State> next(std::chrono::milliseconds timeout) {
            std::unique_lock lock(queue_->mutex);
            if (!queue_->ready.wait_for(lock, timeout, [&] { return !queue_->states.empty(); }))
                return std::nullopt;
            return pop();
        }

    private:
        friend class Broadcaster;
        Stream(std::weak_ptr<Core> core, std::shared_ptr<Queue> queue, uint64_t id)
            : core_(std::move(core)), queue_(std::move(queue)), id_(id) {}

        State pop() {
            State state = std::move(queue_->states.front());
            queue_->states.pop_front();
            return state;
        }

        std::weak_ptr<Core> core_;
        std::shared_ptr<Queue> queue_;
        uint64_t id_ = 0;
    };

    explicit Broadcaster(std::function<std::optional<State>()> initialState)
        : initialState_(std::move(initialState)), core_(std::make_shared<Core>()) {}

    Stream subscribe() {
        auto queue = std::make_shared<Queue>();
        std::lock_guard lock(core_->mutex);
        const uint64_t id = core_->nextId++;
        core_->continuations.emplace(id, queue);
        std::optional<State> first = core_->latestState;
        if (!first && initialState_) first = initialState_();
        if (first) queue->push(*first);
        return Stream(core_, std::move(queue), id);
    }

    void broadcast(const State& state) {
        std::lock_guard lock(core_->mutex);
        core_->latestState = state;
        for (auto& [id, queue] : core_->continuations)
            queue->push(state);
    }

private:
    std::function<std::optional<State>()> initialState_;
    std::shared_ptr<Core> core_;
};

} // namespace hub
