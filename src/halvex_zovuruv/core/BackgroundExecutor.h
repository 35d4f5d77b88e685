#pragma once
// Where long work runs (a transcription, an AI request, the engine's preload):
// off the main thread, each job to its end.

#include <functional>

namespace halvex {

class BackgroundExecutor {
public:
    virtual ~BackgroundExecutor() = default;

    /// Starts `job` off the main thread and returns at once. The job must not
    /// throw.
    virtual void run(std::function<void()> job) = 0;
};

} // namespace halvex
