#include "platform/text/CaseMapping.h"

#include "platform/text/IcuText.h"
#include "platform/text/Utf8.h"

#include <memory>
#include <unicode/ucasemap.h>

namespace platform::text {

namespace {

struct CaseMapCloser {
    void operator()(UCaseMap* map) const { ucasemap_close(map); }
};

// One case map per thread: title-casing keeps a word break iterator in it.
UCaseMap* rootCaseMap() {
    thread_local std::unique_ptr<UCaseMap, CaseMapCloser> map = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<UCaseMap, CaseMapCloser> created(ucasemap_open("", 0, &status));
        detail::checkIcu(status, "case mapping is unavailable");
        return created;
    }();
    return map.get();
}

using Mapping = int32_t (*)(UCaseMap*, char*, int32_t, const char*, int32_t, UErrorCode*);

std::string mapCase(std::string_view text, Mapping mapping) {
    const int32_t length = detail::icuLength(text);
    // Most mappings keep the length; a few characters grow (at most threefold).
    std::string out(text.size() + 16, '\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        UErrorCode status = U_ZERO_ERROR;
        const int32_t mapped = mapping(rootCaseMap(), out.data(), static_cast<int32_t>(out.size()),
                                       text.data(), length, &status);
        if (status == U_BUFFER_OVERFLOW_ERROR && attempt == 0) {
            out.assign(static_cast<std::size_t>(mapped) + 1, '\0');
            continue;
        }
        detail::checkIcu(status, "case mapping failed");
        out.resize(static_cast<std::size_t>(mapped));
        return out;
    }
    return out; // not reached: the second attempt has room
}

int32_t lower(UCaseMap* map, char* out, int32_t capacity, const char* in, int32_t length,
              UErrorCode* status) {
    return ucasemap_utf8ToLower(map, out, capacity, in, length, status);
}

int32_t upper(UCaseMap* map, char* out, int32_t capacity, const char* in, int32_t length,
              UErrorCode* status) {
    return ucasemap_utf8ToUpper(map, out, capacity, in, length, status);
}

int32_t fold(UCaseMap* map, char* out, int32_t capacity, const char* in, int32_t length,
             UErrorCode* status) {
    return ucasemap_utf8FoldCase(map, out, capacity, in, length, status);
}

std::string asciiMapped(std::string_view text, char from, char to) {
    std::string out(text);
    for (char& c : out)
        if (c >= from && c <= static_cast<char>(from + 25)) c = static_cast<char>(c - from + to);
    return out;
}

} // namespace

std::string toLower(std::string_view text) {
    if (isAscii(text)) return asciiMapped(text, 'A', 'a');
    return mapCase(text, lower);
}

std::string toUpper(std::string_view text) {
    if (isAscii(text)) return asciiMapped(text, 'a', 'A');
    return mapCase(text, upper);
}

std::string toTitle(std::string_view text) {
    return mapCase(text, ucasemap_utf8ToTitle);
}

std::string foldCase(std::string_view text) {
    if (isAscii(text)) return asciiMapped(text, 'A', 'a');
    return mapCase(text, fold);
}

} // namespace platform::text
