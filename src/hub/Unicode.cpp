#include "hub/Unicode.h"

#include <memory>
#include <stdexcept>
#include <unicode/brkiter.h>
#include <unicode/bytestream.h>
#include <unicode/normalizer2.h>
#include <unicode/ucasemap.h>
#include <unicode/uchar.h>
#include <unicode/utext.h>

namespace hub::unicode {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Length of the well-formed sequence at `pos`, or 0 when the bytes there do
// not start one. Follows the Unicode table of well-formed byte sequences.
std::size_t validSequenceAt(std::string_view s, std::size_t pos) {
    auto b = [&](std::size_t k) -> unsigned { return static_cast<unsigned char>(s[pos + k]); };
    const std::size_t left = s.size() - pos;
    const unsigned lead = b(0);
    if (lead < 0x80) return 1;
    if (lead < 0xC2) return 0;
    if (lead < 0xE0) return left >= 2 && (b(1) & 0xC0) == 0x80 ? 2 : 0;
    if (lead < 0xF0) {
        if (left < 3) return 0;
        const unsigned lo = lead == 0xE0 ? 0xA0 : 0x80, hi = lead == 0xED ? 0x9F : 0xBF;
        return b(1) >= lo && b(1) <= hi && (b(2) & 0xC0) == 0x80 ? 3 : 0;
    }
    if (lead < 0xF5) {
        if (left < 4) return 0;
        const unsigned lo = lead == 0xF0 ? 0x90 : 0x80, hi = lead == 0xF4 ? 0x8F : 0xBF;
        return b(1) >= lo && b(1) <= hi && (b(2) & 0xC0) == 0x80 && (b(3) & 0xC0) == 0x80 ? 4 : 0;
    }
    return 0;
}

// Length of the maximal subpart of an ill-formed sequence at `pos` (at least 1).
std::size_t maximalSubpart(std::string_view s, std::size_t pos) {
    const unsigned lead = static_cast<unsigned char>(s[pos]);
    std::size_t need;
    unsigned lo = 0x80, hi = 0xBF;
    if (lead >= 0xC2 && lead < 0xE0)
        need = 2;
    else if (lead >= 0xE0 && lead < 0xF0) {
        need = 3;
        if (lead == 0xE0) lo = 0xA0;
        if (lead == 0xED) hi = 0x9F;
    } else if (lead >= 0xF0 && lead < 0xF5) {
        need = 4;
        if (lead == 0xF0) lo = 0x90;
        if (lead == 0xF4) hi = 0x8F;
    } else {
        return 1;
    }
    std::size_t k = 1;
    while (k < need && pos + k < s.size()) {
        const unsigned c = static_cast<unsigned char>(s[pos + k]);
        if (k == 1 ? (c < lo || c > hi) : (c & 0xC0) != 0x80) break;
        ++k;
    }
    return k;
}

bool isPlainBelow0300(std::string_view text) {
    // Code points below U+0300 never join into larger clusters, except CR LF.
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') return false;
            continue;
        }
        if (c >= 0xCC) return false; // lead bytes from U+0300 upwards
    }
    return true;
}

struct UTextCloser {
    void operator()(UText* t) const { utext_close(t); }
};

icu::BreakIterator& characterIterator() {
    thread_local std::unique_ptr<icu::BreakIterator> iterator = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> it(
            icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        if (U_FAILURE(status) || !it)
            throw std::runtime_error("cannot create the grapheme cluster iterator");
        return it;
    }();
    return *iterator;
}

template <typename Fn> void forEachIcuBoundary(std::string_view text, Fn&& fn) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UText, UTextCloser> ut(
        utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status));
    if (U_FAILURE(status)) throw std::runtime_error("cannot open text for grapheme iteration");
    auto& it = characterIterator();
    it.setText(ut.get(), status);
    if (U_FAILURE(status)) throw std::runtime_error("cannot iterate grapheme clusters");
    for (int32_t b = it.first(); b != icu::BreakIterator::DONE; b = it.next()) {
        if (!fn(static_cast<std::size_t>(b))) break;
    }
    // Detach the shared iterator from the soon-closed text.
    it.setText(icu::UnicodeString());
}

} // namespace

bool isValidUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        if (static_cast<unsigned char>(text[i]) < 0x80) {
            ++i;
            continue;
        }
        const std::size_t n = validSequenceAt(text, i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

std::string repairUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = validSequenceAt(text, i);
        if (n) {
            out.append(text.substr(i, n));
            i += n;
        } else {
            appendUtf8(out, kReplacement);
            i += maximalSubpart(text, i);
        }
    }
    return out;
}

std::size_t sequenceLength(unsigned char lead) {
    if (lead < 0xC0) return 1;
    if (lead < 0xE0) return 2;
    if (lead < 0xF0) return 3;
    if (lead < 0xF8) return 4;
    return 1;
}

char32_t decodeNext(std::string_view s, std::size_t& pos) {
    const unsigned lead = static_cast<unsigned char>(s[pos]);
    if (lead < 0x80) {
        ++pos;
        return lead;
    }
    const std::size_t n = sequenceLength(static_cast<unsigned char>(lead));
    if (n == 1 || pos + n > s.size()) {
        ++pos;
        return kReplacement;
    }
    char32_t cp = lead & (0x7F >> n);
    for (std::size_t k = 1; k < n; ++k) {
        const unsigned c = static_cast<unsigned char>(s[pos + k]);
        if ((c & 0xC0) != 0x80) {
            ++pos;
            return kReplacement;
        }
        cp = (cp << 6) | (c & 0x3F);
    }
    pos += n;
    return cp;
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x110000) {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        appendUtf8(out, kReplacement);
    }
}

std::vector<std::size_t> graphemeBoundaries(std::string_view text) {
    std::vector<std::size_t> bounds;
    if (isPlainBelow0300(text)) {
        bounds.reserve(text.size() + 1);
        for (std::size_t i = 0; i < text.size();
             i += sequenceLength(static_cast<unsigned char>(text[i])))
            bounds.push_back(i);
        bounds.push_back(text.size());
        return bounds;
    }
    forEachIcuBoundary(text, [&](std::size_t b) {
        bounds.push_back(b);
        return true;
    });
    if (bounds.empty() || bounds.back() != text.size()) bounds.push_back(text.size());
    return bounds;
}

std::size_t graphemeCount(std::string_view text) {
    return graphemeBoundaries(text).size() - 1;
}

std::size_t nextGraphemeBoundary(std::string_view text, std::size_t pos) {
    if (pos >= text.size()) return text.size();
    const std::string_view rest = text.substr(pos);
    const unsigned char c = static_cast<unsigned char>(rest[0]);
    // Fast path: an ASCII character other than CR followed by an ASCII byte.
    if (c < 0x80 && c != '\r' && (rest.size() == 1 || static_cast<unsigned char>(rest[1]) < 0x80))
        return pos + 1;
    std::size_t end = text.size();
    int seen = 0;
    forEachIcuBoundary(rest, [&](std::size_t b) {
        if (++seen == 2) {
            end = pos + b;
            return false;
        }
        return true;
    });
    return end;
}

std::string normalize(std::string_view text, NormalizationForm form) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* n = nullptr;
    switch (form) {
    case NormalizationForm::nfc:
        n = icu::Normalizer2::getNFCInstance(status);
        break;
    case NormalizationForm::nfd:
        n = icu::Normalizer2::getNFDInstance(status);
        break;
    case NormalizationForm::nfkc:
        n = icu::Normalizer2::getNFKCInstance(status);
        break;
    case NormalizationForm::nfkd:
        n = icu::Normalizer2::getNFKDInstance(status);
        break;
    }
    if (U_FAILURE(status)) throw std::runtime_error("Unicode normalization data is unavailable");
    const std::string input = isValidUtf8(text) ? std::string(text) : repairUtf8(text);
    std::string out;
    icu::StringByteSink<std::string> sink(&out, static_cast<int32_t>(input.size()));
    n->normalizeUTF8(0, icu::StringPiece(input.data(), static_cast<int32_t>(input.size())), sink,
                     nullptr, status);
    if (U_FAILURE(status)) throw std::runtime_error("Unicode normalization failed");
    return out;
}

namespace {

using CaseMapping = int32_t (*)(const UCaseMap*, char*, int32_t, const char*, int32_t, UErrorCode*);

std::string mapCase(std::string_view text, CaseMapping mapping) {
    const std::string input = isValidUtf8(text) ? std::string(text) : repairUtf8(text);
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UCaseMap, decltype(&ucasemap_close)> map(ucasemap_open("", 0, &status),
                                                             &ucasemap_close);
    if (U_FAILURE(status)) throw std::runtime_error("case mapping is unavailable");
    std::string out(input.size() + 16, '\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        status = U_ZERO_ERROR;
        const int32_t n = mapping(map.get(), out.data(), static_cast<int32_t>(out.size()),
                                  input.data(), static_cast<int32_t>(input.size()), &status);
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            out.assign(static_cast<std::size_t>(n) + 1, '\0');
            continue;
        }
        if (U_FAILURE(status)) throw std::runtime_error("case mapping failed");
        out.resize(static_cast<std::size_t>(n));
        return out;
    }
    throw std::runtime_error("case mapping failed");
}

bool isAscii(std::string_view text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

} // namespace

std::string toLower(std::string_view text) {
    if (isAscii(text)) {
        std::string out(text);
        for (char& c : out)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        return out;
    }
    return mapCase(text, &ucasemap_utf8ToLower);
}

std::string toUpper(std::string_view text) {
    if (isAscii(text)) {
        std::string out(text);
        for (char& c : out)
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        return out;
    }
    return mapCase(text, &ucasemap_utf8ToUpper);
}

bool isWhiteSpace(char32_t cp) {
    return u_hasBinaryProperty(static_cast<UChar32>(cp), UCHAR_WHITE_SPACE);
}

bool isUppercaseLetter(char32_t cp) {
    const auto t = u_charType(static_cast<UChar32>(cp));
    return t == U_UPPERCASE_LETTER || t == U_TITLECASE_LETTER;
}

bool isSpaceSeparatorOrTab(char32_t cp) {
    return cp == U'\t' || u_charType(static_cast<UChar32>(cp)) == U_SPACE_SEPARATOR;
}

bool isAlphanumeric(char32_t cp) {
    const auto mask = U_GET_GC_MASK(static_cast<UChar32>(cp));
    return (mask & (U_GC_L_MASK | U_GC_M_MASK | U_GC_N_MASK)) != 0;
}

} // namespace hub::unicode
