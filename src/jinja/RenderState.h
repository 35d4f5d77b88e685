#pragma once
// The per-thread state of the render running on this thread: its limits, the
// steps and call depth it has used, the stack address it may not pass, and
// the scopes that caller functions captured (cleared when the render ends).

#include "jinja/Environment.h"
#include "jinja/RenderLimits.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace jinja::render {

struct RenderState {
    RenderLimits limits;
    std::size_t depth = 0;
    std::uint64_t steps = 0;
    // The clock is read when the step count passes the next multiple of
    // kStepsPerClockCheck (or a single charge is large).
    std::uint64_t nextClockCheck = 0;
    std::chrono::nanoseconds deadline{0}; // on the coarse clock

    const char* stackLimit = nullptr;
    // Scopes captured by caller functions. Only they can close a cycle of
    // shared ownership (a caller stored in a variable of the scope it holds or
    // of an ancestor), so clearing them and their ancestors at the end of the
    // render frees every such cycle.
    std::vector<std::weak_ptr<Environment>> capturedScopes;
    std::size_t sweepAt = 64;
    RenderState* previous = nullptr;
};

inline constexpr std::uint64_t kStepsPerClockCheck = 4096;

// The running render of this thread, or null.
extern constinit thread_local RenderState* current;

[[noreturn]] void tooDeep();

// The monotonic clock at its coarse resolution (a few milliseconds), which
// costs a fraction of a precise reading and is enough for a time limit.
std::chrono::nanoseconds coarseNow() noexcept;

// Fails with "Maximum recursion depth exceeded" when the stack has grown
// down to the running render's limit.
inline void checkStack() {
    if (current && current->stackLimit &&
        static_cast<const char*>(__builtin_frame_address(0)) < current->stackLimit)
        tooDeep();
}

inline void countStep() {
    // Nearly every step stays below both the step limit and the next clock
    // reading; the rest take the full charge.
    RenderState* state = current;
    if (state && state->steps + 1 < state->nextClockCheck &&
        state->steps + 1 <= state->limits.maxSteps) {
        ++state->steps;
        return;
    }
    RenderLimits::chargeSteps(1);
}

// Counts one nested call (macro or caller) for as long as it runs.
class CallDepth {
public:
    CallDepth();
    ~CallDepth() {
        if (current) --current->depth;
    }
    CallDepth(const CallDepth&) = delete;
    CallDepth& operator=(const CallDepth&) = delete;
};

// Registers a scope a caller function keeps alive, for the end-of-render cleanup.
void rememberCapturedScope(const std::shared_ptr<Environment>& scope);

// Clears the variables of a scope and its ancestors, up to (not including) `keep`.
void clearChain(Environment* scope, const Environment* keep = nullptr);

// Installs a render state for the current thread, unless one is already
// running (a render nested in a host function keeps the outer limits).
class RenderScope {
public:
    // `limits`: those of a new render, or null to join a running one (or run
    // with the defaults). `keep`: a scope of the caller's that outlives the
    // run, which the cleanup leaves as the template left it.
    RenderScope(const RenderLimits* limits, const Environment* keep);
    ~RenderScope();
    RenderScope(const RenderScope&) = delete;
    RenderScope& operator=(const RenderScope&) = delete;

private:
    RenderState state_;
    const Environment* keep_;
    bool owns_ = false;
};

} // namespace jinja::render
