#pragma once
// IEEE 754 binary16 storage type with exact round-to-nearest-even conversion
// in both directions. Used for model tensors and the decoder's key-value cache.

#include <bit>
#include <cstdint>
#include <cstring>

namespace platform::system {

class Float16 {
public:
    constexpr Float16() = default;
    Float16(float value) : bits_(fromFloat(value)) {} // NOLINT: implicit like a built-in float
    static constexpr Float16 fromBits(uint16_t bits) {
        Float16 h;
        h.bits_ = bits;
        return h;
    }
    constexpr uint16_t bits() const { return bits_; }
    operator float() const { return toFloat(bits_); } // NOLINT

    // Conversions between binary32 and binary16 bit patterns.
    static uint16_t fromFloat(float value) {
        uint32_t x = std::bit_cast<uint32_t>(value);
        uint32_t sign = (x >> 16) & 0x8000u;
        uint32_t absx = x & 0x7FFFFFFFu;
        if (absx >= 0x7F800000u) { // infinity or NaN
            return static_cast<uint16_t>(sign | (absx > 0x7F800000u ? 0x7E00u : 0x7C00u));
        }
        if (absx >= 0x477FF000u) { // rounds to a value beyond the largest half: infinity
            return static_cast<uint16_t>(sign | 0x7C00u);
        }
        if (absx < 0x38800000u) { // result is subnormal (or zero) in half precision
            if (absx < 0x33000000u)
                return static_cast<uint16_t>(sign); // below half the smallest subnormal
            uint32_t exponent = absx >> 23;
            uint32_t mantissa = (absx & 0x7FFFFFu) | 0x800000u;
            // value = mantissa * 2^(exponent-150) and the subnormal unit is
            // 2^-24, so 126 - exponent low bits are dropped (14..24 of them).
            uint32_t shift = 126u - exponent;
            uint32_t result = mantissa >> shift;
            uint32_t remainder = mantissa & ((1u << shift) - 1u);
            uint32_t halfway = 1u << (shift - 1u);
            if (remainder > halfway || (remainder == halfway && (result & 1u))) ++result;
            return static_cast<uint16_t>(sign | result);
        }
        // Normal range: rebias the exponent and round the 13 dropped bits.
        uint32_t result = ((absx - 0x38000000u) >> 13);
        uint32_t remainder = absx & 0x1FFFu;
        if (remainder > 0x1000u || (remainder == 0x1000u && (result & 1u))) ++result;
        return static_cast<uint16_t>(sign | result);
    }

    static float toFloat(uint16_t h) {
        uint32_t sign = static_cast<uint32_t>(h & 0x8000u) << 16;
        uint32_t exponent = (h >> 10) & 0x1Fu;
        uint32_t mantissa = h & 0x3FFu;
        uint32_t bits;
        if (exponent == 0x1F) {
            bits = sign | 0x7F800000u | (mantissa << 13);
        } else if (exponent != 0) {
            bits = sign | ((exponent + 112u) << 23) | (mantissa << 13);
        } else if (mantissa == 0) {
            bits = sign;
        } else { // subnormal: normalise
            int e = -1;
            do {
                ++e;
                mantissa <<= 1;
            } while ((mantissa & 0x400u) == 0);
            bits = sign | ((112u - static_cast<uint32_t>(e)) << 23) | ((mantissa & 0x3FFu) << 13);
        }
        return std::bit_cast<float>(bits);
    }

    friend constexpr bool operator==(Float16 a, Float16 b) { return a.bits_ == b.bits_; }

private:
    uint16_t bits_ = 0;
};

static_assert(sizeof(Float16) == 2);

/// Half-precision negative infinity and the attention mask value, as bit patterns.
inline constexpr uint16_t kFloat16NegativeInfinityBits = 0xFC00;
inline constexpr uint16_t kFloat16MinusTenThousandBits = 0xF0E2;

} // namespace platform::system
