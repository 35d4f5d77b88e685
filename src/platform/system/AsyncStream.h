#pragma once
// A stream of values from a producer to one consumer, unbounded: the
// producer's continuation yields values and finally finishes the stream,
// normally or with an error; the consumer takes them in order with next(),
// which waits for the next value.
//
// The termination handler of the continuation runs once, when the stream
// ends for either side: the producer finishes it, or the consumer cancels it
// or lets its stream object go. After that, yields are dropped.
//
//     auto [stream, continuation] = AsyncStream<int>::make();
//     std::thread producer([c = continuation] { c.yield(1); c.finish(); });
//     while (auto value = stream.next()) use(*value);

#include "platform/system/Cancellation.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <utility>

namespace platform::system {

template <typename T> class AsyncStream {
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        std::deque<T> values;
        bool ended = false;
        std::exception_ptr error;
        std::function<void()> onTermination;

        /// Ends the stream (once) and runs the termination handler outside the lock.
        void end(std::exception_ptr failure) {
            std::function<void()> handler;
            {
                std::lock_guard lock(mutex);
                if (ended) return;
                ended = true;
                error = std::move(failure);
                handler = std::move(onTermination);
            }
            changed.notify_all();
            if (handler) handler();
        }
    };

public:
    /// The producer's side; copies share one stream.
    class Continuation {
    public:
        /// Adds a value; dropped when the stream has ended.
        void yield(T value) const {
            {
                std::lock_guard lock(state_->mutex);
                if (state_->ended) return;
                state_->values.push_back(std::move(value));
            }
            state_->changed.notify_all();
        }
        /// Ends the stream; the consumer sees the values yielded so far, then
        /// the end, or `error` rethrown.
        void finish(std::exception_ptr error = nullptr) const { state_->end(std::move(error)); }
        /// Sets what runs when the stream ends; runs at once when it has.
        void setOnTermination(std::function<void()> handler) const {
            {
                std::lock_guard lock(state_->mutex);
                if (!state_->ended) {
                    state_->onTermination = std::move(handler);
                    return;
                }
            }
            if (handler) handler();
        }

    private:
        friend class AsyncStream;
        explicit Continuation(std::shared_ptr<State> state) : state_(std::move(state)) {}
        std::shared_ptr<State> state_;
    };

    static std::pair<AsyncStream, Continuation> make() {
        auto state = std::make_shared<State>();
        return {AsyncStream(state), Continuation(state)};
    }

    AsyncStream(AsyncStream&&) noexcept = default;
    AsyncStream& operator=(AsyncStream&& other) noexcept {
        if (this != &other) {
            cancel();
            state_ = std::move(other.state_);
        }
        return *this;
    }
    AsyncStream(const AsyncStream&) = delete;
    AsyncStream& operator=(const AsyncStream&) = delete;
    /// Letting the stream go cancels it.
    ~AsyncStream() { cancel(); }

    /// The next value, waiting for it; nothing at the end. Rethrows the error
    /// the stream was finished with. Stops waiting with a CancellationError
    /// when `stop` (the current task's token by default) is requested.
    std::optional<T> next(std::stop_token stop = currentStopToken()) {
        std::stop_callback wake(stop, [this] {
            std::lock_guard guard(state_->mutex);
            state_->changed.notify_all();
        });
        std::unique_lock lock(state_->mutex);
        state_->changed.wait(lock, [&] {
            return !state_->values.empty() || state_->ended || stop.stop_requested();
        });
        if (!state_->values.empty()) {
            T value = std::move(state_->values.front());
            state_->values.pop_front();
            return value;
        }
        if (state_->ended) {
            if (state_->error) std::rethrow_exception(state_->error);
            return std::nullopt;
        }
        throw CancellationError();
    }

    /// Ends the stream from the consumer's side.
    void cancel() {
        if (state_) state_->end(nullptr);
    }

private:
    explicit AsyncStream(std::shared_ptr<State> state) : state_(std::move(state)) {}
    std::shared_ptr<State> state_;
};

} // namespace platform::system
