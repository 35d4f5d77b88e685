#pragma once
// A bounded group of workers: runs a list of jobs with at most `width` of them
// at once and returns one Outcome per job, in input order. Each job runs
// inside a CancellationScope of the group's stop token, so code deep in a job
// can call checkCancellation(). The group's token stops when the group is
// asked to stop or when the token it was created under stops; jobs that have
// not started by then are not started and report a CancellationError.
//
// The calling thread works as one of the workers and `run` returns when
// every job has finished.

#include "platform/system/Cancellation.h"
#include "platform/system/Outcome.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <stop_token>
#include <type_traits>
#include <utility>
#include <vector>

namespace platform::system {

class WorkerGroup {
public:
    /// A width of 0 is treated as 1. `parent` defaults to the caller's token.
    explicit WorkerGroup(size_t width, std::stop_token parent = currentStopToken());
    ~WorkerGroup();
    WorkerGroup(const WorkerGroup&) = delete;
    WorkerGroup& operator=(const WorkerGroup&) = delete;

    size_t width() const { return width_; }

    /// Asks running jobs to stop and keeps the remaining ones from starting.
    void requestStop() { source_.request_stop(); }
    std::stop_token stopToken() const { return source_.get_token(); }

    /// Runs `job(index)` for every index below `count`; results are kept by value.
    template <typename Job>
    auto run(size_t count, Job&& job)
        -> std::vector<Outcome<std::decay_t<std::invoke_result_t<Job&, size_t>>>> {
        using T = std::decay_t<std::invoke_result_t<Job&, size_t>>;
        static_assert(!std::is_void_v<T>, "jobs return a value");
        std::vector<std::optional<Outcome<T>>> slots(count);
        std::stop_token token = stopToken();
        forEachIndex(count, [&](size_t index) {
            if (token.stop_requested()) {
                slots[index].emplace(std::make_exception_ptr(CancellationError()));
                return;
            }
            CancellationScope scope(token);
            slots[index].emplace(Outcome<T>::capture([&] { return job(index); }));
        });
        std::vector<Outcome<T>> results;
        results.reserve(count);
        for (auto& slot : slots)
            results.push_back(std::move(*slot));
        return results;
    }

    /// Runs one job per element of `inputs`: `job(input)`.
    template <typename Input, typename Job>
    auto map(const std::vector<Input>& inputs, Job&& job)
        -> std::vector<Outcome<std::decay_t<std::invoke_result_t<Job&, const Input&>>>> {
        return run(inputs.size(), [&](size_t index) { return job(inputs[index]); });
    }

    /// Runs a list of jobs without arguments.
    template <typename T> std::vector<Outcome<T>> run(const std::vector<std::function<T()>>& jobs) {
        return run(jobs.size(), [&](size_t index) { return jobs[index](); });
    }

private:
    // Calls body(i) for each i in [0, count) on up to `width_` threads (the
    // caller included). `body` must not throw.
    void forEachIndex(size_t count, const std::function<void(size_t)>& body);

    size_t width_;
    std::stop_source source_;
    std::optional<std::stop_callback<std::function<void()>>> parentLink_;
};

} // namespace platform::system
