#include "tessary_core/StringExtensions.h"

#include "platform/text/UnicodeProperties.h"
#include "platform/text/Utf8.h"

#include <algorithm>
#include <array>

namespace tessary {

namespace {

// Byte offset just past the last occurrence of any of `marks`, or npos.
size_t endOfLastMark(std::string_view text, const std::vector<std::string_view>& marks) {
    size_t best = std::string_view::npos;
    for (std::string_view mark : marks) {
        size_t at = text.rfind(mark);
        if (at == std::string_view::npos) continue;
        size_t end = at + mark.size();
        if (best == std::string_view::npos || end > best) best = end;
    }
    return best;
}

} // namespace

std::string trimmingFromEnd(std::string_view text, std::string_view character, int upto) {
    if (character.empty()) return std::string(text);
    for (int removed = 0; removed < upto && text.ends_with(character); ++removed) {
        text.remove_suffix(character.size());
    }
    return std::string(text);
}

std::string trimmingWhitespaceAndNewlines(std::string_view text) {
    return std::string(platform::text::trimCodePoints(text, platform::text::isWhiteSpace));
}

std::optional<std::string>
lastNaturalBoundary(std::string_view text, int minTokenCount,
                    const std::function<std::vector<int>(const std::string&)>& encode) {
    const std::array<std::vector<std::string_view>, 2> boundarySets = {
        std::vector<std::string_view>{".", "!", "?", "\n"},
        std::vector<std::string_view>{",", ";", ":", "-", "\xE2\x80\x93"}, // en dash
    };
    auto longEnough = [&](const std::string& candidate) {
        return static_cast<long long>(encode(candidate).size()) >= minTokenCount;
    };
    for (const auto& marks : boundarySets) {
        size_t end = endOfLastMark(text, marks);
        if (end == std::string_view::npos) continue;
        std::string prefix = trimmingWhitespaceAndNewlines(text.substr(0, end));
        if (longEnough(prefix)) return prefix;
    }
    size_t blank = text.rfind(' ');
    if (blank != std::string_view::npos) {
        std::string prefix = trimmingWhitespaceAndNewlines(text.substr(0, blank));
        if (longEnough(prefix)) return prefix;
    }
    return std::nullopt;
}

} // namespace tessary
