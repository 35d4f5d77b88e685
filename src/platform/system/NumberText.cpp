#include "platform/system/NumberText.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string_view>
#include <system_error>

namespace platform::system {

namespace {

// Lays out the shortest digits of `value` (from the C++ library's shortest
// scientific conversion) in decimal or exponential notation.
template <typename T> std::string layOut(T value, T exponentialAbove) {
    if (std::isnan(value)) return std::signbit(value) ? "-nan" : "nan";
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";

    char buffer[64];
    auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
    std::string_view text(buffer, static_cast<size_t>(result.ptr - buffer));

    // text is "[-]d[.ddd]e(+|-)xx"
    std::string out;
    bool negative = !text.empty() && text.front() == '-';
    if (negative) text.remove_prefix(1);
    size_t ePos = text.find('e');
    std::string digits;
    for (char c : text.substr(0, ePos)) {
        if (c != '.') digits += c;
    }
    int exponent = 0;
    std::string_view exponentText = text.substr(ePos + 1);
    std::from_chars(exponentText.data() + (exponentText.front() == '+' ? 1 : 0),
                    exponentText.data() + exponentText.size(), exponent);

    if (negative) out += '-';
    T magnitude = std::fabs(value);
    bool exponential = value != 0 && (exponent < -4 || magnitude > exponentialAbove);
    if (exponential) {
        out += digits[0];
        if (digits.size() > 1) {
            out += '.';
            out.append(digits, 1, std::string::npos);
        }
        out += 'e';
        out += exponent < 0 ? '-' : '+';
        int absExponent = std::abs(exponent);
        if (absExponent < 10) out += '0';
        out += std::to_string(absExponent);
        return out;
    }
    if (exponent >= 0) {
        size_t integerDigits = static_cast<size_t>(exponent) + 1;
        if (digits.size() <= integerDigits) {
            out += digits;
            out.append(integerDigits - digits.size(), '0');
            out += ".0";
        } else {
            out.append(digits, 0, integerDigits);
            out += '.';
            out.append(digits, integerDigits, std::string::npos);
        }
    } else {
        out += "0.";
        out.append(static_cast<size_t>(-exponent - 1), '0');
        out += digits;
    }
    return out;
}

} // namespace

std::string shortestText(double value) {
    return layOut<double>(value, 9007199254740992.0);
}

std::string shortestText(float value) {
    return layOut<float>(value, 16777216.0f);
}

} // namespace platform::system
