#pragma once
// Small text, list and path operations the engine's stages share.

#include "platform/system/Outcome.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace murmex {

/// The text without the leading and trailing "<", "|" and ">" characters
/// ("<|en|>" becomes "en"); such characters inside the text stay.
std::string trimmingSpecialTokenCharacters(std::string_view text);

/// The text lower-cased, each "-" made a blank, punctuation removed (the
/// text around it closes up), runs of blanks made one, and white space and
/// line breaks trimmed from both ends.
std::string normalized(std::string_view text);

/// The path with a leading "~" expanded, made absolute against the current
/// working directory.
std::string resolveAbsolutePath(std::string_view path);

/// Each success replaced by its value and each failure by absent, in order.
template <typename T>
std::vector<std::optional<T>>
toOptionalArrays(const std::vector<platform::system::Outcome<T>>& outcomes) {
    std::vector<std::optional<T>> values;
    values.reserve(outcomes.size());
    for (const auto& outcome : outcomes) {
        values.push_back(outcome.ok() ? std::optional<T>(outcome.get()) : std::nullopt);
    }
    return values;
}

} // namespace murmex
