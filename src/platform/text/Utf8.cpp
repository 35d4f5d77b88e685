#include "platform/text/Utf8.h"

#include <cstdint>
#include <cstring>

namespace platform::text {

namespace {

// The bytes a sequence led by `lead` needs in all, and the range its second
// byte must lie in (the table of well-formed byte sequences: it rules out
// overlong forms, surrogates and values above U+10FFFF). Zero for a byte that
// cannot lead a sequence.
struct LeadByte {
    unsigned length;
    unsigned secondLow, secondHigh;
};

constexpr LeadByte leadByte(unsigned lead, bool allowSurrogates) noexcept {
    if (lead < 0xC2) return {0, 0, 0};
    if (lead < 0xE0) return {2, 0x80, 0xBF};
    if (lead == 0xE0) return {3, 0xA0, 0xBF};
    if (lead == 0xED) return {3, 0x80, allowSurrogates ? 0xBFu : 0x9Fu};
    if (lead < 0xF0) return {3, 0x80, 0xBF};
    if (lead == 0xF0) return {4, 0x90, 0xBF};
    if (lead < 0xF4) return {4, 0x80, 0xBF};
    if (lead == 0xF4) return {4, 0x80, 0x8F};
    return {0, 0, 0};
}

// Length of the well-formed sequence at `pos` (at least one byte there), or
// of the maximal ill-formed subpart there, negated.
long sequenceAt(std::string_view s, std::size_t pos, bool allowSurrogates) noexcept {
    const auto lead = static_cast<unsigned char>(s[pos]);
    if (lead < 0x80) return 1;
    const LeadByte rule = leadByte(lead, allowSurrogates);
    if (rule.length == 0) return -1;
    std::size_t k = 1;
    for (; k < rule.length && pos + k < s.size(); ++k) {
        const auto c = static_cast<unsigned char>(s[pos + k]);
        const bool fits = k == 1 ? c >= rule.secondLow && c <= rule.secondHigh : (c & 0xC0) == 0x80;
        if (!fits) break;
    }
    return k == rule.length ? static_cast<long>(k) : -static_cast<long>(k);
}

// True when a well-formed two-byte sequence (U+0080-U+07FF) starts at `pos`.
bool isTwoByteSequenceAt(std::string_view s, std::size_t pos) noexcept {
    const auto lead = static_cast<unsigned char>(s[pos]);
    return lead >= 0xC2 && lead < 0xE0 && pos + 1 < s.size() &&
           (static_cast<unsigned char>(s[pos + 1]) & 0xC0) == 0x80;
}

void appendEncoded(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        const char bytes[] = {static_cast<char>(0xC0 | (cp >> 6)),
                              static_cast<char>(0x80 | (cp & 0x3F))};
        out.append(bytes, 2);
    } else if (cp < 0x10000) {
        const char bytes[] = {static_cast<char>(0xE0 | (cp >> 12)),
                              static_cast<char>(0x80 | ((cp >> 6) & 0x3F)),
                              static_cast<char>(0x80 | (cp & 0x3F))};
        out.append(bytes, 3);
    } else {
        const char bytes[] = {
            static_cast<char>(0xF0 | (cp >> 18)), static_cast<char>(0x80 | ((cp >> 12) & 0x3F)),
            static_cast<char>(0x80 | ((cp >> 6) & 0x3F)), static_cast<char>(0x80 | (cp & 0x3F))};
        out.append(bytes, 4);
    }
}

} // namespace

bool isAscii(std::string_view text) noexcept {
    // Branch-free over blocks so that the compiler can vectorise it.
    unsigned char any = 0;
    std::size_t i = 0;
    for (; i + 64 <= text.size(); i += 64) {
        for (std::size_t k = 0; k < 64; ++k)
            any |= static_cast<unsigned char>(text[i + k]);
        if (any & 0x80) return false;
    }
    for (; i < text.size(); ++i)
        any |= static_cast<unsigned char>(text[i]);
    return (any & 0x80) == 0;
}

bool isValidUtf8(std::string_view text) noexcept {
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n;) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            // The rest of an ASCII run, eight bytes at a time.
            ++i;
            for (std::uint64_t word; i + 8 <= n; i += 8) {
                std::memcpy(&word, text.data() + i, 8);
                if (word & 0x8080808080808080u) break;
            }
        } else if (isTwoByteSequenceAt(text, i)) {
            i += 2;
        } else {
            const long length = sequenceAt(text, i, false);
            if (length < 0) return false;
            i += static_cast<std::size_t>(length);
        }
    }
    return true;
}

std::string repairUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t clean = 0; // start of the well-formed run not yet copied
    for (std::size_t i = 0; i < text.size();) {
        if (static_cast<unsigned char>(text[i]) < 0x80) {
            ++i;
            continue;
        }
        if (isTwoByteSequenceAt(text, i)) {
            i += 2;
            continue;
        }
        const long n = sequenceAt(text, i, false);
        if (n > 0) {
            i += static_cast<std::size_t>(n);
            continue;
        }
        out.append(text, clean, i - clean);
        out.append(kReplacementCharacterUtf8);
        i += static_cast<std::size_t>(-n);
        clean = i;
    }
    out.append(text, clean);
    return out;
}

namespace detail {

char32_t decodeNonAscii(std::string_view text, std::size_t& pos, bool allowSurrogates) noexcept {
    const long n = sequenceAt(text, pos, allowSurrogates);
    if (n < 0) {
        pos += static_cast<std::size_t>(-n);
        return kReplacementCharacter;
    }
    const auto length = static_cast<std::size_t>(n);
    char32_t cp = static_cast<unsigned char>(text[pos]) & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k)
        cp = (cp << 6) | (static_cast<unsigned char>(text[pos + k]) & 0x3F);
    pos += length;
    return cp;
}

} // namespace detail

char32_t decodePrevious(std::string_view text, std::size_t& pos) noexcept {
    const auto last = static_cast<unsigned char>(text[pos - 1]);
    if (last < 0x80) {
        --pos;
        return last;
    }
    // Back over at most three continuation bytes to a lead byte, then check
    // that the sequence it leads ends exactly at `pos`.
    std::size_t start = pos - 1;
    while (start > 0 && pos - start < 4 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80)
        --start;
    if (sequenceAt(text, start, false) == static_cast<long>(pos - start)) {
        std::size_t at = start;
        const char32_t cp = detail::decodeNonAscii(text, at, false);
        pos = start;
        return cp;
    }
    --pos;
    return kReplacementCharacter;
}

std::size_t codePointCount(std::string_view text) noexcept {
    std::size_t count = 0;
    for (std::size_t i = 0; i < text.size(); ++count)
        decodeNext(text, i);
    return count;
}

void appendUtf8(std::string& out, char32_t codePoint) {
    if (codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
        codePoint = kReplacementCharacter;
    appendEncoded(out, codePoint);
}

void appendUtf8AllowingSurrogates(std::string& out, char32_t codePoint) {
    if (codePoint > 0x10FFFF) codePoint = kReplacementCharacter;
    appendEncoded(out, codePoint);
}

} // namespace platform::text
