#pragma once
// Where something was found last time in a list that is searched again and
// again: the next search tries that position first. Only a hint, checked on
// every use, so renders on other threads may overwrite it at any time.

#include <atomic>
#include <cstdint>

namespace jinja {

class PositionHint {
public:
    PositionHint() = default;
    PositionHint(const PositionHint& other) noexcept : at_(other.get()) {}
    PositionHint& operator=(const PositionHint& other) noexcept {
        set(other.get());
        return *this;
    }
    std::uint32_t get() const noexcept { return at_.load(std::memory_order_relaxed); }
    void set(std::uint32_t at) const noexcept { at_.store(at, std::memory_order_relaxed); }

private:
    mutable std::atomic<std::uint32_t> at_{0};
};

} // namespace jinja
