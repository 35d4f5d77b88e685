#pragma once
// Where the application reads the time: a monotonic clock for intervals (the
// hotkey's debounce, how long a transcription took) and the wall clock for the
// instants it stores. Tests hand in a clock they move by hand.

#include <chrono>
#include <memory>

namespace halvex {

class Clock {
public:
    virtual ~Clock() = default;

    /// A clock that never jumps: for measuring intervals.
    virtual std::chrono::steady_clock::time_point monotonicNow() = 0;
    /// The current instant of the wall clock: for dates that are stored.
    virtual std::chrono::system_clock::time_point now() = 0;

    /// The system's clocks.
    static std::shared_ptr<Clock> system();
};

} // namespace halvex
