#pragma once

#include <cstddef>
#include <cstdint>

namespace jinja {

// Order-dependent combination of hash values.
struct Hasher {
    std::size_t state = 0x84222325cbf29ce4ull;

    void feed(std::size_t value) noexcept {
        state ^= value + 0x9e3779b97f4a7c15ull + (state << 6) + (state >> 2);
    }
};

} // namespace jinja
