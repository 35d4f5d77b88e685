#pragma once
// Folds the hashes of several values into one, for records that hash over
// all of their fields.

#include <cstddef>
#include <functional>

namespace murmex {

template <typename T> void hashCombine(std::size_t& seed, const T& value) {
    seed ^= std::hash<T>{}(value) + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
}

template <typename T> void hashCombineRange(std::size_t& seed, const T& range) {
    hashCombine(seed, range.size());
    for (const auto& item : range)
        hashCombine(seed, item);
}

} // namespace murmex
