#pragma once
// Shortest round-trip text of binary floating-point numbers, the way values
// are printed throughout the engine's logs and results:
//
//   - the fewest significant digits that read back to the same value;
//   - whole numbers keep one fractional digit ("2.0", "-0.0");
//   - plain decimal notation from 1e-4 up to the largest magnitude at which
//     every integer is still exact (2^53 for doubles, 2^24 for floats),
//     exponential notation outside it ("1e-05", "1.6777218e+07"), with at
//     least two exponent digits;
//   - "inf", "-inf", "nan".
//
// A float is printed from its own value, so 0.1f reads "0.1", not the digits
// of the double it widens to.

#include <string>

namespace platform::system {

std::string shortestText(double value);
std::string shortestText(float value);

} // namespace platform::system
