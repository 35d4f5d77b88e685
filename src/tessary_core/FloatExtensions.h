#pragma once

#include <cmath>

namespace tessary {

/// `value` rounded to `decimals` decimal places, halves away from zero,
/// computed in single precision: 1.23456 -> 1.23, 0.125 -> 0.13.
inline float rounded(float value, int decimals) {
    float factor = std::pow(10.0f, static_cast<float>(decimals));
    return std::round(value * factor) / factor;
}

} // namespace tessary
