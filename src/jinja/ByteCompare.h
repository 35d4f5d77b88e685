#pragma once
// Equality of short byte strings without a library call: names and keys are
// a few bytes long, where calling memcmp costs more than comparing.

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace jinja {

[[gnu::always_inline]] inline bool sameBytes(std::string_view a, std::string_view b) noexcept {
    const std::size_t n = a.size();
    if (n != b.size()) return false;
    const char* x = a.data();
    const char* y = b.data();
    if (n >= 8) {
        if (n > 16) return std::memcmp(x, y, n) == 0;
        // Two eight-byte words that overlap when n < 16.
        std::uint64_t x0, y0, x1, y1;
        std::memcpy(&x0, x, 8);
        std::memcpy(&y0, y, 8);
        std::memcpy(&x1, x + n - 8, 8);
        std::memcpy(&y1, y + n - 8, 8);
        return ((x0 ^ y0) | (x1 ^ y1)) == 0;
    }
    if (n >= 4) {
        std::uint32_t x0, y0, x1, y1;
        std::memcpy(&x0, x, 4);
        std::memcpy(&y0, y, 4);
        std::memcpy(&x1, x + n - 4, 4);
        std::memcpy(&y1, y + n - 4, 4);
        return ((x0 ^ y0) | (x1 ^ y1)) == 0;
    }
    for (std::size_t i = 0; i < n; ++i)
        if (x[i] != y[i]) return false;
    return true;
}

// The first eight bytes of a text, zero-padded: two texts of up to eight
// bytes are equal exactly when their lengths and heads are.
inline std::uint64_t textHead(std::string_view text) noexcept {
    std::uint64_t head = 0;
    for (std::size_t i = 0; i < text.size() && i < 8; ++i)
        head |= std::uint64_t{static_cast<unsigned char>(text[i])} << (8 * i);
    return head;
}

// sameBytes for texts whose heads are known: texts of up to eight bytes are
// compared without reading them.
inline bool sameBytes(const std::string& a, std::uint64_t aHead, std::string_view b,
                      std::uint64_t bHead) noexcept {
    return aHead == bHead && a.size() == b.size() && (b.size() <= 8 || sameBytes(a, b));
}

} // namespace jinja
