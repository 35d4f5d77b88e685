#include "jinja/filters/UnicodeText.h"

#include <memory>
#include <stdexcept>
#include <unicode/ucasemap.h>
#include <unicode/uchar.h>

namespace jinja::text {

namespace {

struct CaseMapCloser {
    void operator()(UCaseMap* m) const { ucasemap_close(m); }
};

UCaseMap* rootCaseMap() {
    // One case map per thread: ucasemap_utf8ToTitle keeps a break iterator in it.
    thread_local std::unique_ptr<UCaseMap, CaseMapCloser> map = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<UCaseMap, CaseMapCloser> m(ucasemap_open("", 0, &status));
        if (U_FAILURE(status)) throw std::runtime_error("ICU case map unavailable");
        return m;
    }();
    return map.get();
}

using Utf8Mapper = int32_t (*)(const UCaseMap*, char*, int32_t, const char*, int32_t, UErrorCode*);

std::string mapCase(std::string_view s, Utf8Mapper fn) {
    std::string out(s.size() + 8, '\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        UErrorCode status = U_ZERO_ERROR;
        int32_t n = fn(rootCaseMap(), out.data(), static_cast<int32_t>(out.size()), s.data(),
                       static_cast<int32_t>(s.size()), &status);
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            out.assign(static_cast<std::size_t>(n) + 1, '\0');
            continue;
        }
        if (U_FAILURE(status)) return std::string(s);
        out.resize(static_cast<std::size_t>(n));
        return out;
    }
    return std::string(s);
}

int32_t titleMapper(const UCaseMap* m, char* dst, int32_t cap, const char* src, int32_t len,
                    UErrorCode* st) {
    return ucasemap_utf8ToTitle(const_cast<UCaseMap*>(m), dst, cap, src, len, st);
}

int32_t foldMapper(const UCaseMap* m, char* dst, int32_t cap, const char* src, int32_t len,
                   UErrorCode* st) {
    return ucasemap_utf8FoldCase(m, dst, cap, src, len, st);
}

// Composed form of the full case folding.
std::string foldCase(std::string_view s);

} // namespace

std::vector<std::string_view> graphemes(std::string_view s) {
    std::vector<std::size_t> b = graphemeBoundaries(s);
    std::vector<std::string_view> out;
    out.reserve(b.size());
    for (std::size_t k = 0; k + 1 < b.size(); ++k)
        out.push_back(s.substr(b[k], b[k + 1] - b[k]));
    return out;
}

std::string toUpper(std::string_view s) {
    if (isAscii(s)) {
        std::string out(s);
        for (char& c : out)
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
        return out;
    }
    return mapCase(s, ucasemap_utf8ToUpper);
}

std::string toLower(std::string_view s) {
    if (isAscii(s)) {
        std::string out(s);
        for (char& c : out)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        return out;
    }
    return mapCase(s, ucasemap_utf8ToLower);
}

namespace {
std::string foldCase(std::string_view s) {
    if (isAscii(s)) return toLower(s);
    return nfc(mapCase(nfc(s), foldMapper));
}
} // namespace

std::string toTitle(std::string_view s) {
    return mapCase(s, titleMapper);
}

std::string capitalize(std::string_view s) {
    if (s.empty()) return {};
    std::vector<std::size_t> b = graphemeBoundaries(s);
    std::size_t first = b.size() > 1 ? b[1] : s.size();
    return toUpper(s.substr(0, first)) + toLower(s.substr(first));
}

std::string upperFirst(std::string_view s) {
    if (s.empty()) return {};
    std::size_t i = 0;
    decodeUtf8(s, i);
    return toUpper(s.substr(0, i)) + std::string(s.substr(i));
}

int compareText(std::string_view a, std::string_view b, bool ignoreCase) {
    if (!ignoreCase) return unicode::compareCanonical(a, b);
    return unicode::compareCanonical(foldCase(a), foldCase(b));
}

bool isSpaceOrNewline(char32_t c) noexcept {
    if (c < 0x80) return c == ' ' || (c >= 0x09 && c <= 0x0D);
    if (c == 0x85) return true;
    int8_t t = u_charType(static_cast<UChar32>(c));
    return t == U_SPACE_SEPARATOR || t == U_LINE_SEPARATOR || t == U_PARAGRAPH_SEPARATOR;
}

bool isNewline(char32_t c) noexcept {
    return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

bool isSpaceLike(char32_t c) noexcept {
    if (c < 0x80) return c == ' ' || c == '\t';
    return u_charType(static_cast<UChar32>(c)) == U_SPACE_SEPARATOR;
}

bool isRegexSpace(char32_t c) noexcept {
    if (c < 0x80) return c == ' ' || (c >= 0x09 && c <= 0x0D);
    int8_t t = u_charType(static_cast<UChar32>(c));
    return c == 0x85 || t == U_SPACE_SEPARATOR || t == U_LINE_SEPARATOR ||
           t == U_PARAGRAPH_SEPARATOR;
}

} // namespace jinja::text
