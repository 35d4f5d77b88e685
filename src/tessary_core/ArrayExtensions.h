#pragma once
// Small list operations the engine uses in many places.

#include "platform/system/Glob.h"

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace tessary {

/// Consecutive runs of `size` elements in order, the last one shorter; no
/// runs for an empty list. A size of 0 or less is a caller error and throws
/// std::invalid_argument.
template <typename T>
std::vector<std::vector<T>> batched(const std::vector<T>& elements, long long size) {
    if (size <= 0)
        throw std::invalid_argument("batch size must be greater than 0, got " +
                                    std::to_string(size));
    std::vector<std::vector<T>> batches;
    const size_t step = static_cast<size_t>(size);
    batches.reserve((elements.size() + step - 1) / step);
    for (size_t start = 0; start < elements.size(); start += step) {
        size_t end = elements.size() - start > step ? start + step : elements.size();
        batches.emplace_back(elements.begin() + static_cast<std::ptrdiff_t>(start),
                             elements.begin() + static_cast<std::ptrdiff_t>(end));
    }
    return batches;
}

/// The elements without repeats, in the order of their first occurrence.
template <typename T, typename Hash = std::hash<T>>
std::vector<T> orderedSet(const std::vector<T>& elements) {
    std::unordered_set<T, Hash> seen;
    std::vector<T> result;
    for (const T& element : elements) {
        if (seen.insert(element).second) result.push_back(element);
    }
    return result;
}

/// The strings that match the shell-style pattern (fnmatch, no flags), in order.
inline std::vector<std::string> matching(const std::vector<std::string>& names,
                                         std::string_view glob) {
    std::vector<std::string> result;
    for (const auto& name : names) {
        if (platform::system::globMatches(glob, name)) result.push_back(name);
    }
    return result;
}

} // namespace tessary
