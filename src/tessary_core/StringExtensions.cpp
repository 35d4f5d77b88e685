#include "tessary_core/StringExtensions.h"

#include <algorithm>
#include <array>

namespace tessary {

namespace {

// Decodes the code point starting at `pos`; malformed bytes read as one
// U+FFFD each so that scanning always advances.
char32_t decodeAt(std::string_view text, size_t pos, size_t& length) {
    auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    unsigned char lead = byte(pos);
    size_t need = lead < 0x80           ? 1
                  : (lead >> 5) == 0x6  ? 2
                  : (lead >> 4) == 0xE  ? 3
                  : (lead >> 3) == 0x1E ? 4
                                        : 0;
    if (need == 0 || pos + need > text.size()) {
        length = 1;
        return 0xFFFD;
    }
    char32_t cp = need == 1   ? lead
                  : need == 2 ? (lead & 0x1F)
                  : need == 3 ? (lead & 0x0F)
                              : (lead & 0x07);
    for (size_t i = 1; i < need; ++i) {
        if ((byte(pos + i) & 0xC0) != 0x80) {
            length = 1;
            return 0xFFFD;
        }
        cp = (cp << 6) | (byte(pos + i) & 0x3F);
    }
    length = need;
    return cp;
}

bool isWhitespaceOrNewline(char32_t c) {
    if (c == ' ' || (c >= 0x09 && c <= 0x0D)) return true;
    switch (c) {
    case 0x85:
    case 0xA0:
    case 0x1680:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000:
        return true;
    default:
        return c >= 0x2000 && c <= 0x200A;
    }
}

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
    size_t begin = 0;
    while (begin < text.size()) {
        size_t length;
        if (!isWhitespaceOrNewline(decodeAt(text, begin, length))) break;
        begin += length;
    }
    size_t end = begin; // end of the last non-blank character
    for (size_t pos = begin; pos < text.size();) {
        size_t length;
        bool blank = isWhitespaceOrNewline(decodeAt(text, pos, length));
        pos += length;
        if (!blank) end = pos;
    }
    return std::string(text.substr(begin, end - begin));
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
