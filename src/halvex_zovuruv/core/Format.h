#pragma once
// The texts the statistics show for counts and durations.

#include <cstdint>
#include <string>

namespace halvex {

class Format {
public:
    /// The integer with its digits grouped in threes by plain blanks:
    /// 1234567 -> "1 234 567", 999 -> "999", -1000 -> "-1 000".
    static std::string num(int64_t value);

    /// Whole minutes ("59 мин"), or hours and minutes from one hour on
    /// ("2 ч 1 мин"). Seconds are truncated towards zero; NaN counts as
    /// zero and durations beyond the 64-bit range of minutes saturate.
    static std::string hm(double seconds);
};

} // namespace halvex
