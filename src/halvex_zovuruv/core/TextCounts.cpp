#include "halvex_zovuruv/core/TextCounts.h"

#include <memory>
#include <unicode/brkiter.h>
#include <unicode/uchar.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

namespace halvex {

namespace {

/// The code point at `pos` and the byte after it; an ill-formed sequence
/// reads as one non-space code point.
UChar32 nextCodePoint(std::string_view text, size_t& pos) {
    UChar32 c;
    int32_t i = static_cast<int32_t>(pos);
    U8_NEXT(reinterpret_cast<const uint8_t*>(text.data()), i, static_cast<int32_t>(text.size()), c);
    pos = static_cast<size_t>(i);
    return c;
}

bool isWhiteSpace(UChar32 c) {
    return c >= 0 && u_hasBinaryProperty(c, UCHAR_WHITE_SPACE);
}

} // namespace

int64_t characterCount(std::string_view utf8) {
    if (utf8.empty()) return 0;
    UErrorCode status = U_ZERO_ERROR;
    UText* text = utext_openUTF8(nullptr, utf8.data(), static_cast<int64_t>(utf8.size()), &status);
    std::unique_ptr<icu::BreakIterator> breaks(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status) || !breaks) {
        utext_close(text);
        return static_cast<int64_t>(utf8.size());
    }
    breaks->setText(text, status);
    int64_t count = 0;
    for (int32_t b = breaks->next(); b != icu::BreakIterator::DONE; b = breaks->next())
        ++count;
    breaks.reset();
    utext_close(text);
    return count;
}

int64_t wordCount(std::string_view utf8) {
    int64_t words = 0;
    bool inWord = false;
    for (size_t pos = 0; pos < utf8.size();) {
        bool space = isWhiteSpace(nextCodePoint(utf8, pos));
        if (!space && !inWord) ++words;
        inWord = !space;
    }
    return words;
}

std::string repairedUtf8(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (size_t pos = 0; pos < bytes.size();) {
        const size_t start = pos;
        if (nextCodePoint(bytes, pos) < 0) {
            text += "\xEF\xBF\xBD";
        } else {
            text.append(bytes.substr(start, pos - start));
        }
    }
    return text;
}

std::string trimWhiteSpace(std::string_view utf8) {
    size_t begin = 0;
    for (size_t pos = 0; pos < utf8.size();) {
        if (!isWhiteSpace(nextCodePoint(utf8, pos))) break;
        begin = pos;
    }
    size_t end = begin;
    for (size_t pos = begin; pos < utf8.size();) {
        if (!isWhiteSpace(nextCodePoint(utf8, pos))) end = pos;
    }
    return std::string(utf8.substr(begin, end - begin));
}

} // namespace halvex
