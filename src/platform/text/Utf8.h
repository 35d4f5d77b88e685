#pragma once
// UTF-8 bytes and code points: checking, repairing, decoding and encoding.
//
// Ill-formed input is handled the way the Unicode standard recommends: each
// maximal subpart of an ill-formed sequence (the longest prefix of a valid
// sequence, or a single byte) stands for one U+FFFD. Decoding a text and
// repairing it therefore agree on where the replacement characters are.

#include <cstddef>
#include <string>
#include <string_view>

namespace platform::text {

inline constexpr char32_t kReplacementCharacter = U'\uFFFD';
inline constexpr std::string_view kReplacementCharacterUtf8 = "\xEF\xBF\xBD";

/// True when every byte of `text` is below 0x80.
bool isAscii(std::string_view text) noexcept;

/// True when `text` is well-formed UTF-8.
bool isValidUtf8(std::string_view text) noexcept;

/// `text` with every maximal ill-formed subpart replaced by U+FFFD, so the
/// result is always well-formed UTF-8. Well-formed text comes back unchanged.
std::string repairUtf8(std::string_view text);

/// True when `text` is well-formed and all its code points lie below U+0300,
/// where the combining marks begin: such text is in NFC, and apart from CR LF
/// each of its code points is a character of its own.
inline bool isBelowCombiningMarks(std::string_view text) noexcept {
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n;) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        // Two-byte sequences led by 0xC2-0xCB encode U+0080-U+02FF.
        if (c < 0xC2 || c > 0xCB || i + 1 >= n ||
            (static_cast<unsigned char>(text[i + 1]) & 0xC0) != 0x80)
            return false;
        i += 2;
    }
    return true;
}

namespace detail {
char32_t decodeNonAscii(std::string_view text, std::size_t& pos, bool allowSurrogates) noexcept;

// ASCII and two-byte sequences (Latin, Greek, Cyrillic, Hebrew, Arabic and
// the byte-level alphabets of tokenizers) decode inline.
inline char32_t decode(std::string_view text, std::size_t& pos, bool allowSurrogates) noexcept {
    const auto lead = static_cast<unsigned char>(text[pos]);
    if (lead < 0x80) {
        ++pos;
        return lead;
    }
    if (lead >= 0xC2 && lead < 0xE0 && pos + 1 < text.size()) {
        const auto trail = static_cast<unsigned char>(text[pos + 1]);
        if ((trail & 0xC0) == 0x80) {
            pos += 2;
            return static_cast<char32_t>(((lead & 0x1F) << 6) | (trail & 0x3F));
        }
    }
    return decodeNonAscii(text, pos, allowSurrogates);
}
} // namespace detail

/// Decodes the code point that starts at byte offset `pos` and advances `pos`
/// past it. An ill-formed sequence decodes as U+FFFD and `pos` moves past its
/// maximal subpart, so a walk always ends. `pos` must be below `text.size()`.
inline char32_t decodeNext(std::string_view text, std::size_t& pos) noexcept {
    return detail::decode(text, pos, false);
}

/// Like decodeNext, but also reads the three-byte form of a surrogate code
/// point (what appendUtf8AllowingSurrogates writes for one), so text built from
/// UTF-16 code units that hold a lone surrogate reads back unchanged.
inline char32_t decodeNextAllowingSurrogates(std::string_view text, std::size_t& pos) noexcept {
    return detail::decode(text, pos, true);
}

/// Decodes the code point that ends at byte offset `pos` and moves `pos` back
/// to its start. A byte that does not end a well-formed sequence reads as
/// U+FFFD and `pos` moves back by one. `pos` must be above 0.
char32_t decodePrevious(std::string_view text, std::size_t& pos) noexcept;

/// Where the code point that holds the byte at `pos` begins: `pos` moved back
/// over at most three continuation bytes.
inline std::size_t codePointStart(std::string_view text, std::size_t pos) noexcept {
    for (int k = 0; k < 3 && pos > 0 && (static_cast<unsigned char>(text[pos]) & 0xC0) == 0x80; ++k)
        --pos;
    return pos;
}

/// The first code point of `text`, or 0 for empty text.
inline char32_t firstCodePoint(std::string_view text) noexcept {
    std::size_t pos = 0;
    return text.empty() ? 0 : decodeNext(text, pos);
}

/// Number of code points, each maximal ill-formed subpart counting as one.
std::size_t codePointCount(std::string_view text) noexcept;

/// Appends the UTF-8 form of `codePoint`; surrogates and values above
/// U+10FFFF are written as U+FFFD, so the output stays well-formed.
void appendUtf8(std::string& out, char32_t codePoint);

/// Appends the UTF-8 form of `codePoint`, writing a surrogate in the
/// three-byte form its value would take; values above U+10FFFF become U+FFFD.
void appendUtf8AllowingSurrogates(std::string& out, char32_t codePoint);

/// `text` without the leading (when `front`) and trailing (when `back`) code
/// points for which `strip` holds; a view into `text`.
template <class Predicate>
std::string_view trimCodePoints(std::string_view text, Predicate strip, bool front = true,
                                bool back = true) {
    // An ASCII byte is a whole code point wherever it stands (it is never
    // part of a longer sequence), so ends made of ASCII need no decoding.
    auto ascii = [&](std::size_t at) { return static_cast<unsigned char>(text[at]) < 0x80; };
    std::size_t begin = 0, end = text.size();
    if (front) {
        while (begin < end) {
            if (ascii(begin)) {
                if (!strip(static_cast<char32_t>(text[begin]))) break;
                ++begin;
                continue;
            }
            std::size_t next = begin;
            if (!strip(decodeNext(text, next))) break;
            begin = next;
        }
    }
    if (back) {
        while (end > begin) {
            if (ascii(end - 1)) {
                if (!strip(static_cast<char32_t>(text[end - 1]))) break;
                --end;
                continue;
            }
            std::size_t previous = end;
            if (!strip(decodePrevious(text, previous)) || previous < begin) break;
            end = previous;
        }
    }
    return text.substr(begin, end - begin);
}

} // namespace platform::text
