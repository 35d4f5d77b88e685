#pragma once
// The main thread of the Qt application as the dictation's job queue: jobs
// are queued to the application object and run by its event loop.

#include "halvex_zovuruv/core/MainThreadExecutor.h"

namespace halvex {

class QtMainThread final : public MainThreadExecutor {
public:
    /// Needs the Qt application object; jobs posted after it is gone are dropped.
    void post(std::function<void()> job) override;
    void postAfter(std::chrono::milliseconds delay, std::function<void()> job) override;
};

} // namespace halvex
