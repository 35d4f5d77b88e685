#include "platform/text/NumberText.h"

#include <charconv>
#include <cmath>
#include <string_view>

namespace platform::text {

namespace {

// Lays out the shortest digits of `value` (from the C++ library's shortest
// scientific conversion) in decimal or exponential notation.
template <typename T> void layOut(std::string& out, T value, T largestPlain) {
    if (std::isnan(value)) {
        out += std::signbit(value) ? "-nan" : "nan";
        return;
    }
    if (std::isinf(value)) {
        out += value < 0 ? "-inf" : "inf";
        return;
    }

    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
    std::string_view text(buffer, static_cast<std::size_t>(result.ptr - buffer));

    // text is "[-]d[.ddd]e(+|-)xx"
    if (text.front() == '-') {
        out += '-';
        text.remove_prefix(1);
    }
    const std::size_t e = text.find('e');
    const char first = text[0];
    const std::string_view rest = e > 1 ? text.substr(2, e - 2) : std::string_view();
    const std::size_t digitCount = 1 + rest.size();
    int exponent = 0;
    std::string_view exponentText = text.substr(e + 1);
    const bool negativeExponent = exponentText.front() == '-';
    exponentText.remove_prefix(1); // the sign
    std::from_chars(exponentText.data(), exponentText.data() + exponentText.size(), exponent);
    if (negativeExponent) exponent = -exponent;

    const bool exponential = value != 0 && (exponent < -4 || std::fabs(value) > largestPlain);
    if (exponential) {
        out += first;
        if (!rest.empty()) {
            out += '.';
            out += rest;
        }
        out += 'e';
        out += negativeExponent ? '-' : '+';
        if (exponentText.size() < 2) out += '0';
        out += exponentText;
        return;
    }
    if (exponent >= 0) {
        const auto integerDigits = static_cast<std::size_t>(exponent) + 1;
        out += first;
        if (digitCount <= integerDigits) {
            out += rest;
            out.append(integerDigits - digitCount, '0');
            out += ".0";
        } else {
            out += rest.substr(0, integerDigits - 1);
            out += '.';
            out += rest.substr(integerDigits - 1);
        }
    } else {
        out += "0.";
        out.append(static_cast<std::size_t>(-exponent - 1), '0');
        out += first;
        out += rest;
    }
}

} // namespace

void appendShortestText(std::string& out, double value, double largestPlain) {
    layOut<double>(out, value, largestPlain);
}

std::string shortestText(double value, double largestPlain) {
    std::string out;
    layOut<double>(out, value, largestPlain);
    return out;
}

std::string shortestText(float value) {
    std::string out;
    layOut<float>(out, value, kLargestExactFloat);
    return out;
}

} // namespace platform::text
