#include "jinja/RenderState.h"

#include "jinja/JinjaError.h"

#include <algorithm>
#include <pthread.h>
#include <string>
#include <time.h>

namespace jinja {

namespace render {

constinit thread_local RenderState* current = nullptr;
constinit thread_local const RenderLimits* activeLimits = nullptr;

namespace {

// The lowest stack address the render may reach before it reports too deep a
// recursion: the thread's stack end plus a margin for unwinding and built-ins.
const char* computeStackLimit() {
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) != 0) return nullptr;
    void* base = nullptr;
    std::size_t size = 0;
    int rc = pthread_attr_getstack(&attr, &base, &size);
    pthread_attr_destroy(&attr);
    if (rc != 0 || !base) return nullptr;
    std::size_t margin = std::min<std::size_t>(size / 4, std::size_t{512} << 10);
    return static_cast<const char*>(base) + margin;
}

} // namespace

std::chrono::nanoseconds coarseNow() noexcept {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

void tooDeep() {
    throw JinjaError::runtime("Maximum recursion depth exceeded");
}

CallDepth::CallDepth() {
    checkStack();
    if (current && ++current->depth > current->limits.maxDepth) {
        --current->depth;
        tooDeep();
    }
}

void rememberCapturedScope(const std::shared_ptr<Environment>& scope) {
    if (!current) return;
    auto& scopes = current->capturedScopes;
    scopes.push_back(scope);
    if (scopes.size() >= current->sweepAt) {
        std::erase_if(scopes, [](const std::weak_ptr<Environment>& w) { return w.expired(); });
        current->sweepAt = std::max<std::size_t>(64, scopes.size() * 2);
    }
}

void clearChain(Environment* scope, const Environment* keep) {
    for (; scope && scope != keep; scope = scope->parent().get()) {
        Environment::Variables doomed;
        doomed.swap(scope->variables);
        // `doomed` dies here, releasing the closures it held.
    }
}

RenderScope::RenderScope(const RenderLimits* limits, const Environment* keep) : keep_(keep) {
    if (current && !limits) return;
    state_.limits = limits ? *limits : RenderLimits::defaults();
    // A budget too long to add to the clock means no deadline.
    const std::chrono::nanoseconds now = coarseNow();
    const std::chrono::nanoseconds latest = std::chrono::nanoseconds::max();
    const auto budget = state_.limits.maxDuration;
    state_.deadline = budget >= std::chrono::duration_cast<std::chrono::milliseconds>(latest - now)
                          ? latest
                          : now + budget;
    state_.nextClockCheck = kStepsPerClockCheck;
    thread_local const char* stackLimit = computeStackLimit();
    state_.stackLimit = stackLimit;
    state_.previous = current;
    current = &state_;
    activeLimits = &state_.limits;
    owns_ = true;
}

RenderScope::~RenderScope() {
    if (!owns_) return;
    for (auto& weak : state_.capturedScopes) {
        if (std::shared_ptr<Environment> scope = weak.lock()) clearChain(scope.get(), keep_);
    }
    current = state_.previous;
    activeLimits = current ? &current->limits : nullptr;
}

} // namespace render

void RenderLimits::chargeSteps(std::uint64_t steps) {
    render::RenderState* state = render::current;
    if (!state) return;
    state->steps += steps;
    if (state->steps > state->limits.maxSteps)
        throw JinjaError::runtime("Rendering exceeds the limit of " +
                                  std::to_string(state->limits.maxSteps) + " steps");
    if (state->steps < state->nextClockCheck) return;
    state->nextClockCheck = state->steps + render::kStepsPerClockCheck;
    if (render::coarseNow() > state->deadline)
        throw JinjaError::runtime("Rendering exceeds the time limit of " +
                                  std::to_string(state->limits.maxDuration.count()) + " ms");
}

} // namespace jinja
