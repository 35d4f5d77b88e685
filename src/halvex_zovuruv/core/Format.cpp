#include "halvex_zovuruv/core/Format.h"

#include "platform/system/SaturatingCast.h"

#include <string>

namespace halvex {

std::string Format::num(int64_t value) {
    // The magnitude as unsigned, so the most negative value has one too.
    const bool negative = value < 0;
    const uint64_t magnitude =
        negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    const std::string digits = std::to_string(magnitude);
    std::string text = negative ? "-" : "";
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) text += ' ';
        text += digits[i];
    }
    return text;
}

std::string Format::hm(double seconds) {
    const int64_t minutes = platform::system::saturatingCast<int64_t>(seconds / 60.0);
    if (minutes < 60) return std::to_string(minutes) + " мин";
    return std::to_string(minutes / 60) + " ч " + std::to_string(minutes % 60) + " мин";
}

} // namespace halvex
