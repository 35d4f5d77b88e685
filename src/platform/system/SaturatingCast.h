#pragma once
// Floating-point to integer conversion that cannot overflow: the value is
// truncated toward zero, clamped to the integer type's range, and NaN gives 0.

#include <cmath>
#include <concepts>
#include <limits>

namespace platform::system {

template <std::integral Int, std::floating_point Float> constexpr Int saturatingCast(Float value) {
    if (std::isnan(value)) return 0;
    // 2^digits is the first value past the largest Int, and exact in Float.
    const Float upper = std::ldexp(Float(1), std::numeric_limits<Int>::digits);
    if (value >= upper) return std::numeric_limits<Int>::max();
    if (value <= static_cast<Float>(std::numeric_limits<Int>::min()))
        return std::numeric_limits<Int>::min();
    return static_cast<Int>(value);
}

} // namespace platform::system
