#pragma once
// Shortest round-trip text of binary floating-point numbers:
//
//   - the fewest significant digits that read back to the same value;
//   - whole numbers keep one fractional digit ("2.0", "-0.0");
//   - plain decimal notation from 1e-4 up to a largest magnitude, exponential
//     notation outside it ("1e-05", "1.6777218e+07"), with at least two
//     exponent digits;
//   - "inf", "-inf", "nan" ("-nan" when the sign bit is set).
//
// The largest plain magnitude is by default the largest at which every
// integer is still exact (2^53 for doubles, 2^24 for floats), the way the
// engine prints its logs and results; the template engine passes its own.
// A float is printed from its own value, so 0.1f reads "0.1", not the digits
// of the double it widens to.

#include <string>

namespace platform::text {

inline constexpr double kLargestExactDouble = 9007199254740992.0; // 2^53
inline constexpr float kLargestExactFloat = 16777216.0f;          // 2^24

/// Appends the text of `value`, written in plain decimal notation when its
/// magnitude lies from 1e-4 up to and including `largestPlain`.
void appendShortestText(std::string& out, double value, double largestPlain = kLargestExactDouble);

std::string shortestText(double value, double largestPlain = kLargestExactDouble);
std::string shortestText(float value);

} // namespace platform::text
