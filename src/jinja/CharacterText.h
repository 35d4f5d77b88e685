#pragma once

#include "platform/text/Graphemes.h"
#include "platform/text/UnicodeProperties.h"
#include "platform/text/Utf8.h"

#include <algorithm>
#include <cstddef>
#include <string_view>
#include <vector>

namespace jinja {

// A text indexed by character (grapheme cluster) rather than by byte, for
// the lexer and the whitespace rewrites. Text that is ASCII without a CR LF
// pair is indexed directly; other text through a table of boundaries.
class CharacterText {
public:
    explicit CharacterText(std::string_view text) : text_(text) {
        identity_ = platform::text::isAscii(text) && text.find("\r\n") == std::string_view::npos;
        if (!identity_) bounds_ = platform::text::graphemeBoundaries(text);
    }

    std::string_view text() const noexcept { return text_; }
    std::size_t size() const noexcept { return identity_ ? text_.size() : bounds_.size() - 1; }
    std::size_t begin(std::size_t i) const noexcept { return identity_ ? i : bounds_[i]; }

    // The character at i when it is a single ASCII byte, otherwise 0; also 0 past the end.
    char ascii(std::size_t i) const noexcept {
        if (i >= size()) return 0;
        if (identity_) return text_[i];
        std::size_t b = bounds_[i];
        if (bounds_[i + 1] - b != 1) return 0;
        char c = text_[b];
        return static_cast<unsigned char>(c) < 0x80 ? c : 0;
    }

    // The characters i up to (not including) j.
    std::string_view slice(std::size_t i, std::size_t j) const noexcept {
        return text_.substr(begin(i), begin(j) - begin(i));
    }
    std::string_view at(std::size_t i) const noexcept { return slice(i, i + 1); }

    // The first code point of character i.
    char32_t first(std::size_t i) const noexcept {
        std::size_t offset = begin(i);
        return platform::text::decodeNext(text_, offset);
    }

    bool isWhiteSpace(std::size_t i) const noexcept {
        return i < size() && platform::text::isWhiteSpace(first(i));
    }

    // The first character index at or after `from` where the characters spell
    // the ASCII text `s`, or npos.
    std::size_t find(std::string_view s, std::size_t from) const noexcept {
        if (identity_) return text_.find(s, from);
        for (std::size_t b = text_.find(s, begin(std::min(from, size())));
             b != std::string_view::npos; b = text_.find(s, b + 1)) {
            auto it = std::lower_bound(bounds_.begin(), bounds_.end(), b);
            if (it == bounds_.end() || *it != b) continue;
            auto i = static_cast<std::size_t>(it - bounds_.begin());
            if (matches(i, s)) return i;
        }
        return std::string_view::npos;
    }

    // Whether the characters from i on spell the ASCII text `s`, one character per byte.
    bool matches(std::size_t i, std::string_view s) const noexcept {
        for (std::size_t k = 0; k < s.size(); ++k)
            if (ascii(i + k) != s[k] || s[k] == 0) return false;
        return true;
    }

private:
    std::string_view text_;
    bool identity_ = true;
    std::vector<std::size_t> bounds_;
};

} // namespace jinja
