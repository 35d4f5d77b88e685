#include "halvex_zovuruv/core/Clock.h"

namespace halvex {

namespace {
class SystemClock final : public Clock {
public:
    std::chrono::steady_clock::time_point monotonicNow() override {
        return std::chrono::steady_clock::now();
    }
    std::chrono::system_clock::time_point now() override {
        return std::chrono::system_clock::now();
    }
};
} // namespace

std::shared_ptr<Clock> Clock::system() {
    static const std::shared_ptr<Clock> clock = std::make_shared<SystemClock>();
    return clock;
}

} // namespace halvex
