#pragma once
// The application's main thread as a queue of jobs. The dictation state, the
// windows, the clipboard and the record store are touched there only;
// background work hands its results back through post(). The desktop runs the
// jobs from its event loop; tests run them by hand.

#include <chrono>
#include <functional>

namespace halvex {

class MainThreadExecutor {
public:
    virtual ~MainThreadExecutor() = default;

    /// Runs `job` on the main thread after the jobs posted before it. Callable
    /// from any thread; never runs the job before returning.
    virtual void post(std::function<void()> job) = 0;

    /// Runs `job` on the main thread once `delay` has passed.
    virtual void postAfter(std::chrono::milliseconds delay, std::function<void()> job) = 0;
};

} // namespace halvex
