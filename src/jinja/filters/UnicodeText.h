#pragma once

// Text services of the built-ins on top of jinja/Unicode.h: locale-independent
// case mapping, locale-free ordering, the whitespace sets the built-ins name,
// and trimming and splitting by code point. Every function takes and returns
// UTF-8; ASCII-only input takes fast paths that never reach ICU.

#include "jinja/Unicode.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace jinja::text {

// The services the lexer and the values share, under the names the built-ins use.
using unicode::appendUtf8;
using unicode::canonicallyEqual;
using unicode::isAscii;
using unicode::isWhiteSpace;
inline char32_t decodeUtf8(std::string_view s, std::size_t& i) noexcept {
    return unicode::decodeNext(s, i);
}
inline std::string nfc(std::string_view s) {
    return unicode::toNFC(s);
}
inline std::vector<std::size_t> graphemeBoundaries(std::string_view s) {
    return unicode::characterBoundaries(s);
}
inline std::size_t graphemeCount(std::string_view s) {
    return unicode::characterCount(s);
}
// The characters themselves, as views into s.
std::vector<std::string_view> graphemes(std::string_view s);

// Full Unicode case mappings, independent of any locale (sharp s upper-cases to SS).
std::string toUpper(std::string_view s);
std::string toLower(std::string_view s);
// Upper-cases the first letter of every word and lower-cases the rest.
std::string toTitle(std::string_view s);
// First user-perceived character upper-cased, the rest lower-cased.
std::string capitalize(std::string_view s);
// Upper-cases only the first character, keeping the rest unchanged.
std::string upperFirst(std::string_view s);

// Three-way order of two texts by the code points of their composed forms,
// optionally ignoring case (full case folding); independent of any locale.
int compareText(std::string_view a, std::string_view b, bool ignoreCase = false);

// General category Z, U+0009..U+000D and U+0085: the set used for trimming.
bool isSpaceOrNewline(char32_t c) noexcept;
// U+000A..U+000D, U+0085, U+2028, U+2029.
bool isNewline(char32_t c) noexcept;
// Space separators: general category Zs plus the tab.
bool isSpaceLike(char32_t c) noexcept;
// The regular-expression class \s: tab, line feed, form feed, carriage return,
// vertical tab and general category Z.
bool isRegexSpace(char32_t c) noexcept;

// Removes from both ends (or one end) every scalar for which pred holds.
template <class Pred>
std::string_view trimScalars(std::string_view s, Pred pred, bool front = true, bool back = true) {
    std::size_t b = 0, e = s.size();
    if (front) {
        while (b < e) {
            std::size_t i = b;
            if (!pred(decodeUtf8(s, i))) break;
            b = i;
        }
    }
    if (back) {
        while (e > b) {
            std::size_t start = e - 1;
            while (start > b && (static_cast<unsigned char>(s[start]) & 0xC0) == 0x80)
                --start;
            std::size_t i = start;
            if (!pred(decodeUtf8(s, i))) break;
            e = start;
        }
    }
    return s.substr(b, e - b);
}

// Splits at every scalar for which pred holds, dropping empty pieces.
template <class Pred> std::vector<std::string_view> splitScalars(std::string_view s, Pred pred) {
    std::vector<std::string_view> out;
    std::size_t start = 0, i = 0;
    while (i < s.size()) {
        std::size_t at = i;
        char32_t c = decodeUtf8(s, i);
        if (pred(c)) {
            if (at > start) out.push_back(s.substr(start, at - start));
            start = i;
        }
    }
    if (s.size() > start) out.push_back(s.substr(start));
    return out;
}

} // namespace jinja::text
